// The limit of the uninstall benchmark: what deleting the listed entries costs with nothing but
// one DeleteFileW or RemoveDirectoryW per entry. Reads a list in the form of "Uninstall.lst"
// (one path below the folder per line), in which a folder's line ends with a backslash, and reads
// it again, leaving out what an earlier reading removed, while a reading still removes something:
// a folder listed before its contents goes once they are gone, as in the uninstall's passes.
// Prints the readings, the removed entries and the time of the loop; the exit code is 1 when an
// entry is left. It calls Windows directly, not through the file layer: the bare calls are what
// the uninstall is measured against.
//   plain_delete.exe <folder> <list>
#include <windows.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "bench/bench_timer.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: plain_delete <folder> <list>\n");
        return 2;
    }
    std::wstring folder = argv[1];
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    FILE* list = _wfopen(argv[2], L"rb");
    if (!list) {
        fprintf(stderr, "cannot open %ls\n", argv[2]);
        return 2;
    }
    struct Entry {
        std::wstring Path;
        bool IsFolder;
    };
    std::vector<Entry> entries;
    char line[4096];
    while (fgets(line, sizeof line, list)) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        if (text.empty())
            continue;
        bool isFolder = text.back() == '\\';
        if (isFolder)
            text.pop_back();
        wchar_t wide[4096];
        if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 4096) == 0)
            continue;
        entries.push_back({folder + wide, isFolder});
    }
    fclose(list);

    // The list is read before the clock starts: the uninstall reads its own as it goes, which is
    // part of its cost, not of the limit's.
    LARGE_INTEGER start = Now();
    std::vector<size_t> left(entries.size());
    for (size_t i = 0; i < left.size(); ++i)
        left[i] = i;
    unsigned readings = 0;
    size_t removed = 0;
    for (;;) {
        ++readings;
        std::vector<size_t> next;
        for (size_t index : left) {
            const Entry& entry = entries[index];
            if (entry.IsFolder ? RemoveDirectoryW(entry.Path.c_str())
                               : DeleteFileW(entry.Path.c_str()))
                ++removed;
            else
                next.push_back(index);
        }
        if (next.size() == left.size())
            break;
        left.swap(next);
    }
    LARGE_INTEGER end = Now();
    printf("%u readings, %zu of %zu entries removed, %.1f ms\n", readings, removed, entries.size(),
           Milliseconds(start, end));
    return removed == entries.size() ? 0 : 1;
}
