#include "uninstall/uninstall_run.h"

#include <windows.h>
#include <string.h>
#include <wchar.h>

#include <initializer_list>

#include "common/diagnostics.h"
#include "common/file.h"
#include "common/files.h"
#include "common/log.h"
#include "common/paths.h"
#include "common/settings.h"
#include "common/system.h"
#include "common/text.h"
#include "integration/listfile.h"
#include "lang/localise.h"
#include "resources/resource.h"
#include "uninstall/departure.h"
#include "uninstall/listed_files.h"
#include "uninstall/removal.h"
#include "uninstall/startup.h"

bool ProgramFolderOf(const wchar_t* programPath, wchar_t* folder, size_t capacity) {
    // Cut, the path would name some other folder.
    if (!CopyPath(programPath, folder, capacity))
        return false;
    wchar_t* last = wcsrchr(folder, L'\\');
    if (!last)
        return false;
    if (last > folder && last[-1] == L':')
        last[1] = 0; // the root keeps its backslash: "C:" alone is a drive's current folder
    else
        *last = 0;
    return true;
}

namespace {

const size_t NoticeCapacity = TextRingCapacity; // as much as any text LoadText gives

// Finds the program's folder and makes it the current one. False when the program's path names
// no folder.
bool EnterInstallation(Installation& at) {
    GetProgramPath(at.ProgramPath);
    if (!ProgramFolderOf(at.ProgramPath, at.Folder, PathCapacity))
        return false;
    wchar_t full[PathCapacity];
    DWORD length = GetFullPathNameW(at.Folder, PathCapacity, full, nullptr);
    if (length > 0 && length < PathCapacity)
        CopyText(at.Folder, full);
    SetCurrentDirectoryW(at.Folder);
    CopyText(at.FolderName, at.Folder);
    AddTrailingBackslash(at.Folder);
    return true;
}

// Asks first unless silent.
bool Confirmed() {
    return Silent ||
           ShowMessageBox(nullptr, LoadText(IDS_CONTINUEUNINSTALL), LoadText(IDS_UNINSTALLBDL),
                          MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES;
}

// Opens the list, or says that it cannot be opened.
bool OpenList(const wchar_t* listPath, File& list) {
    if (list.Open(listPath, File::OpenShareWrite))
        return true;
    ReportFailure(L"open the uninstall list", listPath, GetLastError());
    if (!Silent) {
        // The whole translated text and the name: a message is never shown cut.
        wchar_t message[TextRingCapacity + ARRAYSIZE(ListName)];
        FormatLocalised(message, LoadText(IDS_CANNOTOPENLIST), ListName);
        ShowMessageBox(nullptr, message, LoadText(IDS_UNINSTALLBDL),
                       MB_ICONERROR | MB_SETFOREGROUND);
    }
    return false;
}

// Made by Windows' help beside the help file while it is used, so no list names them.
void RemoveHelpLeftovers(const wchar_t* folder) {
    for (const wchar_t* helpFile : {L"bundlo.gid", L"bundlo.fts"}) {
        wchar_t path[PathCapacity];
        if (!JoinPath(folder, helpFile, path))
            continue;
        ReparseCheck links = CheckReparsePoints(folder, path);
        if (links == PassesReparsePoint)
            continue;
        if (links == NoReparsePoint)
            ClearAttributes(path); // a link's would be its target's
        RemoveFile(path);
    }
}

} // namespace

void RunUninstall() {
    Installation at;
    if (!EnterInstallation(at))
        return;
    if (!Confirmed()) {
        ExitCode = 1; // cancelled, as the setup's Cancel is
        LogLine(L"Removal cancelled at its question: nothing was changed");
        return;
    }
    // A list path that does not fit stays empty, which names no list: it cannot be opened.
    wchar_t listPath[PathCapacity];
    JoinPath(at.Folder, ListName, listPath);
    File list;
    // An installer package's removal deletes no file: the package removes them, the list among
    // them.
    // Without its list only a removal cut short between the list and the program departs: the
    // program alone in its folder.
    const bool listed = !MsiMode && !OnlyProgramLeft(at, listPath);
    if (listed && !OpenList(listPath, list)) {
        // Nothing is removed without the list: the registrations would be gone and the files
        // left behind. A distribution tool must not count it as done.
        ExitCode = 1;
        return;
    }
    // Fetched now: the language module, one of their sources, is released below.
    wchar_t restartText[NoticeCapacity];
    wchar_t restartCaption[NoticeCapacity];
    LoadTextInto(IDS_REBOOTREQUIRED, restartText);
    LoadTextInto(IDS_UNINSTALLBDL, restartCaption);

    // The order is what lets a removal cut short anywhere be finished by the same command run
    // again: the registrations first, but for what names the installation; then the files; then
    // the record, App Paths and the uninstall entry; then, once a batch file waits for this
    // process, the list, and last the program moves out of its folder for the batch to delete.
    const InstallationRecord installation = FindInstallationRecord();
    if (!RemoveRegistrations(installation)) {
        // A file type still names the archiver: its program, its files and everything a later
        // removal needs stay, and a distribution tool must not count this one as done.
        ExitCode = 1;
        return;
    }
    // Its file is on the list.
    UnloadLanguageModule();
    if (MsiMode) {
        if (!RemoveInstallationEntries(installation))
            ExitCode = 1;
        LogLine(L"Removal step: the files stay with the installer package");
        return;
    }
    // The settings file may be on the list: written now or never, so that the exit does not
    // bring back a file the passes deleted (and with it the program folder).
    CloseSettingsFile();

    RemoveHelpLeftovers(at.Folder);
    // A save cut short leaves its temporary file, which no list names and which would keep the
    // folder from going.
    RemoveSettingsLeftovers(at.FolderName);
    ListRemoval removal = {0, false, 0, 0, 0, 0};
    if (listed)
        removal = RemoveListedEntries(list, at.Folder, at.ProgramPath);
    LogFormat(L"Removal step: the listed files: %u deleted, %u left for the restart (%u of them "
              L"moved aside), %u could not even be scheduled; %u readings of the list",
              removal.Deleted, removal.Moved + removal.Scheduled, removal.Moved,
              removal.Unscheduled, removal.Passes);
    if (!RemoveInstallationEntries(installation)) {
        // The entry deployment tools and the list of installed programs read still runs this
        // program: it stays with its list for the same removal run again.
        ExitCode = 1;
        return;
    }
    list.Close();
    ProgramLeave leave =
        LeaveProgramAndFolder(at, listPath, removal.RestartNeeded, restartText, restartCaption);
    // A distribution tool reads the exit code alone: it asks for the restart on 3010, and must
    // not count as removed what not even the restart removes.
    if (removal.Unscheduled > 0 || leave == ProgramStays || leave == ListStays)
        ExitCode = 1;
    else if (removal.RestartNeeded || leave == ProgramToRestart)
        ExitCode = RestartExitCode;
}
