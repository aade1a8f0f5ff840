// The main dialog: a menu command to open a file, Play, Pause and Stop
// buttons, and a volume trackbar with a box showing its number.
#include "main_dialog.h"

#include <commctrl.h>
#include <string.h>

#include <string>

#include "file_chooser.h"
#include "resource.h"
#include "sound.h"

// The volume applied when the dialog starts, in percent.
static const int kDefaultVolume = 60;

// The path the chooser last returned; empty at start and after a cancel.
// Play, Pause and Stop act only while it is not empty.
static char selectedFileName[MAX_PATH];
// The volume last applied, in percent: the trackbar's scale, 0..100.
static int volume;

// Shows `value` in the volume number box.
static void ShowVolume(HWND dialog, int value)
{
    SetDlgItemInt(dialog, IDC_VOLUME_VALUE, (UINT)value, FALSE);
}

// Brings the audio library up and applies the starting volume everywhere.
static void OnInitDialog(HWND dialog)
{
    volume = kDefaultVolume;
    Sound_Init();
    Sound_SetVolume(volume);
    // The trackbar keeps its default range 0..100, the volume's own scale.
    SendDlgItemMessageA(dialog, IDC_VOLUME, TBM_SETPOS, TRUE, volume);
    ShowVolume(dialog, volume);
}

// Asks for a file, shows its name, stops whatever plays and loads the file.
// A cancel clears the name and leaves no stream.
static void OnOpenFile(HWND dialog)
{
    const std::string chosen = OpenFileDialog(dialog);
    strncpy(selectedFileName, chosen.c_str(), MAX_PATH - 1);
    selectedFileName[MAX_PATH - 1] = '\0';
    // Shown even when the file will not load.
    SetDlgItemTextA(dialog, IDC_FILE_NAME, selectedFileName);
    Sound_Stop();
    Sound_LoadFile(selectedFileName);
}

// Whether the user has a file selected; the buttons look at nothing else.
static bool HasSelectedFile()
{
    return selectedFileName[0] != '\0';
}

// Runs the menu's Open command or one of the three buttons; every other
// command, IDOK and IDCANCEL (Enter and Escape) included, is ignored.
static void OnCommand(HWND dialog, WPARAM wParam)
{
    // The whole wParam: a notification code in the high word means the
    // command is not the menu's.
    if (wParam == IDM_OPEN_FILE) {
        OnOpenFile(dialog);
        return;
    }
    switch (LOWORD(wParam)) {
    case IDC_PLAY:
        if (HasSelectedFile()) {
            Sound_Play();
        } else {
            // Open now, through the dialog itself; the user plays afterwards.
            SendMessageA(dialog, WM_COMMAND, IDM_OPEN_FILE, 0);
        }
        break;
    case IDC_PAUSE:
        if (HasSelectedFile())
            Sound_Pause();
        break;
    case IDC_STOP:
        if (HasSelectedFile())
            Sound_Stop();
        break;
    }
}

// Applies the volume trackbar's position. Either trackbar triggers it, and
// the balance trackbar so just re-applies the current volume.
static void OnHScroll(HWND dialog)
{
    volume = (int)SendDlgItemMessageA(dialog, IDC_VOLUME, TBM_GETPOS, 0, 0);
    Sound_SetVolume(volume);
    ShowVolume(dialog, volume);
}

// Takes the audio library down and ends the dialog.
static void OnClose(HWND dialog)
{
    Sound_Free();
    EndDialog(dialog, 0);
}

// Sends each message the dialog acts on to its handler.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        // FALSE: the dialog manager sets no initial focus.
        OnInitDialog(dialog);
        return FALSE;
    case WM_CLOSE:
        OnClose(dialog);
        return TRUE;
    case WM_COMMAND:
        OnCommand(dialog, wParam);
        return FALSE;
    case WM_HSCROLL:
        OnHScroll(dialog);
        return FALSE;
    }
    return FALSE;
}
