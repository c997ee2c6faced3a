// Helpers shared by the unit tests: this test program's folder, registry values read without
// the program's registry layer, a copy of this program run as a child, refused registry writes
// through the registry override table, and the diagnostic lines of a test.
#pragma once
#include <windows.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "common/registry.h"

// The folder of the running test program: each test program has one of its own, and the
// program under test looks for its files ("Bundlo.ini", "bdllng.dll" ...) there.
inline std::wstring ModuleFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\'));
}

const wchar_t MissingValue[] = L"<missing>";

// A value as text (a number in decimal), or MissingValue.
inline std::wstring RawValue(HKEY root, const std::wstring& key, const wchar_t* name,
                             REGSAM view = 0) {
    HKEY opened;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS)
        return MissingValue;
    wchar_t data[2048];
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    LONG result =
        RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(opened);
    if (result != ERROR_SUCCESS)
        return MissingValue;
    if (type == REG_DWORD) {
        DWORD number;
        memcpy(&number, data, sizeof number);
        return std::to_wstring(number);
    }
    data[size / sizeof(wchar_t)] = 0;
    return data;
}

inline bool RawKeyExists(HKEY root, const std::wstring& key, REGSAM view = 0) {
    HKEY opened;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

// Runs `program` (this test program, or a copy of it) with the tests that match `filter`,
// disabled ones included, and gives its exit code: 0 when they passed.
inline DWORD RunTestsInChild(const std::wstring& program, const wchar_t* filter) {
    std::wstring command =
        L"\"" + program + L"\" --gtest_filter=" + filter + L" --gtest_also_run_disabled_tests";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
        return DWORD(-1);
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = DWORD(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// Key creations that a test wants refused, as a user without rights meets them.
inline bool (*RefuseCreation)(HKEY root, const wchar_t* resolvedPath) = nullptr;

inline LONG WINAPI RefusingCreateKey(HKEY root, LPCWSTR path, DWORD reserved, LPWSTR keyClass,
                                     DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                                     PHKEY key, LPDWORD disposition) {
    if (RefuseCreation && RefuseCreation(root, path))
        return ERROR_ACCESS_DENIED;
    return RealRegistryFunctions().CreateKey(root, path, reserved, keyClass, options, access,
                                             security, key, disposition);
}

// Installs RefusingCreateKey with the given rule until the object goes.
class RefusedCreations {
  public:
    explicit RefusedCreations(bool (*rule)(HKEY root, const wchar_t* resolvedPath)) {
        RefuseCreation = rule;
        Table = RealRegistryFunctions();
        Table.CreateKey = RefusingCreateKey;
        OverrideRegistryFunctions(&Table);
    }
    ~RefusedCreations() {
        OverrideRegistryFunctions(nullptr);
        RefuseCreation = nullptr;
    }
    RefusedCreations(const RefusedCreations&) = delete;
    RefusedCreations& operator=(const RefusedCreations&) = delete;

  private:
    RegistryFunctions Table;
};

// The diagnostic lines reported while the object lives, without their line end.
class CapturedDiagnostics {
  public:
    CapturedDiagnostics() : Previous(OverrideDiagnosticSink(Keep)) { Lines().clear(); }
    ~CapturedDiagnostics() { OverrideDiagnosticSink(Previous); }
    CapturedDiagnostics(const CapturedDiagnostics&) = delete;
    CapturedDiagnostics& operator=(const CapturedDiagnostics&) = delete;
    static std::vector<std::wstring>& Lines() {
        static std::vector<std::wstring> lines;
        return lines;
    }

  private:
    DiagnosticSink Previous;
    static void Keep(const wchar_t* line) {
        std::wstring text = line;
        if (!text.empty() && text.back() == L'\n')
            text.pop_back();
        Lines().push_back(text);
    }
};

// Stands in for GetVersionExW through the version query override: Windows 11. Windows 11 itself
// reports 10.0 and is told from Windows 10 by WMI, which under Wine names the system Windows 10
// once COM is up in the thread; a version above 10 needs no WMI answer.
inline BOOL WINAPI PretendWindows11(OSVERSIONINFOW* info) {
    info->dwMajorVersion = 11;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 26100;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}
