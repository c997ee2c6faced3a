// The setup's dialogs. Each runs modally from the resource instance; the setup and completion
// dialogs have no owner.
#pragma once
#include <windows.h>

// "SETUPDLG": ends with 1 when the choices were confirmed and applied, 0 when cancelled (the exit
// code then becomes 1). With /S it confirms itself as soon as it opens.
INT_PTR CALLBACK SetupDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// "SETUPCONTEXTITEMS": the items of the shell extension's menus and the masks it treats as
// archives, stored when confirmed. Its creation parameter is non-zero when the menu is cascaded.
INT_PTR CALLBACK ContextItemsDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Runs it owned by `owner`; 1 after OK, 0 after Cancel.
INT_PTR RunContextItemsDialog(HWND owner, bool cascaded);

// "DONEDLG": the completion dialog, naming the installation folder and offering help, licence
// and home page. Always ends with 1; with /S it closes as soon as it opens.
INT_PTR CALLBACK DoneDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The address the completion dialog's home-page button opens: the translated one when it is a
// web address, else the program's own. A translation must not turn the button into a way to
// start a program or open a local file.
void HomePageAddress(wchar_t* address, size_t capacity);
