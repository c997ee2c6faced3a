// Times the settings file: loading and saving a "Bundlo.ini" of 10,000 entries, and 1,000 reads
// through the registry operations that the file serves. Prints figures; passes or fails nothing.
// The file is written beside this program, where the store looks for it, and removed after.
#include <windows.h>
#include <stdio.h>

#include <string>

#include "common/registry.h"
#include "common/settings.h"
#include "bench/bench_timer.h"

int main() {
    PlugInSettingsStore();
    const int entries = 10000;
    const int reads = 1000;
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path = module;
    path = path.substr(0, path.rfind(L'\\')) + L"\\Bundlo.ini";

    std::string content;
    for (int i = 0; i < entries; i++) {
        std::string n = std::to_string(i);
        content += i % 2 ? "HKCU\\Setup\\Bench\\Number" + n + "=" + n + "\r\n"
                         : "HKCU\\Setup\\Bench\\Text" + n + "=\"value " + n + "\"\r\n";
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, content.data(), DWORD(content.size()), &written, nullptr);
    CloseHandle(file);
    if (written != content.size()) {
        fprintf(stderr, "cannot write %ls\n", path.c_str());
        return 1;
    }

    LARGE_INTEGER start = Now();
    LoadSettingsFile();
    LARGE_INTEGER loaded = Now();
    if (!IsSettingsFileActive()) {
        fprintf(stderr, "the settings file was not loaded\n");
        return 1;
    }

    // Reads spread over the whole list, half numbers and half texts, so that the lookups walk
    // the list as far as real ones would on average.
    unsigned long long sum = 0;
    wchar_t text[64];
    for (int i = 0; i < reads; i++) {
        int index = (i * 7919) % entries;
        wchar_t name[32];
        if (index % 2) {
            swprintf(name, 32, L"Number%d", index);
            sum += GetUserDword(L"Setup\\Bench", name, 0);
        } else {
            swprintf(name, 32, L"Text%d", index);
            GetUserString(L"Setup\\Bench", name, text, L"", 64);
            sum += text[0];
        }
    }
    LARGE_INTEGER readDone = Now();
    bool saved = SaveSettingsFile();
    LARGE_INTEGER savedAt = Now();
    ReleaseSettings();
    DeleteFileW(path.c_str());

#ifdef _WIN64
    const char* build = "64-bit";
#else
    const char* build = "32-bit";
#endif
    printf("settings file, %d entries (%s build):\n", entries, build);
    printf("  load          %8.2f ms\n", Milliseconds(start, loaded));
    printf("  %d reads    %8.2f ms  (%.1f us per read, checksum %llu)\n", reads,
           Milliseconds(loaded, readDone), Milliseconds(loaded, readDone) * 1000.0 / reads, sum);
    printf("  save          %8.2f ms%s\n", Milliseconds(readDone, savedAt),
           saved ? "" : "  (FAILED)");
    return saved ? 0 : 1;
}
