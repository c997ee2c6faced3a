#include "integration/listfile.h"

#include <windows.h>
#include <string.h>
#include <wchar.h>

#include "common/files.h"
#include "common/paths.h"
#include "common/text.h"

namespace {

void StripLineEnd(char* line) {
    size_t length = strlen(line);
    while (length > 0 && strchr("\r\n \t", line[length - 1]) != nullptr)
        line[--length] = 0;
}

} // namespace

bool ListReader::Seek(int64_t offset) {
    Offset = offset;
    Position = Length = 0;
    List.Seek(offset, FILE_BEGIN);
    return List.GetPosition() == offset;
}

int ListReader::Get() {
    if (Position == Length) {
        Position = 0;
        int32_t read = List.Read(Buffer, sizeof Buffer);
        Length = read > 0 ? size_t(read) : 0;
        if (Length == 0)
            return EOF;
    }
    ++Offset;
    return static_cast<unsigned char>(Buffer[Position++]);
}

bool ReadListLine(ListReader& list, char* line, size_t capacity) {
    size_t length = 0;
    bool damaged = false;
    int c = list.Get();
    if (c == EOF)
        return false;
    for (; c != EOF && c != '\n'; c = list.Get()) {
        if (c == 0 || length + 1 >= capacity)
            damaged = true;
        else
            line[length++] = char(c);
    }
    line[damaged ? 0 : length] = 0;
    StripLineEnd(line);
    return true;
}

bool ListEntryPath(const wchar_t* folder, const wchar_t* line, wchar_t* entry, size_t capacity) {
    entry[0] = 0;
    if (line[0] == 0 || IsSlash(line[0]) || wcspbrk(line, L":*?") != nullptr)
        return false;
    size_t folderLength = wcslen(folder);
    wchar_t joined[PathCapacity];
    if (folderLength == 0 || folder[folderLength - 1] != L'\\' || !JoinPath(folder, line, joined))
        return false;
    // The entry is judged by the place it really names, with its ".." and "." resolved.
    DWORD limit = capacity > PathCapacity ? DWORD(PathCapacity) : DWORD(capacity);
    DWORD length = GetFullPathNameW(joined, limit, entry, nullptr);
    if (length == 0 || length >= limit) {
        entry[0] = 0;
        return false;
    }
    // A folder is named without its backslash: "link\" would be resolved to the link's target.
    while (length > folderLength && entry[length - 1] == L'\\')
        entry[--length] = 0;
    return length > folderLength && CompareStringOrdinal(entry, int(folderLength), folder,
                                                         int(folderLength), TRUE) == CSTR_EQUAL;
}

bool ListedFilesSize(const wchar_t* folder, uint64_t* bytes) {
    *bytes = 0;
    wchar_t listPath[PathCapacity];
    File list;
    if (!JoinPath(folder, ListName, listPath) || !list.Open(listPath, File::OpenShareWrite))
        return false;
    ListReader reader(list);
    char line[ListLineCapacity];
    while (ReadListLine(reader, line, ListLineCapacity)) {
        wchar_t name[PathCapacity];
        wchar_t entry[PathCapacity];
        ScanEntry found;
        if (line[0] != 0 && ToWide(line, name) &&
            ListEntryPath(folder, name, entry, PathCapacity) && GetEntryInfo(entry, &found) &&
            !found.IsDirectory && !found.IsReparsePoint)
            *bytes += found.Size;
    }
    return true;
}
