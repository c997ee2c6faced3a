#include "common/paths.h"

#include <string.h>
#include <wchar.h>

#include "common/text.h"

namespace {

const wchar_t LongPathPrefix[] = L"\\\\?\\";
const size_t LongPathPrefixLength = 4;

bool StartsWithLongPathPrefix(const wchar_t* path) {
    return wcsncmp(path, LongPathPrefix, LongPathPrefixLength) == 0;
}

// A name whose part before the first dot (trailing blanks ignored) is a device: Windows opens
// the device for it in every folder.
bool IsDeviceName(const wchar_t* name) {
    size_t length = 0;
    while (name[length] != 0 && name[length] != L'.')
        length++;
    while (length > 0 && name[length - 1] == L' ')
        length--;
    wchar_t base[8];
    if (length < 3 || length >= sizeof base / sizeof base[0])
        return false;
    for (size_t i = 0; i < length; i++)
        base[i] = AsciiUpper(name[i]);
    base[length] = 0;
    static const wchar_t* const Devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : Devices)
        if (wcscmp(base, device) == 0)
            return true;
    // COM1 to COM9 and LPT1 to LPT9, with the superscript digits Windows also takes.
    if (length == 4 && (wcsncmp(base, L"COM", 3) == 0 || wcsncmp(base, L"LPT", 3) == 0)) {
        wchar_t digit = base[3];
        return (digit >= L'1' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

} // namespace

bool IsSlash(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool IsDriveLetterColon(const wchar_t* path) {
    wchar_t upper = AsciiUpper(path[0]);
    return upper >= L'A' && upper <= L'Z' && path[1] == L':';
}

bool IsFullPath(const wchar_t* path) {
    if (path[0] == L'\\' && path[1] == L'\\')
        return true;
    return IsDriveLetterColon(path) && IsSlash(path[2]);
}

bool IsLocalFullPath(const wchar_t* path) {
    if (!IsDriveLetterColon(path) || !IsSlash(path[2]))
        return false;
    for (const wchar_t* p = path + 2; *p; ++p)
        if (*p == L':' || IsControlChar(*p))
            return false;
    return true;
}

const wchar_t* NamePart(const wchar_t* path) {
    const wchar_t* name = IsDriveLetterColon(path) ? path + 2 : path;
    for (const wchar_t* p = path; *p; ++p) {
        if (IsSlash(*p))
            name = p + 1;
    }
    return name;
}

wchar_t* NamePart(wchar_t* path) {
    return path + (NamePart(static_cast<const wchar_t*>(path)) - path);
}

const wchar_t* LastChar(const wchar_t* path) {
    size_t length = wcslen(path);
    return length ? path + length - 1 : path;
}

void CutNamePart(wchar_t* path) {
    wchar_t* name = NamePart(path);
    size_t position = name - path;
    // The separator of a root (\ or C:\) stays: it is what makes the root a folder.
    if (position < 2 || (IsDriveLetterColon(path) && position < 4))
        *name = 0;
    else
        name[-1] = 0;
}

namespace {
// Writes name after the first `at` characters of the destination, which already hold its
// folder; refuses, emptying the destination, when the whole does not fit.
bool PutName(wchar_t* destination, size_t at, const wchar_t* name, size_t capacity) {
    size_t length = wcslen(name);
    if (at >= capacity || length >= capacity - at) {
        if (capacity > 0)
            destination[0] = 0;
        return false;
    }
    wmemmove(destination + at, name, length);
    destination[at + length] = 0;
    return true;
}
} // namespace

bool ReplaceNamePart(wchar_t* path, const wchar_t* name, size_t capacity) {
    return PutName(path, NamePart(path) - path, name, capacity);
}

bool CopyPath(const wchar_t* path, wchar_t* destination, size_t capacity) {
    return PutName(destination, 0, path, capacity);
}

void AddTrailingBackslash(wchar_t* path, size_t capacity) {
    size_t length = wcslen(path);
    if (length != 0 && path[length - 1] != L'\\' && length + 1 < capacity) {
        path[length] = L'\\';
        path[length + 1] = 0;
    }
}

bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* destination, size_t capacity) {
    size_t length = wcslen(folder);
    bool bareDrive = IsDriveLetterColon(folder) && length == 2;
    bool separator = length != 0 && folder[length - 1] != L'\\' && !bareDrive;
    if (length + (separator ? 1 : 0) >= capacity) {
        if (capacity > 0)
            destination[0] = 0;
        return false;
    }
    wmemmove(destination, folder, length);
    if (separator)
        destination[length++] = L'\\';
    return PutName(destination, length, name, capacity);
}

bool PlainFormLosesTrailingChars(const wchar_t* path) {
    wchar_t last = *LastChar(path);
    return (last == L'.' || last == L' ') && !StartsWithLongPathPrefix(path);
}

bool IsPlainFileName(const wchar_t* name) {
    if (!name || name[0] == 0)
        return false;
    size_t length = 0;
    for (; name[length] != 0; length++) {
        wchar_t c = name[length];
        if (IsControlChar(c) || wcschr(L"\\/:*?<>\"|", c) != nullptr)
            return false;
    }
    // A trailing dot or blank also rules out "." and "..".
    wchar_t last = name[length - 1];
    return length <= 255 && last != L'.' && last != L' ' && !IsDeviceName(name);
}

bool HasWildcards(const wchar_t* path) {
    if (!path)
        return false;
    if (StartsWithLongPathPrefix(path))
        path += LongPathPrefixLength;
    return wcspbrk(path, L"*?") != nullptr;
}

bool MakeLongPath(const wchar_t* path, const wchar_t* currentFolder, wchar_t* destination,
                  size_t capacity) {
    if (!path || !*path)
        return false;
    // Already in that form: another prefix would only turn it into a network path.
    if (StartsWithLongPathPrefix(path))
        return false;
    size_t length = wcslen(path);
    if (path[0] == L'\\' && path[1] == L'\\') {
        if (capacity <= length + 6)
            return false;
        CopyText(destination, L"\\\\?\\UNC", capacity);
        AppendText(destination, path + 1, capacity);
        return true;
    }
    if (IsFullPath(path)) {
        if (capacity <= length + 4)
            return false;
        CopyText(destination, LongPathPrefix, capacity);
        AppendText(destination, path, capacity);
        return true;
    }

    // The "\\?\" form is never resolved by Windows, so a relative path has to be made full here.
    if (!currentFolder || !IsFullPath(currentFolder))
        return false;
    if (IsSlash(path[0])) {
        if (capacity <= length + 6)
            return false;
        wchar_t drive[3] = {currentFolder[0], currentFolder[1], 0};
        CopyText(destination, LongPathPrefix, capacity);
        AppendText(destination, drive, capacity);
        AppendText(destination, path, capacity);
        return true;
    }
    // ".\" would stay a literal component in the long form, which Windows refuses.
    if (path[0] == L'.' && IsSlash(path[1]))
        path += 2;
    wchar_t joined[PathCapacity];
    if (!JoinPath(currentFolder, path, joined) || capacity <= wcslen(joined) + LongPathPrefixLength)
        return false;
    CopyText(destination, LongPathPrefix, capacity);
    AppendText(destination, joined, capacity);
    return true;
}
