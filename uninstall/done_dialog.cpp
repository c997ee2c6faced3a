#include "uninstall/dialogs.h"

// The completion dialog comes with the setup dialogs; until then it handles nothing.
INT_PTR CALLBACK DoneDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}
