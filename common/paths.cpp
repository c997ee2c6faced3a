#include "common/paths.h"

#include <wchar.h>

#include "common/text.h"

bool IsSlash(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool IsDriveLetterColon(const wchar_t* path) {
    wchar_t upper = AsciiUpper(path[0]);
    return upper >= L'A' && upper <= L'Z' && path[1] == L':';
}

void AddTrailingBackslash(wchar_t* path, size_t capacity) {
    size_t length = wcslen(path);
    if (length != 0 && path[length - 1] != L'\\' && length + 1 < capacity) {
        path[length] = L'\\';
        path[length + 1] = 0;
    }
}

void JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* destination, size_t capacity) {
    wchar_t joined[PathCapacity];
    CopyText(joined, folder, PathCapacity);
    bool bareDrive = IsDriveLetterColon(joined) && joined[2] == 0;
    if (!bareDrive)
        AddTrailingBackslash(joined, PathCapacity);
    AppendText(joined, name, PathCapacity);
    CopyText(destination, joined, capacity);
}
