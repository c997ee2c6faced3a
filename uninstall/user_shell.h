// Opening documents, addresses and folders for the user at the end of the setup.
#pragma once
#include <windows.h>

// Opens a document (the licence), an address (the home page) or a folder (the program group) as
// the user would. What opens a file type is the user's to choose (per-user classes), which an
// elevated process must not obey: an elevated run asks the desktop's shell, which runs
// unelevated in the user's session, to open it; where there is no such shell (no Explorer, as in
// a service's session or under Wine) it opens nothing and shows the path or address instead. An
// unelevated run opens it itself. An empty target opens nothing.
void OpenForUser(HWND owner, const wchar_t* target);

// Test seams, which the program never sets: one stands in for ShellExecuteW, the process's own
// opening; the other for the desktop shell's (true when it took the target).
typedef HINSTANCE(WINAPI* ShellExecuteFunction)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
extern ShellExecuteFunction ShellExecuteOverride;
extern bool (*DesktopShellOverride)(const wchar_t* target);
