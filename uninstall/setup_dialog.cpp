#include "uninstall/dialogs.h"

// The integration settings dialog comes with the setup dialogs; until then it handles nothing.
INT_PTR CALLBACK SetupDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}
