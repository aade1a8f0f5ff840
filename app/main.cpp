// The program's entry: shows the main dialog modally and exits with code 0.
#include <windows.h>

#include <commctrl.h>

#include "app.h"
#include "main_dialog.h"
#include "resource.h"

HINSTANCE appInstance;

// Runs the main dialog until it ends, then ends the process. The command
// line is not read and every result is ignored: the exit code is always 0.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    appInstance = GetModuleHandleA(NULL);
    // The template holds trackbars, whose class must exist before the dialog.
    InitCommonControls();
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainDialogProc, 0);
    ExitProcess(0);
}
