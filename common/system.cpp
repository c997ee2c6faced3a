#include "common/system.h"

#include <oleauto.h>
#include <wbemcli.h>
#include <wchar.h>

#include "common/array.h"
#include "common/com.h"
#include "common/paths.h"

VersionQuery VersionQueryOverride = nullptr;

namespace {
// -1 until IsWow64Process has answered; then its flag.
int Wow64State = -1;
// -1 until WindowsVersion has asked; then the platform id and version of that one query.
int VersionPlatform = -1;
DWORD VersionMajor = 0;
DWORD VersionMinor = 0;
bool Windows11Known = false;
bool Windows11Answer = false;

OSVERSIONINFOW QueryVersion() {
    // Filled with zeros apart from the size: a failed query leaves the structure untouched, and
    // it must then read as "not NT, version 0" rather than as whatever the stack held.
    OSVERSIONINFOW info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    (VersionQueryOverride ? VersionQueryOverride : GetVersionExW)(&info);
    return info;
}

// A BSTR copy of a literal, freed with the scope. Allocation failure is the program's one
// out-of-memory exit.
class Bstr {
  public:
    explicit Bstr(const wchar_t* source) : text(SysAllocString(source)) {
        if (!text)
            MemoryExit();
    }
    ~Bstr() { SysFreeString(text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    operator BSTR() const { return text; }

  private:
    BSTR text;
};
} // namespace

void SetSafeDllSearch(bool excludeCurrentDirectory) {
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (!kernel)
        return;
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCWSTR);
    auto setDllDirectory = GetExport<SetDllDirectoryFn>(kernel, "SetDllDirectoryW");
    if (setDllDirectory)
        setDllDirectory(excludeCurrentDirectory ? L"" : nullptr);
    // SetDefaultDllDirectories is looked up but left alone: restricting the default directories
    // would also drop the application folder, and the system libraries are loaded by full path.
    (void)GetProcAddress(kernel, "SetDefaultDllDirectories");
}

bool GetSystemFolder(wchar_t* destination, size_t capacity) {
    if (capacity == 0)
        return false;
    UINT limit = capacity > PathCapacity ? UINT(PathCapacity) : UINT(capacity);
    UINT length = GetSystemDirectoryW(destination, limit);
    if (length == 0 || length >= limit) {
        destination[0] = 0;
        return false;
    }
    return true;
}

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
    wchar_t path[PathCapacity];
    if (!GetSystemFolder(path))
        return nullptr;
    JoinPath(path, fileName, path);
    return LoadLibraryW(path);
}

bool RunsUnderWow64() {
    if (Wow64State != -1)
        return Wow64State == 1;
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    // Windows before XP SP2 has no such export: such a system is never 64-bit.
    auto isWow64 = kernel ? GetExport<IsWow64ProcessFn>(kernel, "IsWow64Process") : nullptr;
    BOOL wow64 = FALSE;
    if (!isWow64 || !isWow64(GetCurrentProcess(), &wow64))
        return false;
    Wow64State = wow64;
    return Wow64State == 1;
}

bool Is64BitWindows() {
#ifdef _WIN64
    return true;
#else
    return RunsUnderWow64();
#endif
}

unsigned WindowsVersion() {
    if (VersionPlatform == -1) {
        OSVERSIONINFOW info = QueryVersion();
        VersionPlatform = int(info.dwPlatformId);
        VersionMajor = info.dwMajorVersion;
        VersionMinor = info.dwMinorVersion;
    }
    if (VersionPlatform == VER_PLATFORM_WIN32_NT)
        return VersionMajor * 256 + VersionMinor;
    return 0x0501;
}

bool IsWindows11OrLater() {
    if (Windows11Known)
        return Windows11Answer;
    // A query of its own: the build number is not part of WindowsVersion's cache.
    OSVERSIONINFOW info = QueryVersion();
    bool answer = false;
    if (info.dwMajorVersion > 10)
        answer = true;
    else if (info.dwMajorVersion == 10 && info.dwBuildNumber >= 22000)
        // Such a build normally is Windows 11, but a system whose product name says Windows 10
        // keeps the Windows 10 shell; with WMI unavailable the build decides.
        answer = !WmiReportsWindows10();
    Windows11Answer = answer;
    Windows11Known = true;
    return answer;
}

bool WmiReportsWindows10() {
    // Declared in this order so that they are released as services, locator, enumerator.
    ComRef<IEnumWbemClassObject> enumerator;
    ComRef<IWbemLocator> locator;
    ComRef<IWbemServices> services;

    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                locator.ReceiveUntyped())))
        return false;
    {
        Bstr space(L"ROOT\\CIMV2");
        if (FAILED(locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                          services.Receive())))
            return false;
    }
    if (FAILED(CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                 EOAC_NONE)))
        return false;
    {
        Bstr language(L"WQL");
        Bstr query(L"SELECT * FROM Win32_OperatingSystem");
        if (FAILED(services->ExecQuery(language, query,
                                       WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                       nullptr, enumerator.Receive())))
            return false;
    }
    bool windows10 = false;
    for (;;) {
        ComRef<IWbemClassObject> object;
        ULONG returned = 0;
        enumerator->Next(WBEM_INFINITE, 1, object.Receive(), &returned);
        if (returned == 0 || !object.Get())
            break;
        VARIANT name;
        VariantInit(&name);
        // Only a text counts: a missing or null Name is no evidence of Windows 10.
        if (SUCCEEDED(object->Get(L"Name", 0, &name, nullptr, nullptr)) && name.vt == VT_BSTR &&
            name.bstrVal && wcsstr(name.bstrVal, L"Windows 10"))
            windows10 = true;
        VariantClear(&name);
    }
    return windows10;
}

void ResetPlatformCache() {
    Wow64State = -1;
    VersionPlatform = -1;
    VersionMajor = 0;
    VersionMinor = 0;
    Windows11Known = false;
    Windows11Answer = false;
}
