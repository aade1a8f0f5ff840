// State of the application shared between its parts.
#ifndef APP_APP_H
#define APP_APP_H

#include <windows.h>

// The executable's module handle: set once by the entry, read by the file
// chooser.
extern HINSTANCE appInstance;

#endif
