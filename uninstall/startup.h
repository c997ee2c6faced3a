// Start-up, the switches, and the process-wide flags that the flows read.
#pragma once
#include <windows.h>

// Set only while the switches are parsed, never cleared.
extern bool Silent;         // /S: no questions, no notices
extern bool MsiMode;        // /msi: an installer package owns the uninstall entry and the files
extern bool NoExplorer;     // /noexplorer: do not open the program group after setup
extern bool UsageRequested; // /?: the command-line summary, shown unless silent

const size_t SwitchTextCapacity = 1024; // a switch, as the command line's splitter keeps it

// /log and /log=<path>, from the command line or "sfxcmd": the run's log (common/log.h). An
// empty path asks for a new file in the temporary folder. A switch the splitter may have cut
// (Cut) names no file: a cut path would name another one.
struct LogSwitch {
    bool Requested;
    bool Cut;
    wchar_t Path[SwitchTextCapacity];
};
extern LogSwitch LogChoice;

const size_t InitSettingsCapacity = 40;
extern wchar_t InitSettingsText[InitSettingsCapacity]; // /init text, laid over the stored choices

// 0 done; 1 cancelled or not done (the setup dialog's Cancel, a damaged settings file, a refused
// machine-wide write, a missing list); RestartExitCode or BusyExitCode.
extern int ExitCode;
extern HICON DialogIcon;

// Exit code when memory ran out: the process ends without a message, but not with success.
const int MemoryExitCode = ERROR_NOT_ENOUGH_MEMORY;
// The codes the distribution tools read as "done, a restart finishes it" (a removal that left
// anything for the next restart) and "another installation is running, try again later" (a
// setup or removal of this program already runs on the machine; this one changed nothing).
const int RestartExitCode = ERROR_SUCCESS_REBOOT_REQUIRED; // 3010
const int BusyExitCode = ERROR_INSTALL_ALREADY_RUNNING;    // 1618

// Where a switch text comes from: the installer's "sfxcmd" variable, where only /S and /log
// count, or the program's own command line.
enum SwitchSource { InstallerSwitches, CommandLineSwitches };
// Reads one switch text. uninstallRequested is always written: true only for a command line
// without switches other than /S, /log and exactly /msi (an installer package's removal).
// Switches and keywords are compared ordinally, whatever the user's language.
void ParseSwitches(SwitchSource source, const wchar_t* text, bool& setupRequested,
                   bool& uninstallRequested);

// The one wrapper for every message box, so that right-to-left languages read correctly.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags);

// The whole run: prepare, parse, run at most one flow, tear down; the log's last line is the
// exit code, which it returns.
int RunProgram(HINSTANCE instance);

// Runs body and turns the out-of-memory exit into MemoryExitCode, so the process ends in an
// orderly way (static objects torn down) instead of through terminate().
int RunCatchingMemoryExit(int (*body)(void* context), void* context);
