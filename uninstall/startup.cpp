#include "uninstall/startup.h"

#include <new>
#include <ole2.h>
#include <shellapi.h>

#include "common/array.h"
#include "common/diagnostics.h"
#include "common/files.h"
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
wchar_t InitSettingsText[InitSettingsCapacity];
int ExitCode;
HICON DialogIcon;
HFONT BoldFont;

namespace {
const size_t SwitchTextCapacity = 1024;

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

int Run(void* context) {
    HINSTANCE instance = static_cast<HINSTANCE>(context);
    SetSafeDllSearch(true);
    LoadLanguageModule(instance);
    InitLanguage(L"uninstall.lng");
    OleInitialize(nullptr);
    // Kept loaded for the run: it registers the rich-edit class of the settings dialog.
    HMODULE richEdit = LoadSystemLibrary(L"riched20.dll");

    DialogIcon = LoadIconW(ResourceInstance, L"BDLICON");
    if (!DialogIcon && ResourceInstance != OwnInstance)
        DialogIcon = LoadIconW(OwnInstance, L"BDLICON");
    BoldFont = CreateFontW(ScaleForDpi(-12), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0,
                           L"MS Shell Dlg");

    bool setupRequested = false;
    bool uninstallRequested = false;
    wchar_t sfxcmd[SwitchTextCapacity];
    DWORD length = GetEnvironmentVariableW(L"sfxcmd", sfxcmd, SwitchTextCapacity);
    if (length == 0 || length >= SwitchTextCapacity)
        sfxcmd[0] = 0; // absent, or too long to have been read
    ParseSwitches(true, sfxcmd, setupRequested, uninstallRequested);
    ParseSwitches(false, GetCommandLineW(), setupRequested, uninstallRequested);

    // After both texts: a /S anywhere keeps the summary away from an unattended run.
    if (UsageRequested && !Silent)
        ShowMessageBox(nullptr, LoadText(IDS_USAGE), LoadText(IDS_UNINSTTITLE),
                       MB_ICONINFORMATION | MB_SETFOREGROUND);
    // A vendor's settings file counts for this setup already: one that says "no integration"
    // makes a setup that registers nothing, rather than one whose registrations no later run
    // could see. Whatever was read before the import is read again.
    if (setupRequested && ImportSettingsFile(L"Bundlo.ini") && !IsSettingsFileActive())
        ReleaseSettings(); // the import never replaces a file that is in use
    if ((setupRequested || uninstallRequested) && SettingsFileUsable(setupRequested)) {
        if (setupRequested)
            RunSetupFlow();
        if (uninstallRequested)
            RunUninstall();
    }

    if (richEdit)
        FreeLibrary(richEdit);
    OleUninitialize();
    if (BoldFont)
        DeleteObject(BoldFont);
    return ExitCode;
}
} // namespace

void ParseSwitches(bool fromEnvironment, const wchar_t* text, bool& setupRequested,
                   bool& uninstallRequested) {
    unsigned switches = 0;
    wchar_t token[SwitchTextCapacity];
    for (const wchar_t* position = text;
         (position = NextToken(position, token, SwitchTextCapacity)) != nullptr;) {
        if (token[0] != L'/' && token[0] != L'-')
            continue;
        // /S, /S1, /s- are silent; /Sx is an unknown switch.
        if (UpperChar(token[1]) == L'S' && !IsAsciiLetter(token[2])) {
            Silent = true;
            continue;
        }
        ++switches;
        if (fromEnvironment)
            continue; // the installer's other switches are not ours
        const wchar_t* name = token + 1;
        // Only the listed number of characters is compared, so /setupXYZ is /setup and /noexit
        // is /noexplorer.
        if (CompareNoCasePrefix(name, L"setup", 5) == 0)
            setupRequested = true;
        else if (CompareNoCasePrefix(name, L"msi", 3) == 0)
            MsiMode = true;
        else if (CompareNoCasePrefix(name, L"init", 4) == 0)
            CopyText(InitSettingsText, name + 4);
        else if (CompareNoCasePrefix(name, L"wait", 4) == 0)
            Sleep(2000); // lets the uninstall run that started the batch file end first
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
    return RunCatchingMemoryExit(Run, instance);
}
