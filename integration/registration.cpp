#include "integration/registration.h"

#include <windows.h>

#include "common/files.h"
#include "common/paths.h"
#include "common/registry.h"
#include "common/text.h"
#include "common/settings.h"
#include "common/system.h"
#include "integration/listfile.h"
#include "integration/record.h"
#include "lang/localise.h"
#include "resources/resource.h"

namespace {
// Far above any settings file the archiver writes; a larger one is no settings file.
const uint32_t SettingsImportLimit = 4 * 1024 * 1024;
const int VersionMajor = BDL_VERSION_MAJOR;
const int VersionMinor = BDL_VERSION_MINOR;
const int VersionBuild = 0;

// yyyymmdd, as Windows shows the install date.
bool IsInstallDate(const wchar_t* text) {
    size_t length = 0;
    for (; text[length] != 0; ++length)
        if (!IsDigit(text[length]))
            return false;
    return length == 8;
}

// The values that Settings > Apps and the deployment tools read besides the required ones.
void WriteDeploymentValues(const wchar_t* program, const wchar_t* folder) {
    wchar_t text[PathCapacity + 8];
    // What a silent removal runs (winget --silent, the uninstall commands of the tools).
    if (FormatText(text, L"\"%s\" /S", program) >= 0)
        SetString(HKEY_LOCAL_MACHINE, UninstallKey, L"QuietUninstallString", text);
    uint64_t bytes = 0;
    if (ListedFilesSize(folder, &bytes)) {
        uint64_t kib = (bytes + 1023) / 1024;
        SetDword(HKEY_LOCAL_MACHINE, UninstallKey, L"EstimatedSize",
                 kib > 0xFFFFFFFFu ? 0xFFFFFFFFu : DWORD(kib));
    }
    // The date of the first setup: a later one (a repair, a changed choice) keeps it.
    GetString(HKEY_LOCAL_MACHINE, UninstallKey, L"InstallDate", text, L"");
    if (!IsInstallDate(text)) {
        SYSTEMTIME today;
        GetLocalTime(&today);
        FormatText(text, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
        SetString(HKEY_LOCAL_MACHINE, UninstallKey, L"InstallDate", text);
    }
    // The built-in address: a translation's would send every user of the machine elsewhere.
    SetString(HKEY_LOCAL_MACHINE, UninstallKey, L"URLInfoAbout", L"" BDL_HOME_PAGE);
}
// Whether a command, the program's path first (quoted or up to the first blank), runs this copy's
// program: the same file, or, once it is gone, a file of the same name in this copy's folder.
bool RunsThisCopy(const wchar_t* command) {
    wchar_t named[PathCapacity];
    wchar_t program[PathCapacity];
    wchar_t folder[PathCapacity];
    GetProgramPath(program);
    CopyText(folder, program);
    CutNamePart(folder);
    // The command was read whole into a buffer of the same size, so its first token fits.
    if (program[0] == 0 || NextToken(command, named, PathCapacity) == nullptr)
        return false;
    return SameEntry(named, program) ||
           (LiesIn(named, folder) && CompareNoCase(NamePart(named), NamePart(program)) == 0);
}

// Whether the uninstall entry of that view runs this copy's program, silently or not. A command
// that cannot be read whole names nothing.
bool EntryRunsThisCopy(const RegistryRoot& machine) {
    static const wchar_t* const commands[] = {L"UninstallString", L"QuietUninstallString"};
    for (const wchar_t* name : commands) {
        wchar_t command[PathCapacity];
        ReadResult read = ReadDone;
        GetString(machine, UninstallKey, name, command, L"", &read);
        if (read == ReadDone && RunsThisCopy(command))
            return true;
    }
    return false;
}
} // namespace

bool RegisterAppPaths() {
    wchar_t archiver[PathCapacity];
    // Without a path for the archiver there is nothing to register.
    if (!GetProgramFile(L"Bundlo.exe", archiver))
        return true;
    wchar_t folder[PathCapacity];
    CopyText(folder, archiver);
    CutNamePart(folder);
    // The shell of either bitness finds the archiver by its name, each in its own view.
    REGSAM views[2];
    size_t viewCount = AllProgramRegistryViews(views);
    for (size_t i = 0; i < viewCount; i++) {
        const RegistryRoot machine = InView(HKEY_LOCAL_MACHINE, views[i]);
        if (SetString(machine, AppPathsKey, L"", archiver) == ERROR_ACCESS_DENIED && i == 0)
            return false;
        SetString(machine, AppPathsKey, L"Path", folder);
    }
    SetString(HKEY_LOCAL_MACHINE, MachineProductKey, L"exe32", archiver);
    return true;
}

bool RemoveAppPaths(Reach reach) {
    // The setup wrote App Paths into every view, for programs of either bitness.
    REGSAM views[2];
    size_t viewCount = AllProgramRegistryViews(views);
    bool removed = true;
    for (size_t i = 0; i < viewCount; i++)
        if (DeleteEmptyKey(InView(HKEY_LOCAL_MACHINE, views[i], reach), AppPathsKey) == KeyRefused)
            removed = false;
    return removed;
}

bool RemoveUninstallEntries(Reach reach) {
    wchar_t folder[PathCapacity];
    GetProgramPath(folder);
    CutNamePart(folder);
    REGSAM views[2];
    size_t viewCount = AllProgramRegistryViews(views);
    bool removed = true;
    for (size_t i = 0; i < viewCount; i++) {
        const RegistryRoot machine = InView(HKEY_LOCAL_MACHINE, views[i], reach);
        // The other build's entry goes when it is this installation's: the vendor may have
        // switched builds between the setup and the removal. One of another folder is another
        // installation's.
        wchar_t location[PathCapacity];
        ReadResult read = ReadDone;
        GetString(machine, UninstallKey, L"InstallLocation", location, L"", &read);
        if ((views[i] == ProgramRegistryView(sizeof(void*) == 8) ||
             (read == ReadDone && IsFullPath(location) && folder[0] != 0 &&
              SameEntry(location, folder)) ||
             EntryRunsThisCopy(machine)) &&
            DeleteEmptyKey(machine, UninstallKey) == KeyRefused)
            removed = false;
    }
    return removed;
}

bool RemoveEntriesOfThisCopy(Reach reach) {
    wchar_t folder[PathCapacity];
    GetProgramPath(folder);
    CutNamePart(folder);
    if (folder[0] == 0)
        return true;
    REGSAM views[2];
    size_t viewCount = AllProgramRegistryViews(views);
    bool removed = true;
    for (size_t i = 0; i < viewCount; i++) {
        const RegistryRoot machine = InView(HKEY_LOCAL_MACHINE, views[i], reach);
        if (EntryRunsThisCopy(machine) && DeleteEmptyKey(machine, UninstallKey) == KeyRefused)
            removed = false;
        // The archiver itself is deleted by now: its folder tells whose it was.
        wchar_t archiver[PathCapacity];
        ReadResult read = ReadDone;
        GetString(machine, AppPathsKey, L"", archiver, L"", &read);
        if (read == ReadDone && LiesIn(archiver, folder) &&
            DeleteEmptyKey(machine, AppPathsKey) == KeyRefused)
            removed = false;
        GetString(machine, MachineProductKey, L"exe32", archiver, L"", &read);
        if (read == ReadDone && LiesIn(archiver, folder)) {
            DeleteValue(machine, MachineProductKey, L"exe32");
            // Often all that the other build's product key held.
            if (FindKeyContents(machine, MachineProductKey) == KeyEmpty)
                DeleteEmptyKey(machine, MachineProductKey);
        }
    }
    return removed;
}

void AppendVersionText(wchar_t* text, size_t capacity) {
    wchar_t piece[100];
    if (text[0] != 0)
        AppendText(text, L" ", capacity);
    FormatText(piece, L"%d.%02d", VersionMajor, VersionMinor);
    AppendText(text, piece, capacity);
    // The entry names the build that is installed; a 64-bit archiver is not "32-bit".
#ifdef _WIN64
    FormatText(piece, L" (%s)", LoadText(IDS_64BIT));
#else
    FormatText(piece, L" (%s)", LoadText(IDS_32BIT));
#endif
    AppendText(text, piece, capacity);
}

void RegisterUninstallEntry() {
    wchar_t text[PathCapacity];
    CopyText(text, L"Bundlo");
    AppendVersionText(text, PathCapacity);
    SetString(HKEY_LOCAL_MACHINE, UninstallKey, L"DisplayName", text);
    FormatText(text, L"%d.%02d.%d", VersionMajor, VersionMinor, VersionBuild);
    SetString(HKEY_LOCAL_MACHINE, UninstallKey, L"DisplayVersion", text);
    SetDword(HKEY_LOCAL_MACHINE, UninstallKey, L"VersionMajor", VersionMajor);
    SetDword(HKEY_LOCAL_MACHINE, UninstallKey, L"VersionMinor", VersionMinor);
    wchar_t program[PathCapacity];
    GetProgramPath(program);
    // Quoted: an unquoted path with blanks ("C:\Program Files\...") could start another
    // program named after its first word.
    FormatText(text, L"\"%s\"", program);
    SetString(HKEY_LOCAL_MACHINE, UninstallKey, L"UninstallString", text);

    GetString(HKEY_LOCAL_MACHINE, UninstallKey, L"DisplayIcon", text, L"");
    if ((text[0] == 0 || !FileExists(text)) && GetProgramFile(L"Bundlo.exe", text))
        SetString(HKEY_LOCAL_MACHINE, UninstallKey, L"DisplayIcon", text);
    CopyText(text, program);
    CutNamePart(text);
    AddTrailingBackslash(text);
    SetString(HKEY_LOCAL_MACHINE, UninstallKey, L"InstallLocation", text);
    SetDword(HKEY_LOCAL_MACHINE, UninstallKey, L"NoModify", 1);
    SetDword(HKEY_LOCAL_MACHINE, UninstallKey, L"NoRepair", 1);
    SetDword(HKEY_LOCAL_MACHINE, UninstallKey, L"Language", 0);
    SetString(HKEY_LOCAL_MACHINE, UninstallKey, L"Publisher", L"Veskaro GmbH");
    WriteDeploymentValues(program, text);
}

bool ImportSettingsFile(const wchar_t* name) {
    // The user's settings are never replaced, wherever the settings store would find them.
    wchar_t existing[PathCapacity];
    FindSettingsFile(existing);
    if (existing[0] != 0 && FileExists(existing))
        return true;
    wchar_t installer[PathCapacity];
    DWORD length = GetEnvironmentVariableW(L"sfxname", installer, PathCapacity);
    if (length == 0 || length >= PathCapacity || installer[0] == 0)
        return true;
    if (!ReplaceNamePart(installer, name) || !FileExists(installer))
        return false;
    // Beside the program, where the settings store looks for it, whatever folder the installer
    // left current.
    wchar_t destination[PathCapacity];
    if (!GetProgramFile(name, destination))
        return true;
    CopyPlainFile(installer, destination, SettingsImportLimit);
    return true;
}
