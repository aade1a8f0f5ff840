// The procedure of the application's only window, the main dialog.
#ifndef APP_MAIN_DIALOG_H
#define APP_MAIN_DIALOG_H

#include <windows.h>

// Turns the dialog's messages into calls on the sound module and the file
// chooser. Returns TRUE for WM_CLOSE only, FALSE for every other message.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
