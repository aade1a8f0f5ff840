/* Prints where a top-level window's controls are on the screen, so that a
 * test driver outside Wine can click them like a user would.
 *
 *   control_rects "Window caption"
 *
 * Output, one line each, screen coordinates (left top right bottom):
 *   window L T R B
 *   client L T R B
 *   menu0 L T R B          (where the first menu-bar item is, when there is a menu)
 *   control ID L T R B CLASS POS TEXT
 * POS is a trackbar's position (else -1); TEXT is the control's text, read
 * with WM_GETTEXT, which works across processes.
 * Exit code 1 when no such window exists. */
#include <windows.h>
#include <stdio.h>

static BOOL CALLBACK PrintControl(HWND control, LPARAM unused)
{
    RECT rc;
    char cls[64];
    char text[300] = "";
    DWORD_PTR pos = (DWORD_PTR)-1;
    (void)unused;
    GetWindowRect(control, &rc);
    GetClassNameA(control, cls, sizeof cls);
    SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, NULL);
    if (lstrcmpiA(cls, "msctls_trackbar32") == 0)
        SendMessageTimeoutA(control, WM_USER /* TBM_GETPOS */, 0, 0, SMTO_ABORTIFHUNG, 2000, &pos);
    printf("control %d %ld %ld %ld %ld %s %ld %s\n", GetDlgCtrlID(control), rc.left, rc.top,
           rc.right, rc.bottom, cls, (long)pos, text);
    return TRUE;
}

int main(int argc, char** argv)
{
    HWND window;
    RECT rc;
    POINT origin = {0, 0};
    if (argc < 2) {
        fprintf(stderr, "usage: control_rects CAPTION\n");
        return 2;
    }
    window = FindWindowA(NULL, argv[1]);
    if (!window)
        return 1;
    GetWindowRect(window, &rc);
    printf("window %ld %ld %ld %ld\n", rc.left, rc.top, rc.right, rc.bottom);
    GetClientRect(window, &rc);
    ClientToScreen(window, &origin);
    printf("client %ld %ld %ld %ld\n", origin.x, origin.y, origin.x + rc.right, origin.y + rc.bottom);
    /* Another process's menu cannot be measured, but the menu bar is the
     * strip just above the client area, and its first item starts at its left. */
    if (GetMenu(window)) {
        int height = GetSystemMetrics(SM_CYMENU);
        printf("menu0 %ld %ld %ld %ld\n", origin.x, origin.y - height, origin.x + 2 * height,
               origin.y);
    }
    EnumChildWindows(window, PrintControl, 0);
    return 0;
}
