// Times the language file: loading a 2 MiB "uninstall.lng" of 20,000 entries and 100,000 lookups
// by key and by string id. Prints figures; passes or fails nothing. The file is written beside
// this program and removed after.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "common/settings.h"
#include "lang/langfile.h"
#include "bench/bench_timer.h"

int main() {
    PlugInSettingsStore();
    const int entries = 20000;
    const int lookups = 100000;
    const size_t fileSize = 2 * 1024 * 1024;
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path = module;
    path = path.substr(0, path.rfind(L'\\')) + L"\\langfile_bench.lng";

    // UTF-16, the form in which all of a 2 MiB file is read. Every string of the key table first,
    // so that lookups by id find their texts; the rest are dialog items in sections of 100, and a
    // closing comment fills the file up to 2 MiB.
    std::wstring content = L"\xFEFF; language file benchmark\r\n***messages***\r\n:STRINGS\r\n";
    int written = 0;
    for (size_t i = 0; i < LanguageKeyCount && written < entries; i++) {
        const char* key = LanguageKeyTable[i].Key;
        if (key[0] == 's' && key[1] == ':') {
            content += std::wstring(key + 2, key + strlen(key)) + L"  \"Text of string " +
                       std::to_wstring(i) + L"\"\r\n";
            written++;
        }
    }
    content += L":DIALOG BENCH" + std::to_wstring(written / 100) + L"\r\n";
    for (; written < entries; written++) {
        if (written % 100 == 0)
            content += L":DIALOG BENCH" + std::to_wstring(written / 100) + L"\r\n";
        content += L"IDC_ITEM" + std::to_wstring(written) + L" \"Item " + std::to_wstring(written) +
                   L" \\\"escaped\\\"\\n\"\r\n";
    }
    const size_t fileChars = fileSize / sizeof(wchar_t);
    if (content.size() < fileChars)
        content += L";" + std::wstring(fileChars - content.size() - 1, L'-');
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD bytesWritten = 0;
    WriteFile(file, content.data(), DWORD(content.size() * sizeof(wchar_t)), &bytesWritten,
              nullptr);
    CloseHandle(file);
    if (bytesWritten != content.size() * sizeof(wchar_t)) {
        fprintf(stderr, "cannot write %ls\n", path.c_str());
        return 1;
    }

    LARGE_INTEGER start = Now();
    LoadLanguageFile(path.c_str());
    LARGE_INTEGER loaded = Now();
    DeleteFileW(path.c_str());
    if (Language.Entries.Count != unsigned(entries)) {
        fprintf(stderr, "%u entries loaded, %d expected\n", Language.Entries.Count, entries);
        return 1;
    }

    // Half by dialog item over the whole file, half by string id over the key table, with a few
    // misses of each kind.
    unsigned found = 0;
    unsigned long long sum = 0;
    wchar_t text[256];
    for (int i = 0; i < lookups; i++) {
        bool hit;
        if (i % 2) {
            int item = (i * 7919) % (entries + 100);
            wchar_t dialog[32], name[32];
            swprintf(dialog, 32, L"BENCH%d", item / 100);
            swprintf(name, 32, L"IDC_ITEM%d", item);
            hit = FindDialogText(dialog, name, text, 256);
        } else {
            hit = FindTextById(5100 + unsigned(i % 60), text, 256);
        }
        if (hit) {
            found++;
            sum += text[0];
        }
    }
    LARGE_INTEGER done = Now();
    Language.Clear();

#ifdef _WIN64
    const char* build = "64-bit";
#else
    const char* build = "32-bit";
#endif
    printf("language file, %d entries, %u bytes (%s build):\n", entries,
           unsigned(content.size() * sizeof(wchar_t)), build);
    printf("  load            %8.2f ms\n", Milliseconds(start, loaded));
    printf("  %d lookups  %8.2f ms  (%.2f us per lookup, %u found, checksum %llu)\n", lookups,
           Milliseconds(loaded, done), Milliseconds(loaded, done) * 1000.0 / lookups, found, sum);
    return 0;
}
