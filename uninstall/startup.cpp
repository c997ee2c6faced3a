#include "uninstall/startup.h"

#include <new>
#include <stdlib.h>
#include <wchar.h>
#include <ole2.h>
#include <shellapi.h>

#include "common/array.h"
#include "common/diagnostics.h"
#include "common/files.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/system.h"
#include "common/text.h"
#include "integration/registration.h"
#include "integration/shortcuts.h"
#include "lang/langfile.h"
#include "lang/localise.h"
#include "resources/resource.h"
#include "uninstall/dialogs.h"
#include "uninstall/uninstall_run.h"
#include "uninstall/user_shell.h"

bool Silent;
bool MsiMode;
bool NoExplorer;
bool UsageRequested;
LogSwitch LogChoice;
wchar_t InitSettingsText[InitSettingsCapacity];
int ExitCode;
HICON DialogIcon;

namespace {
// Machine-wide, whichever session or account runs the program: a removal giving the file types
// back while a setup takes them leaves both half done.
const wchar_t RunLockSpace[] = L"Bundlo";
const wchar_t RunLockName[] = L"SetupOrRemoval";

const DWORD RemovalEndLimit = 60000;

// The batch file's first step: "=<id>:<start>" names the removal that started it, which must have
// ended before anything of its program is deleted. Without a stamp, as before: two seconds.
void WaitForRemovalToEnd(const wchar_t* stamp) {
    ProcessStamp removal = {0, 0};
    wchar_t* end = nullptr;
    if (stamp[0] == L'=') {
        removal.Id = DWORD(wcstoul(stamp + 1, &end, 10));
        if (end != stamp + 1 && *end == L':')
            removal.Started = wcstoull(end + 1, &end, 16);
        else
            end = nullptr;
    }
    if (end == nullptr || *end != 0) {
        Sleep(2000);
        return;
    }
    // Long enough for any removal's exit; a batch must still end one day.
    if (!WaitForProcessEnd(removal, RemovalEndLimit))
        ReportFailure(L"wait for the removal to end", stamp + 1, ERROR_TIMEOUT);
}

// The uninstall batch file runs the program with /warning when it could not delete it.
void ShowWarningMessage() {
    wchar_t programPath[PathCapacity];
    GetProgramPath(programPath);
    // Room for both whole texts and the whole path: the path the user is asked to delete must
    // not come out cut, naming some other file.
    wchar_t secondLine[TextRingCapacity + PathCapacity];
    FormatLocalised(secondLine, LoadText(IDS_UNINSTALLSHOULDDELETE), programPath);
    wchar_t message[TextRingCapacity + ARRAYSIZE(secondLine)];
    FormatText(message, L"%s\n%s", LoadText(IDS_UNINSTALLCOMPLETED), secondLine);
    ShowMessageBox(nullptr, message, LoadText(IDS_UNINSTALLBDL),
                   MB_ICONINFORMATION | MB_SETFOREGROUND);
}

void RunSetupFlow() {
    // -1 means the dialog could not even be created (a language module without the template,
    // say): nothing was confirmed, so nothing that follows a confirmation may run.
    INT_PTR confirmed =
        DialogBoxParamW(DialogInstance(L"SETUPDLG"), L"SETUPDLG", nullptr, SetupDialogProc, 0);
    if (confirmed == -1) {
        ReportFailure(L"create the setup dialog", L"SETUPDLG", GetLastError());
        ExitCode = 1; // nothing could be asked, so nothing was done
    }
    if (confirmed <= 0)
        return;
    if (!MsiMode) {
        DialogBoxParamW(DialogInstance(L"DONEDLG"), L"DONEDLG", nullptr, DoneDialogProc, 0);
        if (RunsUnderWow64() && !Silent)
            ShowMessageBox(nullptr, LoadText(IDS_WARN32BIT), LoadText(IDS_UNINSTTITLE),
                           MB_ICONINFORMATION);
    }
    if (ProgramGroupPath[0] != 0 && !Silent && !MsiMode && !NoExplorer &&
        FileExists(ProgramGroupPath))
        OpenForUser(nullptr, ProgramGroupPath);
}

// A settings file that was not read whole holds a configuration the run cannot know: acting on a
// part of it could write the registry of a portable copy, and nothing is changed at all.
bool SettingsFileUsable(bool setup) {
    LoadSettingsFile();
    if (!IsSettingsFileDamaged())
        return true;
    ExitCode = 1;
    if (!Silent) {
        wchar_t message[PathCapacity + TextRingCapacity];
        FormatLocalised(message, PathCapacity + TextRingCapacity, LoadText(IDS_SETTINGSDAMAGED),
                        SettingsFilePath());
        ShowMessageBox(nullptr, message, LoadText(setup ? IDS_UNINSTTITLE : IDS_UNINSTALLBDL),
                       MB_ICONERROR | MB_SETFOREGROUND);
    }
    return false;
}

// One setup or removal of the program at a time on the machine, held until the run ends. Elevated
// runs and SYSTEM share the Administrators' lock, which a standard user can neither make first
// nor hold; an unelevated run (a portable copy) changes nothing machine-wide, and waits only for
// the runs of its own account.
class RunLock {
  public:
    // False when another run holds the lock. One that cannot be had (a diagnostic line says why)
    // must not stop the one run there is.
    bool Take() { return Lock.Take(RunLockSpace, RunLockName, IsElevated()) != MachineLock::Busy; }
    const wchar_t* Name() const { return Lock.Name(); }

  private:
    MachineLock Lock;
};

// Another setup or removal runs: this one changes nothing, and says so unless silent.
void RefuseSecondRun(bool setup, const RunLock& lock) {
    ExitCode = BusyExitCode;
    ReportFailure(L"start (another setup or removal of Bundlo is running)", lock.Name(),
                  ERROR_INSTALL_ALREADY_RUNNING);
    if (!Silent)
        ShowMessageBox(nullptr, LoadText(IDS_ANOTHERRUN),
                       LoadText(setup ? IDS_UNINSTTITLE : IDS_UNINSTALLBDL),
                       MB_ICONEXCLAMATION | MB_SETFOREGROUND);
}

// What the log's reader needs to know of the run before its steps.
void WriteLogHeader(bool elevated) {
    SYSTEMTIME now;
    GetLocalTime(&now);
#ifdef _WIN64
    const wchar_t* build = L"64-bit";
#else
    const wchar_t* build = L"32-bit";
#endif
    LogFormat(L"Bundlo Uninstall " BDL_VERSION_TEXT L", %s build, started on %04u-%02u-%02u", build,
              now.wYear, now.wMonth, now.wDay);
    // The command line whole, however long: a log must not show another run than this one.
    const wchar_t* commandLine = GetCommandLineW();
    const wchar_t label[] = L"Command line: ";
    Array<wchar_t> line(uint32_t(wcslen(label) + wcslen(commandLine) + 1));
    CopyText(line.Data, label, line.Count);
    AppendText(line.Data, commandLine, line.Count);
    LogLine(line.Data);
    wchar_t user[257];
    DWORD userLength = ARRAYSIZE(user);
    if (!GetUserNameW(user, &userLength))
        CopyText(user, L"(unknown)");
    LogFormat(L"Account: %s, %s", user, elevated ? L"elevated" : L"not elevated");
    unsigned version = WindowsVersion();
    LogFormat(L"Windows: %u.%u, %s", version >> 8, version & 0xFF,
              Is64BitWindows() ? L"64-bit" : L"32-bit");
}

// The log that /log asks for. Whether there is one never changes what the run does.
void OpenRunLog() {
    if (!LogChoice.Requested)
        return;
    if (LogChoice.Cut) {
        ReportFailure(L"open the log", L"(a name too long for a switch)",
                      ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    bool elevated = IsElevated();
    wchar_t path[PathCapacity];
    if (LogChoice.Path[0] != 0) {
        CopyText(path, LogChoice.Path);
    } else if (!DefaultLogPath(elevated, path, PathCapacity)) {
        ReportFailure(L"name the log", L"(the temporary folder)", ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    if (OpenLog(path))
        WriteLogHeader(elevated);
}

int Run(void* context) {
    HINSTANCE instance = static_cast<HINSTANCE>(context);
    SetSafeDllSearch(true);
    LoadLanguageModule(instance);
    InitLanguage(L"uninstall.lng");
    OleInitialize(nullptr);
    // Kept loaded for the run: it registers the rich-edit class, which the settings dialog of a
    // language module made for earlier versions may still use for its explanation.
    OwnedModule richEdit = LoadSystemLibrary(L"riched20.dll");

    DialogIcon = LoadIconW(ResourceInstance, L"BDLICON");
    if (!DialogIcon && ResourceInstance != OwnInstance)
        DialogIcon = LoadIconW(OwnInstance, L"BDLICON");

    bool setupRequested = false;
    bool uninstallRequested = false;
    wchar_t sfxcmd[SwitchTextCapacity];
    DWORD length = GetEnvironmentVariableW(L"sfxcmd", sfxcmd, SwitchTextCapacity);
    if (length == 0 || length >= SwitchTextCapacity)
        sfxcmd[0] = 0; // absent, or too long to have been read
    ParseSwitches(InstallerSwitches, sfxcmd, setupRequested, uninstallRequested);
    ParseSwitches(CommandLineSwitches, GetCommandLineW(), setupRequested, uninstallRequested);
    OpenRunLog();

    // After both texts: a /S anywhere keeps the summary away from an unattended run.
    if (UsageRequested && !Silent)
        ShowMessageBox(nullptr, LoadText(IDS_USAGE), LoadText(IDS_UNINSTTITLE),
                       MB_ICONINFORMATION | MB_SETFOREGROUND);
    // Taken before anything is changed, the settings import included.
    RunLock lock;
    bool flow = setupRequested || uninstallRequested;
    if (flow && !lock.Take()) {
        RefuseSecondRun(setupRequested, lock);
        flow = false;
    }
    // A vendor's settings file counts for this setup already: one that says "no integration"
    // makes a setup that registers nothing, rather than one whose registrations no later run
    // could see. Whatever was read before the import is read again.
    if (flow && setupRequested && ImportSettingsFile(L"Bundlo.ini") && !IsSettingsFileActive())
        ReleaseSettings(); // the import never replaces a file that is in use
    if (flow && SettingsFileUsable(setupRequested)) {
        LogLine(setupRequested ? L"Setup started"
                : MsiMode      ? L"Removal started (/msi)"
                               : L"Removal started");
        if (setupRequested)
            RunSetupFlow();
        if (uninstallRequested)
            RunUninstall();
        // Written now rather than at the exit, so that a failure still reaches the log.
        if (IsLogOpen())
            CloseSettingsFile();
    }

    richEdit.reset();
    OleUninitialize();
    return ExitCode;
}
} // namespace

void ParseSwitches(SwitchSource source, const wchar_t* text, bool& setupRequested,
                   bool& uninstallRequested) {
    const bool fromEnvironment = source == InstallerSwitches;
    unsigned switches = 0;
    wchar_t token[SwitchTextCapacity];
    for (const wchar_t* position = text;
         (position = NextToken(position, token, SwitchTextCapacity)) != nullptr;) {
        if (token[0] != L'/' && token[0] != L'-')
            continue;
        // /S, /S1, /s- are silent; /Sx is an unknown switch.
        if (AsciiUpper(token[1]) == L'S' && !IsAsciiLetter(token[2])) {
            Silent = true;
            continue;
        }
        const wchar_t* name = token + 1;
        // Also from the installer, which passes its own on. The log selects no flow: /S /log=...
        // is still the removal.
        if (CompareNoCase(name, L"log") == 0 || CompareNoCasePrefix(name, L"log=", 4) == 0) {
            LogChoice.Requested = true;
            LogChoice.Cut = wcslen(token) >= SwitchTextCapacity - 1;
            CopyText(LogChoice.Path, LogChoice.Cut || name[3] == 0 ? L"" : name + 4);
            continue;
        }
        // Exactly /msi: an installer package's removal. Its longer forms keep their old meaning
        // below, so that a mistyped switch still removes nothing.
        if (!fromEnvironment && CompareNoCase(name, L"msi") == 0) {
            MsiMode = true;
            continue;
        }
        ++switches;
        if (fromEnvironment)
            continue; // the installer's other switches are not ours
        // Only the listed number of characters is compared, so /setupXYZ is /setup and /noexit
        // is /noexplorer.
        if (CompareNoCasePrefix(name, L"setup", 5) == 0)
            setupRequested = true;
        else if (CompareNoCasePrefix(name, L"msi", 3) == 0)
            MsiMode = true;
        else if (CompareNoCasePrefix(name, L"init", 4) == 0)
            CopyText(InitSettingsText, name + 4);
        else if (CompareNoCasePrefix(name, L"wait", 4) == 0)
            WaitForRemovalToEnd(name + 4);
        else if (CompareNoCasePrefix(name, L"noexplorer", 4) == 0)
            NoExplorer = true;
        else if (CompareNoCasePrefix(name, L"warning", 7) == 0)
            ShowWarningMessage();
        else if (name[0] == L'?')
            UsageRequested = true;
    }
    uninstallRequested = !fromEnvironment && switches == 0;
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
    if (Language.RightToLeft)
        flags |= MB_RTLREADING | MB_RIGHT;
    return MessageBoxW(owner, text, caption, flags);
}

int RunCatchingMemoryExit(int (*body)(void* context), void* context) {
    try {
        return body(context);
    } catch (BDL_EXIT) {
        return MemoryExitCode;
    } catch (const std::bad_alloc&) {
        return MemoryExitCode;
    }
}

int RunProgram(HINSTANCE instance) {
    PlugInSettingsStore();
    int code = RunCatchingMemoryExit(Run, instance);
    LogFormat(L"Exit code: %d", code);
    CloseLog();
    return code;
}
