#include "uninstall/uninstall_run.h"

#include <windows.h>
#include <stdarg.h>
#include <string.h>
#include <wchar.h>

#include <initializer_list>
#include <memory>
#include <new>

#include "common/array.h"
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
#include "uninstall/removal.h"
#include "uninstall/startup.h"

decltype(&CreateProcessW) CreateProcessOverride = nullptr;

namespace {

const wchar_t BatchName[] = L"Uninstall_Bdl.Bat"; // in a private folder of its own
// In a batch folder from its making until its batch file starts, which deletes it first thing.
const wchar_t PendingName[] = L"Pending";
// In a batch folder: the program's copy that waits for the removal to end, and the program
// itself, moved there as the removal's last step.
const wchar_t WaiterName[] = L"Uninstall.exe";
const wchar_t MovedName[] = L"Removed.exe";
// In a batch folder until the removal has removed its program folder, or found it holding
// something: a removal cut short in between leaves the folder empty for its batch file.
const wchar_t FolderMarkName[] = L"Folder";
const uint32_t MaxProgramBytes = 64u << 20;
const size_t NoticeCapacity = TextRingCapacity; // as much as any text LoadText gives
const unsigned TemporaryNames = 1000;
const int DeletionTries = 5;
const int BatchFolderTries = 1000;
// A path in the batch file may have every character doubled ('%'); a line holds three of them.
const size_t BatchPathCapacity = 2 * PathCapacity;
const size_t BatchLineCapacity = 3 * BatchPathCapacity + 64;
const size_t CommandCapacity = 2 * PathCapacity + 32;

// True when the text, written in the ANSI code page, reads back unchanged in the OEM code page
// in which the command interpreter reads a batch file.
bool ReadsBackUnchanged(const wchar_t* text) {
    const wchar_t* c = text;
    while (*c != 0 && *c < 0x80)
        ++c;
    if (*c == 0)
        return true; // plain ASCII is the same in every code page
    UINT ansi = BatchCodePagesOverride.Ansi != 0 ? BatchCodePagesOverride.Ansi : CP_ACP;
    UINT oem = BatchCodePagesOverride.Oem != 0 ? BatchCodePagesOverride.Oem : CP_OEMCP;
    const int narrowCapacity = int(4 * PathCapacity);
    char narrow[narrowCapacity];
    // No "default character used" flag: Windows refuses the call with one when the code page is
    // UTF-8 (the "worldwide language support" option). The round trip decides instead, and
    // more strictly: a character the ANSI code page lacks, or writes as a look-alike, does not
    // come back as itself.
    if (WideCharToMultiByte(ansi, 0, text, -1, narrow, narrowCapacity, nullptr, nullptr) == 0)
        return false;
    wchar_t back[PathCapacity];
    if (MultiByteToWideChar(oem, 0, narrow, -1, back, int(PathCapacity)) == 0)
        return false;
    return wcscmp(back, text) == 0;
}

// Formats one group of lines and writes it; a group that did not fit is left out whole.
void WriteFormatted(File& file, const wchar_t* format, ...) {
    wchar_t line[BatchLineCapacity];
    va_list args;
    va_start(args, format);
    int written = FormatTextV(line, BatchLineCapacity, format, args);
    va_end(args);
    if (written >= 0)
        WriteBatchLine(file, line);
}

// Started in the folder that holds the batch's folder and given the batch by the two names the
// program made: no path on the command line, where cmd would expand a "%" that cannot be
// escaped. (Not in the batch's folder itself: the hidden console's host keeps the folder it
// starts in until the last interpreter ends.) Nothing of this process is inherited (a
// deployment agent's output pipes, say), and no window shows.
bool StartHiddenInterpreter(const wchar_t* batchFolder) {
    wchar_t interpreter[PathCapacity];
    wchar_t command[CommandCapacity];
    wchar_t parent[PathCapacity];
    CopyText(parent, batchFolder);
    CutNamePart(parent);
    if (!InterpreterCommand(NamePart(batchFolder), interpreter, PathCapacity, command,
                            CommandCapacity))
        return false;
    STARTUPINFOW startup;
    ZeroBuffer(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    // Out of the program folder, which a current folder would keep from being removed.
    SetCurrentDirectoryW(parent);
    AnnounceFileChange();
    PROCESS_INFORMATION process;
    // Named as the application too, so that no search can pick another program.
    if (!(CreateProcessOverride ? CreateProcessOverride : CreateProcessW)(
            interpreter, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, parent,
            &startup, &process)) {
        ReportFailure(L"start the command interpreter", interpreter, GetLastError());
        return false;
    }
    // Nothing waits for the interpreter.
    OwnedHandle(process.hThread).reset();
    OwnedHandle(process.hProcess).reset();
    return true;
}

} // namespace

void WriteBatchLine(File& file, const wchar_t* text) {
    // Sized for the text as it is: a double-byte or UTF-8 code page needs more than one byte for
    // a character.
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return;
    std::unique_ptr<char[]> narrow(new (std::nothrow) char[size_t(bytes)]);
    if (!narrow || !ToNarrow(text, narrow.get(), size_t(bytes)))
        return;
    file.Write(narrow.get(), uint32_t(strlen(narrow.get())));
}

bool ProgramFolderOf(const wchar_t* programPath, wchar_t* folder, size_t capacity) {
    CopyText(folder, programPath, capacity);
    wchar_t* last = wcsrchr(folder, L'\\');
    if (!last)
        return false;
    if (last > folder && last[-1] == L':')
        last[1] = 0; // the root keeps its backslash: "C:" alone is a drive's current folder
    else
        *last = 0;
    return true;
}

BatchCodePages BatchCodePagesOverride = {0, 0};

bool ScheduleForRestart(const wchar_t* entry, wchar_t* scheduled, size_t capacity) {
    wchar_t temporary[PathCapacity];
    bool named = false;
    for (unsigned n = 0; n < TemporaryNames; ++n) {
        // A cut name would be some other file's.
        if (FormatText(temporary, L"%s.%u.tmp", entry, n) < 0)
            break;
        named = true;
        if (!FileExists(temporary))
            break;
    }
    const wchar_t* name = named && MoveEntry(entry, temporary, 0) ? temporary : entry;
    CopyText(scheduled, name, capacity);
    return ScheduleDeletion(name);
}

namespace {

// What a pass leaves of one line: nothing more to do (removed, gone, naming nothing inside the
// folder, left to the batch file, or moved and scheduled), or a line for the next pass, a folder
// not empty yet among them.
enum LineState : uint8_t { LineSettled, LineOpen, FolderOpen };

bool SamePath(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

struct OpenLine {
    int64_t Offset; // where the line starts in the list
    LineState State;
};

struct Removal {
    const wchar_t* Folder;
    const wchar_t* ProgramPath;
    const wchar_t* ProgramName;
    wchar_t ListPath[PathCapacity];
    HeldFolders* Held;
    ListRemoval* Result;
    unsigned Deleted; // in this pass
};

LineState RemoveListedEntry(Removal& removal, char* line, LineState state) {
    wchar_t name[PathCapacity];
    wchar_t entry[PathCapacity];
    if (line[0] == 0 || !ToWide(line, name, PathCapacity) ||
        !ListEntryPath(removal.Folder, name, entry, PathCapacity))
        return LineSettled;
    HeldFolders& held = *removal.Held;
    // The program and the list are open now: the list is read, the program runs. The batch file
    // deletes them once this process has ended. Their paths are compared as the file system
    // compares names, whatever the user's language says about letters.
    bool leftToBatch = SamePath(entry, removal.ProgramPath) || SamePath(entry, removal.ListPath);
    if (state == LineOpen && !leftToBatch) {
        // Most entries are plain files that go at the first try. The folders on their way are
        // examined first; the entry's own name is deleted as it stands, which for a link removes
        // the link alone. Anything else (a folder, a read-only file, a file in use, nothing)
        // fails here without a report and is looked into below.
        if (held.CheckWay(entry) == PassesReparsePoint)
            return LineOpen;
        if (TryRemoveFile(entry)) {
            ++removal.Deleted;
            return LineSettled;
        }
    }
    // Behind a link lie someone else's files, whatever the list says.
    DWORD attributes;
    ReparseCheck links = held.Check(entry, &attributes);
    if (links == PassesReparsePoint)
        return LineOpen;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LineSettled; // gone already
    bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (links == EntryIsReparsePoint) {
        // Only the link itself goes, by its own name. Its attributes, a move or a deletion at
        // restart could reach its target; so it is never scheduled.
        if (!(isFolder ? held.RemoveFolder(entry) : RemoveFile(entry)))
            return LineOpen;
        ++removal.Deleted;
        return LineSettled;
    }
    if (leftToBatch)
        return LineSettled;
    if (isFolder) {
        // Read-only (and hidden or system) would refuse the removal; what else a plain folder
        // carries does not. The folders on its way are held, so its name still names it.
        if (attributes & ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED))
            ClearAttributes(entry);
        // A folder that is not empty yet goes in a later pass; it is never moved.
        if (!held.RemoveFolder(entry))
            return FolderOpen;
        ++removal.Deleted;
        return LineSettled;
    }
    // Read-only or not, the file examined is the one deleted: opened as itself, checked and
    // deleted through one handle, whatever its name leads to by then.
    HandleRemoval removed = RemoveFileThroughHandle(entry);
    if (removed == RemovedThroughHandle) {
        ++removal.Deleted;
        return LineSettled;
    }
    if (removed == RefusedNotPlain) {
        // It became a link, or a folder on its way did, since it was examined: a move or a
        // deletion at the restart by name would be resolved through that link. It stays.
        if (ReadAttributes(entry) != INVALID_FILE_ATTRIBUTES) {
            ReportFailure(L"leave an entry reached through a link", entry, ERROR_CANT_ACCESS_FILE);
            LogFormat(L"Left in place, reached through a link: %s", entry);
        }
        return LineSettled;
    }
    // Compared as the file system compares names (CompareNoCase): in the user's language a
    // soft hyphen or a Turkish capital could make another file count as one of these two.
    const wchar_t* entryName = NamePart(entry);
    if (CompareNoCase(entryName, removal.ProgramName) == 0 ||
        CompareNoCase(entryName, ListName) == 0)
        return LineOpen;
    ListRemoval& result = *removal.Result;
    result.RestartNeeded = true;
    wchar_t scheduled[PathCapacity];
    if (!ScheduleForRestart(entry, scheduled, PathCapacity)) {
        ++result.Unscheduled;
        LogFormat(L"Left in place, not even scheduled for the restart: %s", entry);
    } else if (wcscmp(scheduled, entry) != 0) {
        ++result.Moved;
        LogFormat(L"Left for the restart: %s (moved to %s)", entry, NamePart(scheduled));
    } else {
        ++result.Scheduled;
        LogFormat(L"Left for the restart: %s", entry);
    }
    return LineSettled;
}

} // namespace

ListRemoval RemoveListedEntries(File& list, const wchar_t* folder, const wchar_t* programPath) {
    ListRemoval result = {0, false, 0, 0, 0, 0};
    HeldFolders held(folder);
    Removal removal;
    removal.Folder = folder;
    removal.ProgramPath = programPath;
    removal.ProgramName = NamePart(programPath);
    // Without its own path the list's line could not be told from the others': nothing goes.
    if (!JoinPath(folder, ListName, removal.ListPath, PathCapacity))
        return result;
    removal.Held = &held;
    removal.Result = &result;
    char line[ListLineCapacity];
    ListReader reader(list);
    // The first pass reads the whole list; each later one reads again only the lines that the
    // pass before left open.
    Array<OpenLine> open;
    Array<OpenLine> next;
    do {
        removal.Deleted = 0;
        next.Resize(0);
        if (++result.Passes == 1) {
            reader.Seek(0);
            for (int64_t start = 0; ReadListLine(reader, line, ListLineCapacity);
                 start = reader.NextOffset()) {
                LineState state = RemoveListedEntry(removal, line, LineOpen);
                if (state != LineSettled)
                    next.Append({start, state});
            }
        } else {
            for (uint32_t i = 0; i < open.Count; ++i) {
                if (!reader.Seek(open[i].Offset) || !ReadListLine(reader, line, ListLineCapacity))
                    continue;
                LineState state = RemoveListedEntry(removal, line, open[i].State);
                if (state != LineSettled)
                    next.Append({open[i].Offset, state});
            }
        }
        open.Swap(next);
        result.Deleted += removal.Deleted;
    } while (removal.Deleted > 0);
    return result;
}

bool BatchPathText(const wchar_t* path, wchar_t* text, size_t capacity) {
    if (capacity == 0)
        return false;
    text[0] = 0;
    const wchar_t* chosen = path;
    wchar_t shortPath[PathCapacity];
    if (!ReadsBackUnchanged(path)) {
        if (!GetShortPath(path, shortPath) || !ReadsBackUnchanged(shortPath))
            return false;
        chosen = shortPath;
    }
    size_t out = 0;
    for (const wchar_t* c = chosen; *c != 0; ++c) {
        size_t needed = *c == L'%' ? 2 : 1;
        if (out + needed >= capacity) {
            text[0] = 0; // a cut path would name another file
            return false;
        }
        text[out++] = *c;
        if (*c == L'%')
            text[out++] = L'%';
    }
    text[out] = 0;
    return true;
}

bool LeaveProgramToBatch(const wchar_t* programPath, const wchar_t* folder) {
    wchar_t text[BatchPathCapacity];
    return BatchPathText(programPath, text, BatchPathCapacity) &&
           BatchPathText(folder, text, BatchPathCapacity);
}

namespace {

// Only the names MakePrivateFolder gives: "Bdl-" and hexadecimal digits.
bool IsOwnBatchFolderName(const wchar_t* name) {
    return wcsncmp(name, L"Bdl-", 4) == 0 &&
           wcsspn(name + 4, L"0123456789abcdef") == wcslen(name + 4);
}

// What a removal cut short between making its batch folder and starting its batch file left:
// a folder still marked pending, or without its batch file. One whose batch file has started
// has lost its mark and is the batch's own to remove. No other run makes one meanwhile: they
// are made only under the lock this run holds.
void RemoveUnstartedBatchFolders(const wchar_t* temporary) {
    wchar_t mask[PathCapacity];
    if (!JoinPath(temporary, L"Bdl-*", mask))
        return;
    DirScan scan;
    scan.SetMask(mask);
    ScanEntry entry;
    while (scan.Next(&entry)) {
        wchar_t pending[PathCapacity];
        wchar_t batch[PathCapacity];
        if (!entry.IsDirectory || entry.IsReparsePoint ||
            !IsOwnBatchFolderName(NamePart(entry.Name)) ||
            !JoinPath(entry.Name, PendingName, pending) || !JoinPath(entry.Name, BatchName, batch))
            continue;
        if (FileExists(pending) || !FileExists(batch))
            DeleteFolderTree(entry.Name);
    }
}

} // namespace

bool CreateBatchFile(File& file, bool elevated, wchar_t* folder, size_t capacity) {
    folder[0] = 0;
    wchar_t temporary[PathCapacity];
    if (!GetTemporaryFolder(elevated, temporary))
        return false;
    RemoveUnstartedBatchFolders(temporary);
    if (!MakePrivateFolder(temporary, elevated, folder, capacity))
        return false;
    wchar_t path[PathCapacity];
    File pending;
    if (JoinPath(folder, PendingName, path) && pending.Create(path, File::CreateNewOnly) &&
        pending.Close() && JoinPath(folder, BatchName, path) &&
        file.Create(path, File::CreateNewOnly))
        return true;
    // The folder is this run's own, with its mark in it.
    DeleteFolderTree(folder);
    folder[0] = 0;
    return false;
}

bool WriteUninstallBatch(File& file, const wchar_t* beside, const wchar_t* folder,
                         const wchar_t* batchFolder, const ProcessStamp& removal, bool warning) {
    wchar_t besideText[BatchPathCapacity];
    wchar_t besideName[BatchPathCapacity];
    wchar_t folderText[BatchPathCapacity];
    wchar_t batch[BatchPathCapacity];
    // The free name has no short form yet: it is spelled in the folder as the batch spells that.
    if (!BatchPathText(folder, folderText, BatchPathCapacity) ||
        !BatchPathText(NamePart(beside), besideName, BatchPathCapacity) ||
        FormatText(besideText, BatchPathCapacity,
                   IsSlash(folderText[wcslen(folderText) - 1]) ? L"%s%s" : L"%s\\%s", folderText,
                   besideName) < 0)
        return false;
    // A temporary folder that cannot be spelled is left to the interpreter, which knows the
    // batch file's own folder exactly.
    if (!BatchPathText(batchFolder, batch, BatchPathCapacity))
        CopyText(batch, L"%~dp0.");
    // Out of the batch's folder first: every program the batch starts would keep it from being
    // removed while it runs. The program's copy started here waits until the removal has ended,
    // and with it the program moved into this folder.
    WriteFormatted(file, L"del \"%s\\%s\"\r\ncd \\\r\n\"%s\\%s\" /wait=%lu:%08lx%08lx\r\n", batch,
                   PendingName, batch, WaiterName, static_cast<unsigned long>(removal.Id),
                   static_cast<unsigned long>(removal.Started >> 32),
                   static_cast<unsigned long>(removal.Started & 0xffffffffu));
    WriteFormatted(file, L"del /f /q \"%s\\%s\"\r\nif exist \"%s\\%s\" rd \"%s\"\r\n", batch,
                   MovedName, batch, FolderMarkName, folderText);
    // Where the batch's folder lies on another volume the program waits beside itself, under a
    // name nobody could know, and its folder goes with it only when nothing else is there: a
    // later installation may have taken the folder since.
    WriteFormatted(file, L"if not exist \"%s\" goto done\r\n", besideText);
    for (int i = 0; i < DeletionTries; ++i)
        WriteFormatted(file, L"del /f /q \"%s\"\r\nif not exist \"%s\" goto gone\r\n", besideText,
                       besideText);
    if (warning)
        WriteFormatted(file, L"\"%s\" /warning\r\n", besideText);
    WriteFormatted(file, L"goto done\r\n:gone\r\nrd \"%s\"\r\n:done\r\n", folderText);
    // Some interpreters keep the batch file open while they run it, and no folder goes while a
    // file in it is open: a second interpreter, started last, removes the batch and its folder,
    // trying again until this one has let go. It reads the folder from its environment: a "%" in
    // the name, doubled here for this interpreter, must not be expanded again by the next one.
    wchar_t system[PathCapacity];
    wchar_t systemText[BatchPathCapacity];
    if (!GetSystemFolder(system) || !BatchPathText(system, systemText, BatchPathCapacity))
        return false;
    WriteFormatted(file, L"set \"BDL_BATCH_FOLDER=%s\"\r\n", batch);
    WriteFormatted(file,
                   L"start \"\" /b \"%s\\cmd.exe\" /d /c for /l %%%%i in (1,1,%d) do @if exist "
                   L"\"%%%%BDL_BATCH_FOLDER%%%%\" rd /s /q \"%%%%BDL_BATCH_FOLDER%%%%\" 2^>nul\r\n",
                   systemText, BatchFolderTries);
    return true;
}

bool InterpreterCommand(const wchar_t* batchFolderName, wchar_t* interpreter,
                        size_t interpreterCapacity, wchar_t* command, size_t commandCapacity) {
    wchar_t system[PathCapacity];
    // Only the names the program made itself, and the batch's.
    if (IsOwnBatchFolderName(batchFolderName) && GetSystemFolder(system) &&
        JoinPath(system, L"cmd.exe", interpreter, interpreterCapacity) &&
        FormatText(command, commandCapacity, L"\"%s\" /d /v:off /c .\\%s\\%s", interpreter,
                   batchFolderName, BatchName) >= 0)
        return true;
    if (interpreterCapacity > 0)
        interpreter[0] = 0;
    if (commandCapacity > 0)
        command[0] = 0;
    return false;
}

namespace {

// Where the run works: the program, and its folder in the two forms the steps need.
struct Installation {
    wchar_t ProgramPath[PathCapacity];
    wchar_t Folder[PathCapacity]; // full, with its trailing backslash: the list's names lie below
    // Without it, as the batch file and the restart name the folder. Taken from the program's
    // path, not from the current folder, which is still elsewhere when the folder could not be
    // entered.
    wchar_t FolderName[PathCapacity];
};

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

// Where the program and its folder went.
enum ProgramLeave { ProgramToBatch, ProgramToRestart, ProgramStays };

// When no batch file can take them: the program, moved to a free name first so that the
// restart deletes nothing a later installation puts under its own name, and its folder, which
// Windows removes only when empty by then, go at the next restart, which the exit code asks for.
// The list goes once that is arranged; an unelevated run cannot schedule anything, and all stays
// for the same removal run again.
ProgramLeave LeaveProgramToRestart(const Installation& at, const wchar_t* listPath) {
    ReportFailure(L"leave the program and its folder for the restart", at.ProgramPath,
                  ERROR_CAN_NOT_COMPLETE);
    wchar_t scheduled[PathCapacity];
    if (!ScheduleForRestart(at.ProgramPath, scheduled, PathCapacity))
        return ProgramStays;
    RemoveFile(listPath);
    ScheduleDeletion(at.FolderName);
    LogFormat(L"Left for the restart: %s (as %s) and its folder", at.ProgramPath,
              NamePart(scheduled));
    return ProgramToRestart;
}

// The batch file, made and written, in its private folder with the program's copy that waits
// for this process; `beside` receives the free name the program takes beside itself when it
// cannot move into that folder. False when any of it failed, and then nothing of it is left.
bool PrepareBatch(const Installation& at, wchar_t* batchFolder, wchar_t* beside) {
    File batch;
    ProcessStamp self;
    if (!OwnProcessStamp(self) || !DrawTemporaryName(at.ProgramPath, beside, PathCapacity) ||
        !CreateBatchFile(batch, IsElevated(), batchFolder, PathCapacity))
        return false;
    wchar_t waiter[PathCapacity];
    wchar_t mark[PathCapacity];
    File marked;
    if (JoinPath(batchFolder, FolderMarkName, mark) && marked.Create(mark, File::CreateNewOnly) &&
        marked.Close() && JoinPath(batchFolder, WaiterName, waiter) &&
        CopyPlainFile(at.ProgramPath, waiter, MaxProgramBytes) &&
        WriteUninstallBatch(batch, beside, at.FolderName, batchFolder, self, !Silent) &&
        batch.Close())
        return true;
    batch.Close();
    DeleteFolderTree(batchFolder);
    return false;
}

// The removal's last steps, once the batch runs: the list, then the program out of its folder,
// then the folder when nothing else is left in it. From here on the folder's names are free for
// a later installation: what the batch deletes is only in its own folder, or under a name drawn
// for it. A run cut before the program has moved finds it alone in its folder, and finishes.
ProgramLeave DepartProgram(const Installation& at, const wchar_t* listPath,
                           const wchar_t* batchFolder, const wchar_t* beside) {
    RemoveFile(listPath);
    wchar_t moved[PathCapacity];
    if (!(JoinPath(batchFolder, MovedName, moved) && MoveEntry(at.ProgramPath, moved, 0)) &&
        !MoveEntry(at.ProgramPath, beside, 0)) {
        LogFormat(L"Left in place, could not be moved for the batch file: %s", at.ProgramPath);
        return ProgramStays;
    }
    bool removed = RemoveFolder(at.FolderName);
    // Held by another program (as its current folder, say), an empty folder is left to the
    // batch file, which tries once this process has ended; one that holds something stays.
    if (removed || GetLastError() == ERROR_DIR_NOT_EMPTY) {
        wchar_t mark[PathCapacity];
        if (JoinPath(batchFolder, FolderMarkName, mark))
            RemoveFile(mark);
    }
    if (removed)
        LogFormat(L"Removal step: the program folder %s", at.FolderName);
    LogFormat(L"Removal step: the program is left to the batch file in %s", batchFolder);
    return ProgramToBatch;
}

// The program and its folder go once this process has ended: through the batch file, or at the
// next restart when the batch file cannot name them or cannot be made or started; the restart
// notice says when that is needed. The notice comes before the interpreter starts, which must
// find this process ended.
ProgramLeave LeaveProgramAndFolder(const Installation& at, const wchar_t* listPath,
                                   bool restartNeeded, const wchar_t* restartText,
                                   const wchar_t* restartCaption) {
    wchar_t batchFolder[PathCapacity];
    wchar_t beside[PathCapacity];
    bool batchReady = false;
    if (!LeaveProgramToBatch(at.ProgramPath, at.FolderName))
        LogFormat(L"No batch file: it cannot name %s or its folder", at.ProgramPath);
    else
        batchReady = PrepareBatch(at, batchFolder, beside);
    bool noticeShown = false;
    if ((restartNeeded || !batchReady) && !Silent) {
        ShowMessageBox(nullptr, restartText, restartCaption, MB_ICONINFORMATION | MB_SETFOREGROUND);
        noticeShown = true;
        // Only a folder of the archiver's own name: the program may have been placed in a
        // folder that holds other things.
        if (batchReady && CompareNoCase(NamePart(at.FolderName), L"Bundlo") == 0 &&
            ScheduleDeletion(at.FolderName))
            LogFormat(L"Left for the restart: %s, once it is empty", at.FolderName);
    }
    if (batchReady) {
        if (StartHiddenInterpreter(batchFolder))
            return DepartProgram(at, listPath, batchFolder, beside);
        DeleteFolderTree(batchFolder);
    }
    ProgramLeave leave = LeaveProgramToRestart(at, listPath);
    if (!noticeShown && !Silent)
        ShowMessageBox(nullptr, restartText, restartCaption, MB_ICONINFORMATION | MB_SETFOREGROUND);
    return leave;
}

// What a removal cut short after its list was deleted leaves: the program alone in its folder,
// with nothing else to remove but itself.
bool OnlyProgramLeft(const Installation& at, const wchar_t* listPath) {
    if (FileExists(listPath))
        return false;
    wchar_t mask[PathCapacity];
    if (!JoinPath(at.FolderName, L"*", mask))
        return false;
    DirScan scan;
    scan.SetMask(mask);
    ScanEntry entry;
    unsigned entries = 0;
    while (scan.Next(&entry))
        if (++entries > 1 || entry.IsDirectory || entry.IsReparsePoint ||
            CompareNoCase(NamePart(entry.Name), NamePart(at.ProgramPath)) != 0)
            return false;
    return entries == 1;
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
    if (!RemoveRegistrations()) {
        // A file type still names the archiver: its program, its files and everything a later
        // removal needs stay, and a distribution tool must not count this one as done.
        ExitCode = 1;
        return;
    }
    // Its file is on the list.
    UnloadLanguageModule();
    if (MsiMode) {
        RemoveInstallationEntries();
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
    RemoveInstallationEntries();
    list.Close();
    ProgramLeave leave =
        LeaveProgramAndFolder(at, listPath, removal.RestartNeeded, restartText, restartCaption);
    // A distribution tool reads the exit code alone: it asks for the restart on 3010, and must
    // not count as removed what not even the restart removes.
    if (removal.Unscheduled > 0 || leave == ProgramStays)
        ExitCode = 1;
    else if (removal.RestartNeeded || leave == ProgramToRestart)
        ExitCode = RestartExitCode;
}
