#include "common/file.h"

#include <wchar.h>

#include "common/diagnostics.h"
#include "common/text.h"

bool (*FileReadOverride)(HANDLE handle, void* buffer, DWORD size, DWORD* read) = nullptr;
bool (*FileWriteOverride)(HANDLE handle, const void* data, DWORD size, DWORD* written) = nullptr;
void (*FileChangeHook)() = nullptr;

namespace {

HANDLE CreateFileRetrying(const wchar_t* name, DWORD access, DWORD share, DWORD disposition,
                          DWORD flags, bool tryPlainName) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (tryPlainName)
        handle = CreateFileW(name, access, share, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        wchar_t longName[PathCapacity];
        if (LongPathOf(name, longName))
            handle = CreateFileW(longName, access, share, nullptr, disposition, flags, nullptr);
    }
    return handle;
}

} // namespace

bool LongPathOf(const wchar_t* path, wchar_t* destination, size_t capacity) {
    if (!path || !*path || IsFullPath(path))
        return MakeLongPath(path, nullptr, destination, capacity);
    wchar_t current[PathCapacity];
    DWORD length = GetCurrentDirectoryW(PathCapacity - 1, current);
    if (length == 0 || length > PathCapacity - 1)
        return false;
    return MakeLongPath(path, current, destination, capacity);
}

File::File() : Created(false), ReadFailed(false) {
    FileName[0] = 0;
}

bool TryRemoveFile(const wchar_t* path) {
    AnnounceFileChange();
    return InEitherForm(path, [](const wchar_t* form) { return DeleteFileW(form) != FALSE; });
}

File::~File() {
    if (!IsOpen())
        return;
    Close();
    // Whoever wrote it did not finish: a half file must not pass for a whole one.
    if (Created && !TryRemoveFile(FileName)) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            ReportFailure(L"delete file", FileName, error);
        SetLastError(error);
    }
}

namespace {
// Judged on the handle: the name may have been replaced since anyone looked at it.
bool IsPlainFile(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                     FILE_ATTRIBUTE_DEVICE)) == 0 &&
           info.nNumberOfLinks == 1;
}
} // namespace

bool File::Open(const wchar_t* name, uint32_t mode) {
    DWORD share = FILE_SHARE_READ | ((mode & OpenShareWrite) ? FILE_SHARE_WRITE : 0);
    bool plain = (mode & OpenPlainOnly) != 0;
    HANDLE handle = CreateFileRetrying(
        name, GENERIC_READ, share, OPEN_EXISTING,
        FILE_FLAG_SEQUENTIAL_SCAN | (plain ? FILE_FLAG_OPEN_REPARSE_POINT : 0), true);
    // A failed Open leaves everything as it was, so a file still being written stays marked as
    // created and is cleaned up if its writer never finishes.
    return Adopt(OwnedFile(handle), name, plain);
}

bool File::OpenPlainForWriting(const wchar_t* name) {
    HANDLE handle =
        CreateFileRetrying(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, !PlainFormLosesTrailingChars(name));
    return Adopt(OwnedFile(handle), name, true);
}

bool File::Adopt(OwnedFile handle, const wchar_t* name, bool plainOnly) {
    if (!handle)
        return false;
    if (plainOnly && !IsPlainFile(handle.get())) {
        handle.reset();
        SetLastError(ERROR_BAD_FILE_TYPE);
        return false;
    }
    // Reopening must not leak the handle held so far.
    Close();
    Created = false;
    Handle = static_cast<OwnedFile&&>(handle);
    CopyText(FileName, name, PathCapacity);
    ReadFailed = false;
    return true;
}

bool File::Create(const wchar_t* name, uint32_t mode) {
    Close();
    AnnounceFileChange();
    DWORD share = (mode & CreateShareRead) ? FILE_SHARE_READ : 0;
    bool newOnly = (mode & CreateNewOnly) != 0;
    // Windows would drop a trailing "." or " " from a plain name and create another file; the long
    // form keeps them, and a name already in that form is tried as it is.
    Handle.reset(CreateFileRetrying(
        name, GENERIC_READ | GENERIC_WRITE, share, newOnly ? CREATE_NEW : CREATE_ALWAYS,
        newOnly ? FILE_FLAG_OPEN_REPARSE_POINT : 0, !PlainFormLosesTrailingChars(name)));
    Created = true;
    CopyText(FileName, name, PathCapacity);
    return bool(Handle);
}

bool File::Close() {
    return Handle.close();
}

int32_t File::Read(void* buffer, int32_t size) {
    if (ReadFailed || size < 0 || !IsOpen())
        return 0;
    DWORD read = 0;
    bool done = FileReadOverride
                    ? FileReadOverride(Handle.get(), buffer, DWORD(size), &read)
                    : ReadFile(Handle.get(), buffer, DWORD(size), &read, nullptr) != FALSE;
    if (!done) {
        // The rest of the file reads as if it ended here.
        ReadFailed = true;
        return 0;
    }
    return int32_t(read);
}

bool File::Write(const void* data, uint32_t size) {
    if (size == 0)
        return true;
    if (!IsOpen())
        return false;
    AnnounceFileChange();
    DWORD written = 0;
    bool done = FileWriteOverride ? FileWriteOverride(Handle.get(), data, size, &written)
                                  : WriteFile(Handle.get(), data, size, &written, nullptr) != FALSE;
    return done && written == size;
}

bool File::Flush() {
    return IsOpen() && FlushFileBuffers(Handle.get()) != FALSE;
}

void File::Seek(int64_t offset, DWORD method) {
    if (!IsOpen())
        return;
    LONG high = LONG(uint64_t(offset) >> 32);
    SetFilePointer(Handle.get(), LONG(uint32_t(uint64_t(offset))), &high, method);
}

int64_t File::GetPosition() {
    if (!IsOpen())
        return -1;
    LONG high = 0;
    DWORD low = SetFilePointer(Handle.get(), 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return -1;
    return int64_t((uint64_t(uint32_t(high)) << 32) | low);
}

bool File::IsOpen() const {
    return bool(Handle);
}
