#include "common/system.h"

#include "common/paths.h"

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

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
    wchar_t path[2048];
    UINT length = GetSystemDirectoryW(path, 2048);
    if (length == 0 || length >= 2048)
        return nullptr;
    JoinPath(path, fileName, path, 2048);
    return LoadLibraryW(path);
}

bool RunsUnderWow64() {
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    auto isWow64 = kernel ? GetExport<IsWow64ProcessFn>(kernel, "IsWow64Process") : nullptr;
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}
