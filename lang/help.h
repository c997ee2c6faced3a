// The archiver's compiled help "bundlo.chm", opened through HTML Help at its contents or at one
// topic page. The dialogs reach it through their common prologue (F1 and the Help button).
#pragma once
#include <windows.h>

// Opens the help file at html/<topic>.htm, or at its contents when topic is null. Failures are
// silent: a missing "hhctrl.ocx" or help file simply shows nothing.
void ShowHelp(const wchar_t* topic);

// The help file for the program at `program`: "bundlo.chm" beside it, or the one in the user's
// language folder while not elevated. False, with an empty path, when the program's path is
// empty or does not fit: help then opens nothing.
bool HelpFileOf(const wchar_t* program, wchar_t* path, size_t capacity);
template <size_t N> bool HelpFileOf(const wchar_t* program, wchar_t (&path)[N]) {
    return HelpFileOf(program, path, N);
}

// Frees the HTML Help library and forgets the help state, as at the start of the process.
void ReleaseHelp();

// Test seam: when set, stands in for HtmlHelpW once "hhctrl.ocx" has loaded, so that tests see
// the calls without a help file or a help window. The program never sets it.
typedef HWND(WINAPI* HtmlHelpFunction)(HWND owner, const wchar_t* file, UINT command,
                                       DWORD_PTR data);
extern HtmlHelpFunction HtmlHelpOverride;
