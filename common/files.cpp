// Longer than the program's other files, for a reason: every file-system call of the program has
// its one owner here, and the operations share what keeps an elevated run inside what it owns
// (the long-path retry, folders held open on the way, handle checks against links). Split, those
// shared pieces would have to be exported to every part.

// rand_s, for the names of private folders and temporary files.
#define _CRT_RAND_S
#include "common/files.h"

#include <sddl.h>
#include <stdlib.h>
#include <wchar.h>

#include "common/diagnostics.h"
#include "common/file.h"
#include "common/text.h"

namespace {

bool IsDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

HANDLE FindFirst(const wchar_t* path, WIN32_FIND_DATAW* data) {
    HANDLE handle = FindFirstFileW(path, data);
    if (handle == INVALID_HANDLE_VALUE) {
        wchar_t longPath[PathCapacity];
        if (LongPathOf(path, longPath))
            handle = FindFirstFileW(longPath, data);
    }
    return handle;
}

using ::InEitherForm; // the one-path form, which the file layer owns

// The same for a call on two paths: both plain, then both long.
template <typename Call> bool InEitherForm(const wchar_t* from, const wchar_t* to, Call call) {
    if (!PlainFormLosesTrailingChars(from) && !PlainFormLosesTrailingChars(to) && call(from, to))
        return true;
    wchar_t longFrom[PathCapacity];
    wchar_t longTo[PathCapacity];
    return LongPathOf(from, longFrom) && LongPathOf(to, longTo) && call(longFrom, longTo);
}

// With the last error of the failed call; an entry that is already gone was not failed on.
void ReportFileFailure(const wchar_t* operation, const wchar_t* path) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        ReportFailure(operation, path, error);
    SetLastError(error);
}

// False when the entry's path does not fit its buffer: the entry cannot be named.
bool FillEntry(ScanEntry* entry, const wchar_t* pathOrMask, const WIN32_FIND_DATAW& data) {
    CopyText(entry->Name, pathOrMask, PathCapacity);
    if (!ReplaceNamePart(entry->Name, data.cFileName, PathCapacity))
        return false;
    entry->Size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    entry->Attributes = data.dwFileAttributes;
    entry->IsDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry->IsReparsePoint = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return true;
}

// RemoveDirectoryW in both forms, with the last error of the last try; reports nothing.
bool TryRemoveFolder(const wchar_t* path) {
    AnnounceFileChange();
    if (!PlainFormLosesTrailingChars(path)) {
        if (RemoveDirectoryW(path))
            return true;
        // The plain form found the folder, and it still holds something: so would the long one.
        if (GetLastError() == ERROR_DIR_NOT_EMPTY)
            return false;
    }
    wchar_t longPath[PathCapacity];
    return LongPathOf(path, longPath) && RemoveDirectoryW(longPath);
}

// The length of a folder's path without its trailing separators.
size_t FolderLengthOf(const wchar_t* folder) {
    size_t length = wcslen(folder);
    while (length > 0 && IsSlash(folder[length - 1]))
        --length;
    return length;
}

// The path without its trailing separators in `walked`, when it lies below the folder (of
// folderLength characters, without its trailing separators): false otherwise.
bool WalkablePath(const wchar_t* folder, size_t folderLength, const wchar_t* path, wchar_t* walked,
                  size_t* walkedLength) {
    size_t length = wcslen(path);
    if (folderLength == 0 || length >= PathCapacity)
        return false;
    CopyText(walked, path, PathCapacity);
    while (length > folderLength && IsSlash(walked[length - 1]))
        walked[--length] = 0;
    *walkedLength = length;
    return length > folderLength + 1 && IsSlash(walked[folderLength]) &&
           CompareStringOrdinal(walked, int(folderLength), folder, int(folderLength), TRUE) ==
               CSTR_EQUAL;
}

// True when a component of a walked path ends at `end`: a separator (or the end of the path)
// that does not follow another one.
bool EndsComponent(const wchar_t* walked, size_t end, size_t length) {
    return (end == length || IsSlash(walked[end])) && !IsSlash(walked[end - 1]);
}

// A folder opened to be held: for listing, so that its sharing counts, and without delete
// sharing, so that it can be neither renamed nor removed while open. A link is opened as itself.
HANDLE OpenFolderToHold(const wchar_t* path) {
    const DWORD access = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE handle = INVALID_HANDLE_VALUE;
    InEitherForm(path, [&](const wchar_t* form) {
        handle = CreateFileW(form, access, sharing, nullptr, OPEN_EXISTING, flags, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    return handle;
}

// A folder, and no link.
bool IsPlainFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// What the open folder itself says. (The attributes and reparse tag alone: the whole
// BY_HANDLE_FILE_INFORMATION asks the volume too, which costs far more.)
bool HandleShowsPlainFolder(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO information;
    return GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &information,
                                        sizeof information) &&
           IsPlainFolder(information.FileAttributes);
}

// Held folders beyond this many are examined for each path instead: a list of more folders in
// a scattered order would otherwise keep opening and letting go of them.
const uint32_t MostHeldFolders = 1024;

} // namespace

ShortPathQuery ShortPathOverride = nullptr;

bool RemoveFile(const wchar_t* path) {
    if (TryRemoveFile(path))
        return true;
    ReportFileFailure(L"delete file", path);
    return false;
}

bool DiscardFile(File& file) {
    file.Close();
    return RemoveFile(file.FileName);
}

bool RemoveFolder(const wchar_t* path) {
    if (TryRemoveFolder(path))
        return true;
    if (GetLastError() != ERROR_DIR_NOT_EMPTY)
        ReportFileFailure(L"remove folder", path);
    return false;
}

bool MoveEntry(const wchar_t* from, const wchar_t* to, DWORD flags) {
    AnnounceFileChange();
    if (InEitherForm(from, to, [flags](const wchar_t* source, const wchar_t* target) {
            return MoveFileExW(source, target, flags) != FALSE;
        }))
        return true;
    ReportFileFailure(L"move file", from);
    return false;
}

decltype(&CreateDirectoryW) MakeFolderOverride = nullptr;

// Only SYSTEM and the Administrators, nothing passed on from the parent; the High label keeps
// every process below High integrity from writing, whatever groups it has.
const wchar_t AdminsOnlySecurity[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)S:(ML;OICI;NW;;;HI)";

OwnedLocal SecurityFromText(const wchar_t* text) {
    OwnedLocal descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            text, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
            nullptr))
        descriptor.reset();
    return descriptor;
}

namespace {

// A name taken by someone else is tried again with other random digits, a few times.
const int RandomNameAttempts = 8;
} // namespace

bool MakePrivateFolder(const wchar_t* parent, bool adminsOnly, wchar_t* folder, size_t capacity) {
    AnnounceFileChange();
    if (capacity > 0)
        folder[0] = 0;
    OwnedLocal security = SecurityFromText(adminsOnly ? AdminsOnlySecurity : nullptr);
    if (adminsOnly && !security.get())
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.get(), FALSE};
    for (int attempt = 0; attempt < RandomNameAttempts; attempt++) {
        unsigned int high = 0, low = 0;
        wchar_t name[24];
        if (rand_s(&high) != 0 || rand_s(&low) != 0 ||
            FormatText(name, L"Bdl-%08x%08x", high, low) < 0 ||
            !JoinPath(parent, name, folder, capacity))
            break;
        // An existing name is never taken over: it may be someone's planted folder or link.
        // The list and label come with the creation, so that the folder is never open to
        // anyone in between. (This Wine stores neither.)
        if ((MakeFolderOverride ? MakeFolderOverride
                                : CreateDirectoryW)(folder, adminsOnly ? &attributes : nullptr))
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    ReportFileFailure(L"make a private folder", parent);
    if (capacity > 0)
        folder[0] = 0;
    return false;
}

bool CopyPlainFile(const wchar_t* from, const wchar_t* to, uint32_t maxBytes) {
    File source;
    if (!source.Open(from, File::OpenPlainOnly)) {
        ReportFileFailure(L"copy only a plain file", from);
        return false;
    }
    source.Seek(0, FILE_END);
    int64_t size = source.GetPosition();
    source.Seek(0, FILE_BEGIN);
    if (size < 0 || size > int64_t(maxBytes)) {
        ReportFailure(L"copy only a plain file", from, ERROR_FILE_TOO_LARGE);
        return false;
    }
    Array<char> bytes;
    bytes.Resize(uint32_t(size));
    if (size > 0 && source.Read(bytes.Data, int32_t(size)) != size) {
        ReportFileFailure(L"read the file to copy", from);
        return false;
    }
    // Whole or not at all: a settings file cut short would be read as a valid one. A name that
    // something has already is the user's choice, kept without a word.
    if (WriteNewFile(to, bytes.Data, uint32_t(size)))
        return true;
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
        ReportFailure(L"copy the file", to, error);
    return false;
}

namespace {

bool FormatTemporaryName(const wchar_t* path, wchar_t* temporary, size_t capacity) {
    unsigned int high = 0, low = 0;
    if (rand_s(&high) == 0 && rand_s(&low) == 0 &&
        FormatText(temporary, capacity, L"%s.%08x%08x.tmp", path, high, low) >= 0)
        return true;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
}

} // namespace

bool DrawTemporaryName(const wchar_t* path, wchar_t* temporary, size_t capacity) {
    for (int attempt = 0; attempt < RandomNameAttempts; attempt++) {
        if (!FormatTemporaryName(path, temporary, capacity))
            return false;
        if (ReadAttributes(temporary) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
    }
    return false;
}

bool CreateTemporaryFile(File& file, const wchar_t* path, wchar_t* temporary, size_t capacity) {
    for (int attempt = 0; attempt < RandomNameAttempts; attempt++) {
        if (!FormatTemporaryName(path, temporary, capacity))
            return false;
        if (file.Create(temporary, File::CreateShareRead | File::CreateNewOnly))
            return true;
        // Only a name someone else had is worth another draw; a missing folder stays missing.
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

bool IsTemporaryNameOf(const wchar_t* name, const wchar_t* base) {
    size_t length = wcslen(base);
    if (wcsncmp(name, base, length) != 0 || name[length] != L'.')
        return false;
    const wchar_t* digits = name + length + 1;
    for (int i = 0; i < 16; i++)
        if (!(digits[i] >= L'0' && digits[i] <= L'9') && !(digits[i] >= L'a' && digits[i] <= L'f'))
            return false;
    return wcscmp(digits + 16, L".tmp") == 0;
}

bool WriteNewFile(const wchar_t* path, const void* data, uint32_t size) {
    File file;
    wchar_t temporary[PathCapacity];
    if (!CreateTemporaryFile(file, path, temporary, PathCapacity))
        return false;
    DWORD error = NO_ERROR;
    if (file.Write(data, size) && file.Flush() && file.Close()) {
        AnnounceFileChange();
        // Never MOVEFILE_REPLACE_EXISTING: what took the name meanwhile is not ours to replace.
        if (InEitherForm(temporary, path, [](const wchar_t* from, const wchar_t* to) {
                return MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH) != FALSE;
            }))
            return true;
        error = GetLastError();
        RemoveFile(temporary);
    } else {
        error = GetLastError();
        DiscardFile(file);
    }
    SetLastError(error);
    return false;
}

void (*EntryCheckedHook)(const wchar_t* path) = nullptr;

namespace {

// The entry itself, never what a link names. Without delete sharing: while the handle is held
// nobody can rename the entry or put something else in its place.
HANDLE OpenNoFollow(const wchar_t* path, DWORD access) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    InEitherForm(path, [&](const wchar_t* form) {
        handle =
            CreateFileW(form, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    return handle;
}

const DWORD DeletionAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
// No path of the program's capacity goes deeper; a walk that does came from something else.
const unsigned MaxFolderDepth = PathCapacity / 2;

// Whether the handle, opened from `path`, names a plain file or folder (not a link), and which.
// Told on the handle, and by the name too, which the handle keeps naming the same entry: this
// Wine opens some links as what they lead to, but reports them by name.
bool PlainEntry(HANDLE handle, const wchar_t* path, DWORD* attributes) {
    BY_HANDLE_FILE_INFORMATION information;
    DWORD byName = ReadAttributes(path);
    if (!GetFileInformationByHandle(handle, &information) || byName == INVALID_FILE_ATTRIBUTES ||
        ((information.dwFileAttributes | byName) & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    *attributes = information.dwFileAttributes;
    return true;
}

// Deletes what the handle names, read-only or not: in one step where Windows has the POSIX,
// read-only-ignoring form, else with its attributes cleared first, through the same handle.
bool DeleteThroughHandle(HANDLE handle, DWORD attributes) {
    AnnounceFileChange();
    FILE_DISPOSITION_INFO_EX posix = {FILE_DISPOSITION_FLAG_DELETE |
                                      FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                      FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
    // FileDispositionInfoEx, from Windows 10 1809 on; older systems refuse the class.
    if (SetFileInformationByHandle(handle, FILE_INFO_BY_HANDLE_CLASS(21), &posix, sizeof posix))
        return true;
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
        FILE_BASIC_INFO basic;
        ZeroBuffer(&basic, sizeof basic);
        basic.FileAttributes = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FILE_ATTRIBUTE_DIRECTORY
                                                                       : FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO plain = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &plain, sizeof plain) != FALSE;
}

// The names in a folder, read through the caller's handle of it, one after another with their
// terminators. False when the folder could not be read whole.
bool ReadNames(HANDLE folder, Array<wchar_t>& names) {
    alignas(8) BYTE buffer[16384];
    for (bool first = true;; first = false) {
        if (!GetFileInformationByHandleEx(
                folder, first ? FileFullDirectoryRestartInfo : FileFullDirectoryInfo, buffer,
                sizeof buffer))
            return GetLastError() == ERROR_NO_MORE_FILES;
        for (BYTE* at = buffer;;) {
            auto entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(at);
            size_t length = entry->FileNameLength / sizeof(wchar_t);
            bool dots = (length == 1 && entry->FileName[0] == L'.') ||
                        (length == 2 && entry->FileName[0] == L'.' && entry->FileName[1] == L'.');
            if (!dots) {
                for (size_t k = 0; k < length; k++)
                    names.Append(entry->FileName[k]);
                names.Append(L'\0');
            }
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
}

// Deletes everything below a folder, read through the caller's handle of it (which keeps its
// path naming it), each entry through a handle of its own. A link is left as it is, and with it
// the folders above it. False when anything stayed.
bool DeleteBelow(HANDLE handle, const wchar_t* folder, unsigned depth) {
    Array<wchar_t> names;
    if (depth > MaxFolderDepth || !ReadNames(handle, names))
        return false;
    bool whole = true;
    for (uint32_t at = 0; at < names.Count; at += uint32_t(wcslen(names.Data + at)) + 1) {
        wchar_t path[PathCapacity];
        if (!JoinPath(folder, names.Data + at, path)) {
            whole = false;
            continue;
        }
        OwnedFile child(OpenNoFollow(path, DeletionAccess | FILE_LIST_DIRECTORY));
        DWORD attributes = 0;
        if (!child || !PlainEntry(child.get(), path, &attributes) ||
            ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
             !DeleteBelow(child.get(), path, depth + 1))) {
            whole = false;
            continue;
        }
        whole = DeleteThroughHandle(child.get(), attributes) && whole;
    }
    return whole;
}

// A path as the plain spelling of a full path has it: "\\?\C:\x" as "C:\x", "\\?\UNC\server\x" as
// "\\server\x", any other as it is. False when it does not fit.
bool PlainSpelling(const wchar_t* path, wchar_t (&plain)[PathCapacity]) {
    const wchar_t* rest = path;
    size_t at = 0;
    if (wcsncmp(path, L"\\\\?\\", 4) == 0) {
        rest = path + 4;
        if (CompareNoCasePrefix(rest, L"UNC\\", 4) == 0) {
            rest += 3; // its separator stays, after the one put before it
            plain[at++] = L'\\';
        }
    }
    if (at + wcslen(rest) >= PathCapacity)
        return false;
    CopyText(plain + at, rest, PathCapacity - at);
    return true;
}

// Whether the system's final path of what the handle names is `path`, however either is spelled
// (plain or "\\?\"). Where the system cannot tell (this Wine's 32-bit side, for a path longer than
// MAX_PATH), the check of the folders on the way stands alone, as it did before.
bool FinalPathIs(HANDLE handle, const wchar_t* path) {
    wchar_t final[PathCapacity];
    DWORD length = GetFinalPathNameByHandleW(handle, final, PathCapacity, VOLUME_NAME_DOS);
    if (length == 0)
        return true;
    wchar_t reached[PathCapacity];
    wchar_t asked[PathCapacity];
    return length < PathCapacity && PlainSpelling(final, reached) && PlainSpelling(path, asked) &&
           CompareStringOrdinal(reached, -1, asked, -1, TRUE) == CSTR_EQUAL;
}

// Whether the handle names the file at `path` itself, reached by no link on the way: a folder on
// the way that could not be held open may have been replaced by one since it was examined. With
// `folder`, the held folder the file lies in, the file must be that folder's own entry of its
// name: where the system names a folder otherwise than its path does (a share that this Wine
// reaches through a link of its own), the two final paths still agree.
bool ReachedDirectly(HANDLE handle, const wchar_t* path, HANDLE folder) {
    if (!folder)
        return FinalPathIs(handle, path);
    wchar_t final[PathCapacity];
    DWORD length = GetFinalPathNameByHandleW(folder, final, PathCapacity, VOLUME_NAME_DOS);
    if (length == 0)
        return true;
    wchar_t expected[PathCapacity];
    return length < PathCapacity && JoinPath(final, NamePart(path), expected) &&
           FinalPathIs(handle, expected);
}

// RemoveFileThroughHandle; with `folder`, for a file in that held folder (ReachedDirectly).
HandleRemoval RemoveThroughHandle(const wchar_t* path, HANDLE folder) {
    OwnedFile entry(OpenNoFollow(path, DeletionAccess));
    DWORD attributes = 0;
    if (!entry) {
        DWORD error = GetLastError();
        // Gone already is nothing to look into.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return RefusedNotPlain;
        ReportFileFailure(L"delete file", path); // in use, say
        return RemovalFailed;
    }
    if (!PlainEntry(entry.get(), path, &attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !ReachedDirectly(entry.get(), path, folder))
        return RefusedNotPlain;
    if (EntryCheckedHook)
        EntryCheckedHook(path);
    if (DeleteThroughHandle(entry.get(), attributes))
        return RemovedThroughHandle;
    ReportFileFailure(L"delete file", path);
    return RemovalFailed;
}
} // namespace

HandleRemoval RemoveFileThroughHandle(const wchar_t* path) {
    return RemoveThroughHandle(path, nullptr);
}

namespace {

// The file system's identity of what the path leads to, links followed.
bool IdentityOf(const wchar_t* path, BY_HANDLE_FILE_INFORMATION& information) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    InEitherForm(path, [&](const wchar_t* form) {
        handle = CreateFileW(form, FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    OwnedFile opened(handle);
    return opened && GetFileInformationByHandle(opened.get(), &information);
}

} // namespace

bool SameEntry(const wchar_t* a, const wchar_t* b) {
    BY_HANDLE_FILE_INFORMATION first;
    BY_HANDLE_FILE_INFORMATION second;
    return IdentityOf(a, first) && IdentityOf(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

namespace {

// Where the first component below a path's root begins: after "X:\" or "\\server\share\", or the
// "\\?\" forms of either ("\\?\X:\", "\\?\UNC\server\share\"). 0 for a path of neither root (a
// relative one, a device's "\\.\").
size_t RootEnd(const wchar_t* path) {
    const wchar_t* rest = path;
    bool share = false;
    if (wcsncmp(path, L"\\\\?\\", 4) == 0) {
        rest = path + 4;
        share = CompareNoCasePrefix(rest, L"UNC\\", 4) == 0;
        if (share)
            rest += 4;
    } else if (IsSlash(path[0]) && IsSlash(path[1])) {
        rest = path + 2;
        share = true;
    }
    size_t at = size_t(rest - path);
    if (!share)
        return IsDriveLetterColon(rest) && IsSlash(rest[2]) ? at + 3 : 0;
    // The server's name, then the share's; "." and "?" for a server name a device.
    for (int part = 0; part < 2; part++) {
        size_t start = at;
        while (path[at] != 0 && !IsSlash(path[at]))
            ++at;
        if (at == start || path[at] == 0 ||
            (part == 0 && at == start + 1 && (path[start] == L'.' || path[start] == L'?')))
            return 0;
        ++at;
    }
    return at;
}

// How the way to a folder was taken.
enum WayTaken {
    WayHeld,     // every folder on it, and the folder, plain and held
    WayMissing,  // a folder on it, or the folder, is not there: nothing to act on
    WayNotPlain, // a link, a file or "." or ".." on it, or the folder a link or a file
    WayNoRoot,   // no folder below the root of a drive or share
    WayUnopened, // a folder could not be opened (denied, say): with the last error
};

// The folders on a folder's way from the root of its drive ("X:\") or share ("\\server\share\"),
// and the folder itself, each opened as itself (OpenNoFollow) and held while the object lives:
// none can be renamed or removed, nor put a link in its place, so that the path keeps naming what
// was examined, and the folder is read through its own handle.
class HeldWay {
  public:
    HeldWay() : Attributes(0) {}
    ~HeldWay() {
        for (uint32_t i = 0; i < Handles.Count; i++)
            OwnedFile(Handles[i]).reset();
    }
    HeldWay(const HeldWay&) = delete;
    HeldWay& operator=(const HeldWay&) = delete;

    // The folder opened with `access` (and for listing), every folder on the way for reading its
    // attributes; each must be a plain folder, examined on its handle and by its path.
    WayTaken Hold(const wchar_t* folder, DWORD access);
    HANDLE Folder() const { return Handles[Handles.Count - 1]; }
    DWORD Attributes; // the folder's, once held

  private:
    Array<HANDLE> Handles;
};

WayTaken HeldWay::Hold(const wchar_t* folder, DWORD access) {
    size_t start = RootEnd(folder);
    size_t length = FolderLengthOf(folder);
    if (start == 0 || length <= start)
        return WayNoRoot;
    wchar_t way[PathCapacity];
    if (length >= PathCapacity) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return WayUnopened;
    }
    CopyText(way, folder, PathCapacity);
    way[length] = 0;
    // Each component, the path cut after it; a doubled separator ends none.
    for (size_t name = start, end = start; end <= length; ++end) {
        if (end < length && !IsSlash(way[end]))
            continue;
        if (end == name) {
            name = end + 1;
            continue;
        }
        // "C:\link\..\x" would be taken as "C:\x" by some calls, through the link by others.
        if (way[name] == L'.' && (end == name + 1 || (end == name + 2 && way[name + 1] == L'.')))
            return WayNotPlain;
        bool last = end == length;
        wchar_t saved = way[end];
        way[end] = 0;
        HANDLE handle =
            OpenNoFollow(way, (last ? access : FILE_READ_ATTRIBUTES) | FILE_LIST_DIRECTORY);
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? WayMissing
                                                                                  : WayUnopened;
        }
        Handles.Append(handle);
        DWORD attributes = 0;
        if (!PlainEntry(handle, way, &attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return WayNotPlain;
        way[end] = saved;
        name = end + 1;
        if (last)
            Attributes = attributes;
    }
    return WayHeld;
}

} // namespace

void DeleteFolderTree(const wchar_t* folder) {
    HeldWay way;
    if (way.Hold(folder, DeletionAccess) == WayHeld && DeleteBelow(way.Folder(), folder, 0))
        DeleteThroughHandle(way.Folder(), way.Attributes);
}

FolderCleanup DeleteFilesInFolder(const wchar_t* folder, bool (*wanted)(const wchar_t* name),
                                  bool removeEmptyFolder) {
    HeldWay way;
    switch (way.Hold(folder, removeEmptyFolder ? DeletionAccess : FILE_READ_ATTRIBUTES)) {
    case WayHeld:
        break;
    case WayMissing:
        return FolderCleaned;
    case WayNotPlain:
        ReportFailure(L"leave a folder that is a link, is reached through one or is no folder",
                      folder, ERROR_CANT_ACCESS_FILE);
        return FolderLeftAlone;
    case WayNoRoot:
        ReportFailure(L"leave a folder on no drive or share", folder, ERROR_BAD_PATHNAME);
        return FolderLeftAlone;
    case WayUnopened:
        ReportFileFailure(L"open the folder", folder);
        return FolderLeftAlone;
    }
    Array<wchar_t> names;
    if (!ReadNames(way.Folder(), names)) {
        ReportFileFailure(L"list the folder", folder);
        return FolderLeftAlone;
    }
    for (uint32_t at = 0; at < names.Count; at += uint32_t(wcslen(names.Data + at)) + 1) {
        wchar_t path[PathCapacity];
        // A link or a folder of a wanted name is refused as none of the files, and stays.
        if (wanted(names.Data + at) && JoinPath(folder, names.Data + at, path))
            RemoveThroughHandle(path, way.Folder());
    }
    if (!removeEmptyFolder)
        return FolderCleaned;
    // Read again: only a folder that nothing is left in goes, through the handle that was
    // examined, as an empty folder (a folder that is not empty is refused, whatever came in).
    names.Resize(0);
    if (ReadNames(way.Folder(), names) && names.Count == 0 &&
        !DeleteThroughHandle(way.Folder(), way.Attributes) && GetLastError() != ERROR_DIR_NOT_EMPTY)
        ReportFileFailure(L"remove folder", folder);
    return FolderCleaned;
}

bool ScheduleDeletion(const wchar_t* path) {
    AnnounceFileChange();
    if (InEitherForm(path, [](const wchar_t* form) {
            return MoveFileExW(form, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
        }))
        return true;
    ReportFileFailure(L"schedule deletion at restart", path);
    return false;
}

void ClearAttributes(const wchar_t* path) {
    AnnounceFileChange();
    InEitherForm(path, [](const wchar_t* form) { return SetFileAttributesW(form, 0) != FALSE; });
}

DWORD ReadAttributes(const wchar_t* path) {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    DWORD error = ERROR_INVALID_NAME;
    if (!PlainFormLosesTrailingChars(path)) {
        attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES)
            return attributes;
        error = GetLastError();
    }
    wchar_t longPath[PathCapacity];
    if (LongPathOf(path, longPath)) {
        attributes = GetFileAttributesW(longPath);
        if (attributes != INVALID_FILE_ATTRIBUTES)
            return attributes;
        error = GetLastError();
    }
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
}

bool FileExists(const wchar_t* path) {
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        return true;
    wchar_t longPath[PathCapacity];
    return LongPathOf(path, longPath) && GetFileAttributesW(longPath) != INVALID_FILE_ATTRIBUTES;
}

bool PathOrMaskExists(const wchar_t* path) {
    if (!HasWildcards(path))
        return FileExists(path);
    DirScan scan;
    ScanEntry entry;
    return scan.SetMask(path) && scan.Next(&entry);
}

MakeDirResult MakeDir(const wchar_t* path) {
    AnnounceFileChange();
    // The answer comes from the creation itself, not from the existence checks in between.
    DWORD error = ERROR_INVALID_NAME;
    if (!PlainFormLosesTrailingChars(path)) {
        if (CreateDirectoryW(path, nullptr))
            return MakeDirCreated;
        error = GetLastError();
    }
    if (FileExists(path))
        return MakeDirFailed;
    wchar_t longPath[PathCapacity];
    if (LongPathOf(path, longPath)) {
        if (CreateDirectoryW(longPath, nullptr))
            return MakeDirCreated;
        error = GetLastError();
    }
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? MakeDirParentMissing
                                                                          : MakeDirFailed;
}

bool GetEntryInfo(const wchar_t* path, ScanEntry* entry) {
    // A mask would describe the first match, not the path itself.
    if (HasWildcards(path))
        return false;
    WIN32_FIND_DATAW data;
    OwnedFind find(FindFirst(path, &data));
    if (!find)
        return false;
    return FillEntry(entry, path, data);
}

ReparseCheck CheckReparsePoints(const wchar_t* folder, const wchar_t* path) {
    size_t folderLength = FolderLengthOf(folder);
    wchar_t walked[PathCapacity];
    size_t length;
    if (!WalkablePath(folder, folderLength, path, walked, &length))
        return PassesReparsePoint;
    // Each component from the first below the folder to the entry, the path cut after it; a
    // doubled separator ends no component.
    for (size_t end = folderLength + 1; end <= length; ++end) {
        if (!EndsComponent(walked, end, length))
            continue;
        wchar_t saved = walked[end];
        walked[end] = 0;
        DWORD attributes = ReadAttributes(walked);
        DWORD error = GetLastError();
        walked[end] = saved;
        if (attributes == INVALID_FILE_ATTRIBUTES)
            // Nothing there, so nothing further on either: there is nothing to act on.
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                       ? NoReparsePoint
                       : PassesReparsePoint;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return end == length ? EntryIsReparsePoint : PassesReparsePoint;
    }
    return NoReparsePoint;
}

bool GetShortPath(const wchar_t* path, wchar_t* shortPath, size_t capacity) {
    if (capacity == 0)
        return false;
    DWORD limit = capacity > PathCapacity ? DWORD(PathCapacity) : DWORD(capacity);
    DWORD length =
        (ShortPathOverride ? ShortPathOverride : GetShortPathNameW)(path, shortPath, limit);
    if (length == 0 || length >= limit) {
        shortPath[0] = 0;
        return false;
    }
    return true;
}

DirScan::DirScan() : FirstCall(true) {
    Mask[0] = 0;
}

bool DirScan::SetMask(const wchar_t* mask) {
    Close();
    FirstCall = true;
    return CopyPath(mask, Mask);
}

bool DirScan::Next(ScanEntry* entry) {
    for (;;) {
        if (Mask[0] == 0)
            return false;
        WIN32_FIND_DATAW data;
        if (FirstCall) {
            Close();
            FindHandle.reset(FindFirst(Mask, &data));
            if (!FindHandle)
                return false;
        } else if (!FindHandle || !FindNextFileW(FindHandle.get(), &data)) {
            return false;
        }
        FirstCall = false;
        // An entry whose path does not fit is passed over like the dots: a cut path would name
        // another entry.
        if (!IsDotOrDotDot(data.cFileName) && FillEntry(entry, Mask, data))
            return true;
    }
}

void DirScan::Close() {
    FindHandle.reset();
}

HeldFolders::HeldFolders(const wchar_t* folder) : LastFound(0) {
    CopyText(Folder, folder, PathCapacity);
    FolderLength = FolderLengthOf(Folder);
    Folder[FolderLength] = 0;
}

HeldFolders::~HeldFolders() {
    ReleaseAll();
}

bool HeldFolders::HeldAs(uint32_t index, const wchar_t* path, size_t length) const {
    // The spelling must match exactly: in a folder whose names are case-sensitive, another
    // spelling may name another entry.
    return Folders[index].Length == length &&
           wmemcmp(&Paths[Folders[index].Start], path, length) == 0;
}

int HeldFolders::Find(const wchar_t* path, size_t length) {
    // Most paths lie in the folder of the one before.
    if (LastFound < Folders.Count && HeldAs(LastFound, path, length))
        return int(LastFound);
    for (uint32_t i = 0; i < Folders.Count; ++i)
        if (HeldAs(i, path, length)) {
            LastFound = i;
            return int(i);
        }
    return -1;
}

void HeldFolders::Hold(const wchar_t* path, size_t length, HANDLE handle) {
    Held held = {handle, Paths.Count, uint32_t(length)};
    Paths.Extend(uint32_t(length));
    wmemcpy(&Paths[held.Start], path, length);
    Folders.Append(held);
}

void HeldFolders::Release(const wchar_t* path, size_t length) {
    // The folder and everything below it, in any case: a held folder's own spelling always
    // begins with its held parent's.
    uint32_t kept = 0;
    uint32_t names = 0;
    for (uint32_t i = 0; i < Folders.Count; ++i) {
        Held held = Folders[i];
        const wchar_t* name = &Paths[held.Start];
        bool below = held.Length == length || (held.Length > length && IsSlash(name[length]));
        if (below &&
            CompareStringOrdinal(name, int(length), path, int(length), TRUE) == CSTR_EQUAL) {
            OwnedFile(held.Handle).reset();
            continue;
        }
        // Paths lie in the order of the folders, so moving a kept one down never overwrites a
        // later one.
        wmemmove(&Paths[names], name, held.Length);
        held.Start = names;
        names += held.Length;
        Folders[kept++] = held;
    }
    Folders.Resize(kept);
    Paths.Resize(names);
}

void HeldFolders::ReleaseAll() {
    for (uint32_t i = 0; i < Folders.Count; ++i)
        OwnedFile(Folders[i].Handle).reset();
    Folders.Resize(0);
    Paths.Resize(0);
}

ReparseCheck HeldFolders::Check(const wchar_t* path, DWORD* attributes) {
    *attributes = INVALID_FILE_ATTRIBUTES;
    return Walk(path, attributes);
}

ReparseCheck HeldFolders::CheckWay(const wchar_t* path) {
    return Walk(path, nullptr);
}

// Without `attributes`, the walk ends before the entry.
ReparseCheck HeldFolders::Walk(const wchar_t* path, DWORD* attributes) {
    wchar_t walked[PathCapacity];
    size_t length;
    if (!WalkablePath(Folder, FolderLength, path, walked, &length)) {
        SetLastError(ERROR_INVALID_NAME);
        return PassesReparsePoint;
    }
    // The entry's own folder: the path up to the separators before the entry's name.
    size_t parentEnd = length;
    while (!IsSlash(walked[parentEnd - 1]))
        --parentEnd;
    while (parentEnd > FolderLength && IsSlash(walked[parentEnd - 1]))
        --parentEnd;
    // The deepest held folder on the way; every folder above it is held too, and holds a held
    // folder, so none of them can have become a link.
    size_t held = FolderLength;
    int heldIndex = -1;
    for (size_t end = parentEnd; end > FolderLength && heldIndex < 0; --end)
        if (EndsComponent(walked, end, length) && (heldIndex = Find(walked, end)) >= 0)
            held = end;
    if (heldIndex >= 0 && held == parentEnd) {
        // The entry's own folder may be empty, and an empty folder can be made a link where it
        // stands: it is read again, through its handle, which names what the path names.
        FILE_ATTRIBUTE_TAG_INFO information;
        if (!GetFileInformationByHandleEx(Folders[heldIndex].Handle, FileAttributeTagInfo,
                                          &information, sizeof information) ||
            !IsPlainFolder(information.FileAttributes)) {
            Release(walked, held);
            SetLastError(ERROR_CANT_ACCESS_FILE);
            return PassesReparsePoint;
        }
    }
    // Each component below it, the path cut after it, to the entry (or to its folder).
    bool holding = Folders.Count < MostHeldFolders; // a folder is held only below held ones
    size_t to = attributes ? length : parentEnd;
    for (size_t end = held + 1; end <= to; ++end) {
        if (!EndsComponent(walked, end, length))
            continue;
        bool isEntry = end == length;
        wchar_t saved = walked[end];
        walked[end] = 0;
        // Opened before it is examined, so that what was examined is what stays held.
        HANDLE handle = !isEntry && holding ? OpenFolderToHold(walked) : INVALID_HANDLE_VALUE;
        DWORD found = ReadAttributes(walked);
        DWORD error = GetLastError();
        bool agreed = true;
        if (handle != INVALID_HANDLE_VALUE && IsPlainFolder(found) &&
            HandleShowsPlainFolder(handle)) {
            Hold(walked, end, handle);
            holding = Folders.Count < MostHeldFolders;
        } else {
            if (handle != INVALID_HANDLE_VALUE) {
                OwnedFile(handle).reset();
                // The path and the open folder disagree: it changed while it was examined.
                agreed = !IsPlainFolder(found);
            }
            holding = false;
        }
        walked[end] = saved;
        if (found == INVALID_FILE_ATTRIBUTES) {
            SetLastError(error);
            // Nothing there, so nothing further on either: there is nothing to act on.
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                       ? NoReparsePoint
                       : PassesReparsePoint;
        }
        if (!agreed)
            return PassesReparsePoint;
        if (found & FILE_ATTRIBUTE_REPARSE_POINT) {
            if (!isEntry)
                return PassesReparsePoint;
            *attributes = found;
            return EntryIsReparsePoint;
        }
        if (isEntry)
            *attributes = found;
    }
    return NoReparsePoint;
}

bool HeldFolders::RemoveFolder(const wchar_t* path) {
    wchar_t walked[PathCapacity];
    size_t length;
    if (!WalkablePath(Folder, FolderLength, path, walked, &length))
        return ::RemoveFolder(path);
    // A folder held inside, in this spelling, is there and stays: this one is not empty.
    for (uint32_t i = 0; i < Folders.Count; ++i)
        if (Folders[i].Length > length && IsSlash(Paths[Folders[i].Start + length]) &&
            wmemcmp(&Paths[Folders[i].Start], walked, length) == 0) {
            SetLastError(ERROR_DIR_NOT_EMPTY);
            return false;
        }
    Release(walked, length);
    if (TryRemoveFolder(path))
        return true;
    if (GetLastError() == ERROR_SHARING_VIOLATION && Folders.Count > 0) {
        // Held under another spelling of its name (its short name, say).
        ReleaseAll();
        return ::RemoveFolder(path);
    }
    if (GetLastError() != ERROR_DIR_NOT_EMPTY)
        ReportFileFailure(L"remove folder", path);
    return false;
}
