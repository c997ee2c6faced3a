// Start-up, the switches, and the process-wide flags that the flows read.
#pragma once
#include <windows.h>

// Set only while the switches are parsed, never cleared.
extern bool Silent;         // /S: no questions, no notices
extern bool MsiMode;        // /msi: an installer package owns the uninstall entry and the files
extern bool NoExplorer;     // /noexplorer: do not open the program group after setup
extern bool UsageRequested; // /?: the command-line summary, shown unless silent

const size_t InitSettingsCapacity = 40;
extern wchar_t InitSettingsText[InitSettingsCapacity]; // /init text, laid over the stored choices

// 1 when the setup dialog was cancelled or a damaged settings file stopped the run,
// RestartExitCode when a removal left the program for the restart, else 0
extern int ExitCode;
// Done, but a restart finishes it: the code deployment tools read as "restart needed".
const int RestartExitCode = ERROR_SUCCESS_REBOOT_REQUIRED;
extern HICON DialogIcon;
extern HFONT BoldFont;

// Exit code when memory ran out: the process ends without a message, but not with success.
const int MemoryExitCode = ERROR_NOT_ENOUGH_MEMORY;

// Reads one switch text: the "sfxcmd" variable (fromEnvironment, where only /S counts) or the
// command line. uninstallRequested is always written: true only for a command line without
// switches other than /S.
void ParseSwitches(bool fromEnvironment, const wchar_t* text, bool& setupRequested,
                   bool& uninstallRequested);

// The one wrapper for every message box, so that right-to-left languages read correctly.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags);

// The whole run: prepare, parse, run at most one flow, tear down. Returns the exit code.
int RunProgram(HINSTANCE instance);

// Runs body and turns the out-of-memory exit into MemoryExitCode, so the process ends in an
// orderly way (static objects torn down) instead of through terminate().
int RunCatchingMemoryExit(int (*body)(void* context), void* context);
