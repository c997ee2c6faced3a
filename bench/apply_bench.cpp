// Times ApplyIntegration in this process with every choice on, and counts what it asks of the
// registry through the registry override table: the calls of each kind, and the values written
// (calls of RegSetValueExW that succeeded). Then RemoveRegistrations undoes it, timed and counted
// the same way, so that every run starts from the machine the first one found. Prints figures;
// passes or fails nothing. Run it from a program folder in a test prefix
// (bench/apply_bench.py does): it registers this folder as the archiver's.
//   apply_bench.exe [runs]
#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "common/settings.h"
#include "bench/bench_timer.h"
#include "common/paths.h"
#include "common/registry.h"
#include "integration/apply.h"
#include "tests/unit/test_support.h"
#include "uninstall/removal.h"

namespace {

struct Tally {
    unsigned long Open, Create, Query, Set, DeleteValue, DeleteKey, EnumKey, DeleteKeyEx, EnumValue,
        DeleteOpened, Written;
    unsigned long Calls() const {
        return Open + Create + Query + Set + DeleteValue + DeleteKey + EnumKey + DeleteKeyEx +
               EnumValue + DeleteOpened;
    }
    bool operator==(const Tally& other) const {
        return Open == other.Open && Create == other.Create && Query == other.Query &&
               Set == other.Set && DeleteValue == other.DeleteValue &&
               DeleteKey == other.DeleteKey && EnumKey == other.EnumKey &&
               DeleteKeyEx == other.DeleteKeyEx && EnumValue == other.EnumValue &&
               DeleteOpened == other.DeleteOpened && Written == other.Written;
    }
};

Tally Counted;

const RegistryFunctions& Real() {
    return RealRegistryFunctions();
}

LONG WINAPI CountOpenKey(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key) {
    ++Counted.Open;
    return Real().OpenKey(root, path, options, access, key);
}

LONG WINAPI CountCreateKey(HKEY root, LPCWSTR path, DWORD reserved, LPWSTR keyClass, DWORD options,
                           REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY key,
                           LPDWORD disposition) {
    ++Counted.Create;
    return Real().CreateKey(root, path, reserved, keyClass, options, access, security, key,
                            disposition);
}

LONG WINAPI CountQueryValue(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                            LPDWORD size) {
    ++Counted.Query;
    return Real().QueryValue(key, name, reserved, type, data, size);
}

LONG WINAPI CountSetValue(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                          DWORD size) {
    ++Counted.Set;
    LONG result = Real().SetValue(key, name, reserved, type, data, size);
    if (result == ERROR_SUCCESS)
        ++Counted.Written;
    return result;
}

LONG WINAPI CountDeleteValue(HKEY key, LPCWSTR name) {
    ++Counted.DeleteValue;
    return Real().DeleteValue(key, name);
}

LONG WINAPI CountDeleteKey(HKEY root, LPCWSTR path) {
    ++Counted.DeleteKey;
    return Real().DeleteKey(root, path);
}

LONG WINAPI CountEnumKey(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                         LPWSTR keyClass, LPDWORD classSize, PFILETIME written) {
    ++Counted.EnumKey;
    return Real().EnumKey(key, index, name, nameSize, reserved, keyClass, classSize, written);
}

LONG WINAPI CountDeleteKeyEx(HKEY root, LPCWSTR path, REGSAM view, DWORD reserved) {
    ++Counted.DeleteKeyEx;
    return Real().DeleteKeyEx(root, path, view, reserved);
}

LONG WINAPI CountEnumValue(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                           LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    ++Counted.EnumValue;
    return Real().EnumValue(key, index, name, nameSize, reserved, type, data, dataSize);
}

LONG WINAPI CountDeleteOpenedKey(HKEY key) {
    ++Counted.DeleteOpened;
    return Real().DeleteOpenedKey(key);
}

const RegistryFunctions Counting = {
    CountOpenKey,   CountCreateKey, CountQueryValue,  CountSetValue,  CountDeleteValue,
    CountDeleteKey, CountEnumKey,   CountDeleteKeyEx, CountEnumValue, CountDeleteOpenedKey};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void PrintTally(const char* what, const Tally& tally) {
    printf("  %-7s %5lu registry calls (open %lu, create %lu, query %lu, set %lu, delete value "
           "%lu, delete key %lu, enumerate keys %lu, delete key in a view %lu, enumerate values "
           "%lu, delete opened key %lu), %lu values written\n",
           what, tally.Calls(), tally.Open, tally.Create, tally.Query, tally.Set, tally.DeleteValue,
           tally.DeleteKey, tally.EnumKey, tally.DeleteKeyEx, tally.EnumValue, tally.DeleteOpened,
           tally.Written);
}

} // namespace

int main(int argc, char** argv) {
    PlugInSettingsStore();
    int runs = argc > 1 ? atoi(argv[1]) : 5;
    if (runs < 1)
        runs = 1;
    CoInitialize(nullptr);
    std::vector<double> applyTimes, removeTimes;
    Tally applied = {}, removed = {};
    bool steady = true, stopped = false;
    for (int run = 0; run < runs; ++run) {
        wchar_t group[PathCapacity] = L"";
        Counted = Tally();
        OverrideRegistryFunctions(&Counting);
        LARGE_INTEGER start = Now();
        stopped |= !ApplyIntegration(EveryChoice(), group, PathCapacity);
        LARGE_INTEGER end = Now();
        Tally apply = Counted;
        Counted = Tally();
        LARGE_INTEGER removeStart = Now();
        RemoveFromRegistry();
        LARGE_INTEGER removeEnd = Now();
        OverrideRegistryFunctions(nullptr);
        applyTimes.push_back(Milliseconds(start, end));
        removeTimes.push_back(Milliseconds(removeStart, removeEnd));
        if (run > 0 && (!(apply == applied) || !(Counted == removed)))
            steady = false;
        applied = apply;
        removed = Counted;
    }
    CoUninitialize();

#ifdef _WIN64
    const char* build = "64-bit";
#else
    const char* build = "32-bit";
#endif
    printf("ApplyIntegration with every choice on, in-process (%s build), %d runs, each undone "
           "by RemoveRegistrations:\n",
           build, runs);
    printf("  apply   first %8.1f ms  median %8.1f ms\n", applyTimes[0], Median(applyTimes));
    printf("  remove  first %8.1f ms  median %8.1f ms\n", removeTimes[0], Median(removeTimes));
    PrintTally("apply", applied);
    PrintTally("remove", removed);
    if (!steady)
        printf("  (the counts differed between runs; the last run's are shown)\n");
    if (stopped)
        printf("  (the apply STOPPED at a refused write)\n");
    return stopped ? 1 : 0;
}
