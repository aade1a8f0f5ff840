// The Open chooser for one audio file.
#ifndef APP_FILE_CHOOSER_H
#define APP_FILE_CHOOSER_H

#include <windows.h>

#include <string>

// Asks the user for a WAV, MP3 or OGG file in the system's Open dialog, owned
// by `owner`. Returns the chosen path (at most MAX_PATH - 1 characters), or
// an empty string when the user cancels or the dialog fails.
std::string OpenFileDialog(HWND owner);

#endif
