// The setup's dialogs. Each runs modally from the resource instance with no owner.
#pragma once
#include <windows.h>

// "SETUPDLG": ends with 1 when the choices were confirmed and applied, 0 when cancelled.
INT_PTR CALLBACK SetupDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// "DONEDLG": the completion dialog.
INT_PTR CALLBACK DoneDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
