// The Open chooser, set up afresh on every call: nothing carries over from
// one choice to the next.
#include "file_chooser.h"

#include <commdlg.h>
#include <stddef.h>

#include "app.h"

// One filter pair, display text then pattern; the literal's own terminator
// closes the list with the double zero the dialog expects.
static const char kMusicFilter[] = "Music Files (*.wav, *.mp3,*.ogg)\0*.wav;*.mp3;*.ogg\0";
static const char kStartFolder[] = "C:\\";
static const char kTitle[] = "Open File";

#ifndef _WIN64
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76,
              "the older, smaller record is 76 bytes on 32-bit Windows");
#endif

// Runs the system's Open dialog for one music file; empty on cancel.
std::string OpenFileDialog(HWND owner)
{
    char fileName[MAX_PATH] = {};
    OPENFILENAMEA dialog = {};
    // The older record size, without the extended fields.
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = owner;
    dialog.hInstance = appInstance;
    dialog.lpstrFilter = kMusicFilter;
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrInitialDir = kStartFolder;
    dialog.lpstrTitle = kTitle;
    // Without OFN_FILEMUSTEXIST: a typed name of a file that does not exist
    // is accepted as long as its folder does.
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;

    if (!GetOpenFileNameA(&dialog))
        return std::string();
    // Stop at the first zero byte, whatever the dialog left beyond it.
    fileName[MAX_PATH - 1] = '\0';
    return std::string(fileName);
}
