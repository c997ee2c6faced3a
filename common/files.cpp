#include "common/files.h"

#include <wchar.h>

#include "common/diagnostics.h"
#include "common/text.h"

namespace {

bool IsDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// A find handle that is closed on every way out.
class ScopedFind {
  public:
    explicit ScopedFind(HANDLE handle) : Handle(handle) {}
    ~ScopedFind() {
        if (Handle != INVALID_HANDLE_VALUE)
            FindClose(Handle);
    }
    ScopedFind(const ScopedFind&) = delete;
    ScopedFind& operator=(const ScopedFind&) = delete;
    bool Found() const { return Handle != INVALID_HANDLE_VALUE; }

  private:
    HANDLE Handle;
};

HANDLE FindFirst(const wchar_t* path, WIN32_FIND_DATAW* data) {
    HANDLE handle = FindFirstFileW(path, data);
    if (handle == INVALID_HANDLE_VALUE) {
        wchar_t longPath[PathCapacity];
        if (MakeLongPath(path, longPath, PathCapacity))
            handle = FindFirstFileW(longPath, data);
    }
    return handle;
}

// The call on the plain form of the path, then on the "\\?\" form when that one fails. The plain
// form of "x." would name "x", an entry nobody asked for, so such a path goes only in the long
// form.
template <typename Call> bool InEitherForm(const wchar_t* path, Call call) {
    if (!PlainFormLosesTrailingChars(path) && call(path))
        return true;
    wchar_t longPath[PathCapacity];
    return MakeLongPath(path, longPath, PathCapacity) && call(longPath);
}

// With the last error of the failed call; an entry that is already gone was not failed on.
void ReportFileFailure(const wchar_t* operation, const wchar_t* path) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        ReportFailure(operation, path, error);
    SetLastError(error);
}

void FillEntry(ScanEntry* entry, const wchar_t* pathOrMask, const WIN32_FIND_DATAW& data) {
    CopyText(entry->Name, pathOrMask, PathCapacity);
    ReplaceNamePart(entry->Name, data.cFileName, PathCapacity);
    entry->Size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    entry->Attributes = data.dwFileAttributes;
    entry->IsDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry->IsReparsePoint = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

} // namespace

ShortPathQuery ShortPathOverride = nullptr;

bool RemoveFile(const wchar_t* path) {
    if (InEitherForm(path, [](const wchar_t* form) { return DeleteFileW(form) != FALSE; }))
        return true;
    ReportFileFailure(L"delete file", path);
    return false;
}

bool RemoveFolder(const wchar_t* path) {
    if (InEitherForm(path, [](const wchar_t* form) { return RemoveDirectoryW(form) != FALSE; }))
        return true;
    if (GetLastError() != ERROR_DIR_NOT_EMPTY)
        ReportFileFailure(L"remove folder", path);
    return false;
}

bool MoveEntry(const wchar_t* from, const wchar_t* to, DWORD flags) {
    if (!PlainFormLosesTrailingChars(from) && !PlainFormLosesTrailingChars(to) &&
        MoveFileExW(from, to, flags))
        return true;
    wchar_t longFrom[PathCapacity];
    wchar_t longTo[PathCapacity];
    if (MakeLongPath(from, longFrom, PathCapacity) && MakeLongPath(to, longTo, PathCapacity) &&
        MoveFileExW(longFrom, longTo, flags))
        return true;
    ReportFileFailure(L"move file", from);
    return false;
}

bool ScheduleDeletion(const wchar_t* path) {
    if (InEitherForm(path, [](const wchar_t* form) {
            return MoveFileExW(form, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
        }))
        return true;
    ReportFileFailure(L"schedule deletion at restart", path);
    return false;
}

void ClearAttributes(const wchar_t* path) {
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
    if (MakeLongPath(path, longPath, PathCapacity)) {
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
    return MakeLongPath(path, longPath, PathCapacity) &&
           GetFileAttributesW(longPath) != INVALID_FILE_ATTRIBUTES;
}

bool PathOrMaskExists(const wchar_t* path) {
    if (!HasWildcards(path))
        return FileExists(path);
    DirScan scan;
    scan.SetMask(path);
    ScanEntry entry;
    return scan.Next(&entry);
}

MakeDirResult MakeDir(const wchar_t* path) {
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
    if (MakeLongPath(path, longPath, PathCapacity)) {
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
    ScopedFind find(FindFirst(path, &data));
    if (!find.Found())
        return false;
    FillEntry(entry, path, data);
    return true;
}

FILE* OpenStream(const wchar_t* path, const wchar_t* mode) {
    return _wfopen(path, mode);
}

ReparseCheck CheckReparsePoints(const wchar_t* folder, const wchar_t* path) {
    size_t folderLength = wcslen(folder);
    while (folderLength > 0 && IsSlash(folder[folderLength - 1]))
        --folderLength;
    size_t length = wcslen(path);
    if (folderLength == 0 || length >= PathCapacity)
        return PassesReparsePoint;
    wchar_t walked[PathCapacity];
    CopyText(walked, path, PathCapacity);
    while (length > folderLength && IsSlash(walked[length - 1]))
        walked[--length] = 0;
    if (length <= folderLength + 1 || !IsSlash(walked[folderLength]) ||
        CompareStringOrdinal(walked, int(folderLength), folder, int(folderLength), TRUE) !=
            CSTR_EQUAL)
        return PassesReparsePoint;
    // Each component from the first below the folder to the entry, the path cut after it.
    for (size_t end = folderLength + 1; end <= length; ++end) {
        if (end < length && !IsSlash(walked[end]))
            continue;
        if (IsSlash(walked[end - 1]))
            continue; // a doubled separator
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

DirScan::DirScan() : FindHandle(INVALID_HANDLE_VALUE), FirstCall(true) {
    Mask[0] = 0;
}

DirScan::~DirScan() {
    Close();
}

void DirScan::SetMask(const wchar_t* mask) {
    Close();
    CopyText(Mask, mask, PathCapacity);
    FirstCall = true;
}

bool DirScan::Next(ScanEntry* entry) {
    for (;;) {
        if (Mask[0] == 0)
            return false;
        WIN32_FIND_DATAW data;
        if (FirstCall) {
            Close();
            FindHandle = FindFirst(Mask, &data);
            if (FindHandle == INVALID_HANDLE_VALUE)
                return false;
        } else if (FindHandle == INVALID_HANDLE_VALUE || !FindNextFileW(FindHandle, &data)) {
            return false;
        }
        FillEntry(entry, Mask, data);
        FirstCall = false;
        if (!IsDotOrDotDot(data.cFileName))
            return true;
    }
}

void DirScan::Close() {
    if (FindHandle != INVALID_HANDLE_VALUE) {
        FindClose(FindHandle);
        FindHandle = INVALID_HANDLE_VALUE;
    }
}
