// Helpers shared by the unit tests and the fuzz campaigns: this test program's folder, registry
// values read without the program's registry layer, file texts in their encodings, a failing
// file read, a copy of this program run as a child, refused registry writes through the registry
// override table, and the diagnostic lines of a test.
#pragma once
#include <windows.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "common/diagnostics.h"
#include "common/registry.h"
#include "integration/choices.h"
#include "uninstall/removal.h"

// The choice records the tests start from. Every archive type and nothing else: a test turns on
// the other choices it needs.
inline IntegrationSettings EveryArchiveType() {
    IntegrationSettings settings = {};
    for (uint8_t& flag : settings.associate)
        flag = 1;
    return settings;
}
// Every choice on: each archive type, each shortcut, the shell extension in every form.
inline IntegrationSettings EveryChoice() {
    IntegrationSettings settings = EveryArchiveType();
    settings.linkDesktop = settings.linkStartMenu = settings.linkProgramGroup = 1;
    settings.shellExtension = settings.cascadedMenu = settings.menuIcons = 1;
    settings.legacyMenu = 1;
    return settings;
}

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

// A text's bytes in UTF-16, low byte first, as a language or settings file holds them.
inline std::string Utf16(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) {
        bytes += char(c & 0xFF);
        bytes += char(c >> 8);
    }
    return bytes;
}

// Test texts in the ANSI form are ASCII only, so each character is its byte.
inline std::string Bytes(const std::wstring& text, bool wide) {
    return wide ? Utf16(text) : std::string(text.begin(), text.end());
}

// A file read that delivers ReadsLeft more bytes and then fails, for FileReadOverride.
inline uint32_t ReadsLeft = 0;
inline bool ReadFailingAt(HANDLE handle, void* buffer, DWORD size, DWORD* read) {
    if (ReadsLeft == 0) {
        SetLastError(ERROR_CRC);
        return false;
    }
    DWORD wanted = size < ReadsLeft ? size : ReadsLeft;
    bool done = ReadFile(handle, buffer, wanted, read, nullptr) != FALSE;
    ReadsLeft -= *read < ReadsLeft ? *read : ReadsLeft;
    return done;
}

// What Windows is to do at the next restart ("PendingFileRenameOperations"): pairs of a source
// ("\??\" and its path) and a target, empty for a deletion.
inline std::vector<std::pair<std::wstring, std::wstring>> PendingFileOperations() {
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return pairs;
    std::vector<wchar_t> data(1 << 20);
    DWORD size = DWORD(data.size() * sizeof(wchar_t)) - 4;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
        std::vector<std::wstring> texts;
        for (const wchar_t* p = data.data(); p < data.data() + size / 2;
             p += texts.back().size() + 1)
            texts.push_back(p);
        for (size_t i = 0; i + 1 < texts.size(); i += 2)
            pairs.emplace_back(texts[i], texts[i + 1]);
    }
    RegCloseKey(key);
    return pairs;
}

// Runs `program` (this test program, or a copy of it) with the tests that match `filter`,
// disabled ones included, and gives its exit code: 0 when they passed.
// The exit code of a command run in `folder` (null: this one) to its end, or -1.
inline DWORD RunChild(std::wstring command, const wchar_t* folder = nullptr) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        folder, &startup, &process))
        return DWORD(-1);
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = DWORD(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

inline DWORD RunTestsInChild(const std::wstring& program, const wchar_t* filter) {
    return RunChild(L"\"" + program + L"\" --gtest_filter=" + filter +
                    L" --gtest_also_run_disabled_tests");
}

// The machine's record of what the setup replaced: one extension's value, and the product key
// of both views (the record with it) cleared as a test starts.
inline std::wstring RecordValue(const std::wstring& extension, const wchar_t* name) {
    return RawValue(HKEY_LOCAL_MACHINE, L"Software\\Bundlo\\Setup\\" + extension, name,
                    KEY_WOW64_64KEY);
}
inline void DeleteMachineProductKeys() {
    for (REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)}) {
        HKEY software;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | view, &software) ==
            ERROR_SUCCESS) {
            RegDeleteTreeW(software, L"Bundlo");
            RegDeleteKeyExW(software, L"Bundlo", view, 0);
            RegCloseKey(software);
        }
    }
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

// One registry call that fails once, as the fault campaign (tests/fuzz/campaign_faults.cpp)
// makes them; tests keep its findings as fixed cases. The `occurrence`-th call of the kind whose
// key path (open, create) or value name (query, set, delete) equals `target`, case aside, fails
// with `error`; every other call goes to the registry.
enum class RegistryCall { OpenKey, CreateKey, QueryValue, SetValue, DeleteValue, DeleteKey };

class FailingCall {
  public:
    FailingCall(RegistryCall kind, const wchar_t* target, LONG error, int occurrence = 1) {
        State().Kind = kind;
        State().Target = target;
        State().Error = error;
        State().Left = occurrence;
        State().Failed = false;
        Table = RealRegistryFunctions();
        Table.OpenKey = Open;
        Table.CreateKey = Create;
        Table.QueryValue = Query;
        Table.SetValue = Set;
        Table.DeleteValue = Delete;
        Table.DeleteKey = DeleteKey;
        Table.DeleteKeyEx = DeleteKeyEx;
        OverrideRegistryFunctions(&Table);
    }
    ~FailingCall() { OverrideRegistryFunctions(nullptr); }
    FailingCall(const FailingCall&) = delete;
    FailingCall& operator=(const FailingCall&) = delete;
    // Whether the call came and failed.
    static bool Failed() { return State().Failed; }

  private:
    struct Rule {
        RegistryCall Kind;
        std::wstring Target;
        LONG Error;
        int Left;
        bool Failed;
    };
    static Rule& State() {
        static Rule rule;
        return rule;
    }
    static bool Fails(RegistryCall kind, const wchar_t* name) {
        Rule& rule = State();
        if (rule.Kind != kind || rule.Left <= 0 || !name ||
            _wcsicmp(name, rule.Target.c_str()) != 0)
            return false;
        if (--rule.Left > 0)
            return false;
        rule.Failed = true;
        return true;
    }
    static LONG WINAPI Open(HKEY key, LPCWSTR sub, DWORD options, REGSAM access, PHKEY result) {
        if (Fails(RegistryCall::OpenKey, sub)) {
            *result = nullptr;
            return State().Error;
        }
        return RealRegistryFunctions().OpenKey(key, sub, options, access, result);
    }
    static LONG WINAPI Create(HKEY key, LPCWSTR sub, DWORD reserved, LPWSTR keyClass, DWORD options,
                              REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                              LPDWORD disposition) {
        if (Fails(RegistryCall::CreateKey, sub)) {
            *result = nullptr;
            return State().Error;
        }
        return RealRegistryFunctions().CreateKey(key, sub, reserved, keyClass, options, access,
                                                 security, result, disposition);
    }
    static LONG WINAPI Query(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
        if (Fails(RegistryCall::QueryValue, name ? name : L""))
            return State().Error;
        return RealRegistryFunctions().QueryValue(key, name, reserved, type, data, size);
    }
    static LONG WINAPI Set(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) {
        if (Fails(RegistryCall::SetValue, name ? name : L""))
            return State().Error;
        return RealRegistryFunctions().SetValue(key, name, reserved, type, data, size);
    }
    static LONG WINAPI Delete(HKEY key, LPCWSTR name) {
        if (Fails(RegistryCall::DeleteValue, name ? name : L""))
            return State().Error;
        return RealRegistryFunctions().DeleteValue(key, name);
    }
    static LONG WINAPI DeleteKey(HKEY key, LPCWSTR sub) {
        if (Fails(RegistryCall::DeleteKey, sub))
            return State().Error;
        return RealRegistryFunctions().DeleteKey(key, sub);
    }
    static LONG WINAPI DeleteKeyEx(HKEY key, LPCWSTR sub, REGSAM view, DWORD reserved) {
        if (Fails(RegistryCall::DeleteKey, sub))
            return State().Error;
        return RealRegistryFunctions().DeleteKeyEx(key, sub, view, reserved);
    }
    RegistryFunctions Table;
};

// The registry half of a whole removal, as the uninstall run does it around the files: false,
// with the installation's entries left, when an extension could not be given back; false, with
// the record left, when the uninstall entry or App Paths could not be deleted.
inline bool RemoveFromRegistry() {
    const InstallationRecord installation = FindInstallationRecord();
    if (!RemoveRegistrations(installation))
        return false;
    return RemoveInstallationEntries(installation);
}
