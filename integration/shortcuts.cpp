#include "integration/shortcuts.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "common/handles.h"
#include "common/files.h"
#include "common/settings.h"
#include "common/system.h"
#include "common/text.h"
#include "integration/record.h"
#include "lang/localise.h"
#include "resources/resource.h"

wchar_t ProgramGroupPath[PathCapacity];

namespace {

const wchar_t UnknownFolder[] = L"unknown_folder";
const wchar_t ArchiverName[] = L"Bundlo";
const wchar_t ArchiverLink[] = L"Bundlo.lnk";

// One shortcut of the program group: its file name without ".lnk" and its target in the program
// folder, each a fixed text or, when the id is not 0, a numbered string.
struct GroupRow {
    unsigned NameId;
    const wchar_t* Name;
    unsigned TargetId;
    const wchar_t* Target;
};

const GroupRow GroupTable[] = {
    {0, ArchiverName, 0, L"Bundlo.exe"},
    {IDS_BUNDLOHELP, nullptr, 0, L"Bundlo.chm"},
    {IDS_BDLHELP, nullptr, 0, L"Bdl.txt"},
    {IDS_WHATSNEW, nullptr, IDS_WHATSNEWNAME, nullptr},
};
// Only the archiver's own shortcut carries the icon input; the documents show their own.
const size_t ArchiverRow = 0;

// A row's text. A translated one names a file, the shortcut in the group or its target in the
// program folder, so it must be one plain name: a separator or ".." would put the shortcut into
// another folder (StartUp, say) or point it at a file outside the program.
bool RowName(unsigned id, const wchar_t* fixed, wchar_t* buffer, size_t capacity) {
    if (id == 0) {
        CopyText(buffer, fixed, capacity);
        return true;
    }
    return LoadUsableText(id, IsPlainFileName, buffer, capacity);
}

// The group's shortcut of that name, or false when its path does not fit.
bool GroupLinkPath(const wchar_t* group, const wchar_t* name, wchar_t (&path)[PathCapacity]) {
    wchar_t file[PathCapacity];
    return FormatText(file, L"%s.lnk", name) >= 0 && JoinPath(group, file, path);
}

// What every shortcut of a run shares.
struct ShortcutJob {
    const IntegrationSettings* Settings;
    const wchar_t* Archiver; // null when the program's own path is unknown: nothing to point at
    const wchar_t* Description;
    const wchar_t* Icon;
    const wchar_t* WorkingFolder; // of the Start menu and group shortcuts
    wchar_t* GroupOutput;         // receives the group folder shown at the end, when not null
    size_t GroupCapacity;
};

// What the group folder holds of this program: shortcut files ("*.lnk"), those of the group's rows
// and those that earlier versions named otherwise. Anything else in the folder is the user's.
bool IsShortcutName(const wchar_t* name) {
    size_t length = wcslen(name);
    return length >= 4 && CompareNoCase(name + length - 4, L".lnk") == 0;
}

// Makes the group folder afresh with a shortcut for every target that is present, or takes the
// shortcuts out of it when no group is wanted (and the folder, once nothing else is in it). The
// user chooses where the Programs folder lies: only shortcut files directly inside the group go,
// each deleted through a handle of its own while the folders of the way are held; what the user
// put there stays, and a group folder that is a link or is reached through one is left alone.
// The per-user group always names itself in the output; the all-users group overwrites it only
// when its folder could be made, so it wins when both exist.
void FillProgramGroup(const wchar_t* group, bool perUser, const ShortcutJob& job) {
    if (!job.Settings->linkProgramGroup) {
        DeleteFilesInFolder(group, IsShortcutName, true);
        return;
    }
    if (perUser && job.GroupOutput)
        CopyText(job.GroupOutput, group, job.GroupCapacity);
    // Shortcuts left by earlier versions under other names must not linger. A folder that leads
    // elsewhere gets none of them either: its files are not the group's.
    if (DeleteFilesInFolder(group, IsShortcutName, false) == FolderLeftAlone)
        return;
    MakeDir(group);
    if (!perUser && job.GroupOutput && FileExists(group))
        CopyText(job.GroupOutput, group, job.GroupCapacity);

    for (size_t row = 0; row < sizeof GroupTable / sizeof GroupTable[0]; row++) {
        const GroupRow& entry = GroupTable[row];
        wchar_t name[PathCapacity];
        wchar_t targetName[PathCapacity];
        wchar_t shortcut[PathCapacity];
        wchar_t target[PathCapacity];
        if (!RowName(entry.NameId, entry.Name, name, PathCapacity) ||
            !RowName(entry.TargetId, entry.Target, targetName, PathCapacity) ||
            !GroupLinkPath(group, name, shortcut) || !GetProgramFile(targetName, target))
            continue;
        if (FileExists(target))
            WriteShortcut(target, shortcut, job.WorkingFolder, job.Description,
                          row == ArchiverRow ? job.Icon : nullptr);
    }
}

} // namespace

bool GetShellFolder(wchar_t* buffer, size_t capacity, int csidl) {
    if (capacity >= MAX_PATH &&
        SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK)
        return true;
    CopyText(buffer, UnknownFolder, capacity);
    return false;
}

bool WriteShortcut(const wchar_t* target, const wchar_t* shortcut, const wchar_t* workingFolder,
                   const wchar_t* description, const wchar_t* icon) {
    ComRef<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.put_void())))
        return false;
    ComRef<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())))
        return false;
    // A missing file leaves the link empty; an existing one keeps what the user set in it.
    file->Load(shortcut, STGM_READWRITE);
    link->SetPath(target);
    if (description)
        link->SetDescription(description);
    link->SetIconLocation(icon ? icon : L"", 0);
    if (workingFolder)
        link->SetWorkingDirectory(workingFolder);
    return SUCCEEDED(file->Save(shortcut, TRUE));
}

namespace {

// Sets or removes one shortcut to the archiver.
void UpdateShortcut(const ShortcutJob& job, bool wanted, const wchar_t* link,
                    const wchar_t* workingFolder) {
    if (!wanted)
        RemoveFile(link);
    else if (job.Archiver)
        WriteShortcut(job.Archiver, link, workingFolder, job.Description, job.Icon);
}

// A shortcut the user already has on the own desktop is refreshed there; a new one is for
// everybody.
void UpdateDesktopShortcut(const ShortcutJob& job, const wchar_t* desktop) {
    // A link whose path does not fit stays empty, and is none.
    wchar_t perUserLink[PathCapacity] = L"";
    if (desktop)
        JoinPath(desktop, ArchiverLink, perUserLink);
    wchar_t allUsersLink[PathCapacity];
    const bool haveCommonDesktop =
        GetShellFolder(allUsersLink, PathCapacity, CSIDL_COMMON_DESKTOPDIRECTORY) &&
        JoinPath(allUsersLink, ArchiverLink, allUsersLink);
    const bool perUser = perUserLink[0] != 0 && FileExists(perUserLink);
    if (!job.Settings->linkDesktop) {
        // Both go, whichever a setup wrote: taking only the one found first, a run repeated
        // after a cut would take the other, which an uncut one leaves.
        if (perUser)
            RemoveFile(perUserLink);
        if (haveCommonDesktop && FileExists(allUsersLink))
            RemoveFile(allUsersLink);
    } else if (perUser) {
        UpdateShortcut(job, true, perUserLink, nullptr);
    } else if (haveCommonDesktop) {
        UpdateShortcut(job, true, allUsersLink, nullptr);
    }
}

void UpdateStartMenuShortcut(const ShortcutJob& job) {
    wchar_t startMenuLink[PathCapacity];
    if (!GetShellFolder(startMenuLink, PathCapacity, CSIDL_COMMON_STARTMENU) ||
        !JoinPath(startMenuLink, ArchiverLink, startMenuLink))
        return;
    UpdateShortcut(job, job.Settings->linkStartMenu, startMenuLink, job.WorkingFolder);
}

// The per-user group first, then the all-users one (FillProgramGroup says which names itself).
void UpdateProgramGroups(const ShortcutJob& job) {
    wchar_t group[PathCapacity];
    if (GetShellFolder(group, PathCapacity, CSIDL_PROGRAMS) && JoinPath(group, ArchiverName, group))
        FillProgramGroup(group, true, job);
    if (GetShellFolder(group, PathCapacity, CSIDL_COMMON_PROGRAMS) &&
        JoinPath(group, ArchiverName, group))
        FillProgramGroup(group, false, job);
}

} // namespace

void UpdateShortcuts(const IntegrationSettings& settings, wchar_t* groupPath, size_t capacity,
                     const wchar_t* icon, Reach reach) {
    if (!IsIntegrationEnabled(reach))
        return;
    // Without the program's own path there is nothing to point at, but old shortcuts still go.
    wchar_t archiver[PathCapacity];
    const bool haveArchiver = GetProgramFile(L"Bundlo.exe", archiver);
    wchar_t description[TextRingCapacity];
    LoadTextInto(IDS_BUNDLODESC, description);

    // A folder the shell cannot name is never replaced by a guess: "unknown_folder" would be
    // resolved against the current folder, and the group steps delete files.
    wchar_t desktop[PathCapacity];
    const bool haveDesktop = GetShellFolder(desktop, PathCapacity, CSIDL_DESKTOPDIRECTORY);
    const wchar_t* workingFolder = haveDesktop ? desktop : nullptr;
    ShortcutJob job = {
        &settings, haveArchiver ? archiver : nullptr, description, icon, workingFolder, groupPath,
        capacity};
    UpdateDesktopShortcut(job, workingFolder);
    UpdateStartMenuShortcut(job);
    UpdateProgramGroups(job);
}

namespace {

// The target a shell link names, as its file holds it; false when the file is no link or names
// no file-system path.
bool ReadLinkTarget(const wchar_t* shortcut, wchar_t (&target)[PathCapacity]) {
    ComRef<IShellLinkW> link;
    ComRef<IPersistFile> file;
    return SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkW, link.put_void())) &&
           SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.put_void())) &&
           SUCCEEDED(file->Load(shortcut, STGM_READ)) &&
           link->GetPath(target, int(PathCapacity), nullptr, 0) == S_OK && target[0] != 0;
}

// Removes the link when its target lies in the folder; true when it went. A user may have put
// the link there: a target that would reach another machine or a device is never opened.
bool RemoveLinkInto(const wchar_t* shortcut, const wchar_t* folder) {
    wchar_t target[PathCapacity];
    return ReadLinkTarget(shortcut, target) && IsLocalFullPath(target) && LiesIn(target, folder) &&
           RemoveFile(shortcut);
}

void RemoveGroupLinksInto(int csidl, const wchar_t* folder) {
    wchar_t group[PathCapacity];
    wchar_t mask[PathCapacity];
    if (!GetShellFolder(group, PathCapacity, csidl) || !JoinPath(group, ArchiverName, group) ||
        !JoinPath(group, L"*", mask))
        return;
    // A group folder that is a junction or link leads elsewhere: its files are not the group's.
    DWORD attributes = ReadAttributes(group);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    bool removed = false;
    DirScan scan;
    scan.SetMask(mask);
    ScanEntry entry;
    while (scan.Next(&entry))
        if (!entry.IsDirectory && !entry.IsReparsePoint && RemoveLinkInto(entry.Name, folder))
            removed = true;
    scan.Close();
    // Only a group this emptied goes; an empty one it found may be another installation's.
    if (removed)
        RemoveFolder(group);
}

} // namespace

void RemoveShortcutsInto(const wchar_t* folder) {
    const int single[] = {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY,
                          CSIDL_COMMON_STARTMENU};
    for (int csidl : single) {
        wchar_t shortcut[PathCapacity];
        if (GetShellFolder(shortcut, PathCapacity, csidl) &&
            JoinPath(shortcut, ArchiverLink, shortcut))
            RemoveLinkInto(shortcut, folder);
    }
    RemoveGroupLinksInto(CSIDL_PROGRAMS, folder);
    RemoveGroupLinksInto(CSIDL_COMMON_PROGRAMS, folder);
}
