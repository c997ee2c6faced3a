#include "uninstall/listed_files.h"

#include <windows.h>
#include <string.h>
#include <wchar.h>

#include "common/array.h"
#include "common/diagnostics.h"
#include "common/files.h"
#include "common/log.h"
#include "common/paths.h"
#include "common/system.h"
#include "common/text.h"
#include "integration/listfile.h"

namespace {
const unsigned TemporaryNames = 1000;
} // namespace

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
