#include "common/system.h"

#include <aclapi.h>
#include <oleauto.h>
#include <sddl.h>
#include <wbemcli.h>
#include <wchar.h>

#include <new>

#include "common/array.h"
#include "common/handles.h"
#include "common/diagnostics.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/text.h"

VersionQuery VersionQueryOverride = nullptr;
ElevationQuery ElevationOverride = ElevationOfToken;
DWORD WmiTimeLimit = 5000;
bool (*WmiQueryOverride)() = nullptr;

namespace {
// -1 until IsWow64Process has answered; then its flag.
int Wow64State = -1;
// False until WindowsVersion has asked; then the version of that one query.
bool VersionKnown = false;
DWORD VersionMajor = 0;
DWORD VersionMinor = 0;
bool Windows11Known = false;
bool Windows11Answer = false;

OSVERSIONINFOW QueryVersion() {
    // Filled with zeros apart from the size: a failed query leaves the structure untouched, and
    // it must then read as version 0 rather than as whatever the stack held.
    OSVERSIONINFOW info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    (VersionQueryOverride ? VersionQueryOverride : GetVersionExW)(&info);
    return info;
}

} // namespace

void GetProgramPath(wchar_t* destination, size_t capacity) {
    if (capacity == 0)
        return;
    DWORD size = capacity > MAXDWORD ? MAXDWORD : DWORD(capacity);
    DWORD length = GetModuleFileNameW(nullptr, destination, size);
    if (length == 0 || length >= size)
        destination[0] = 0;
}

bool GetProgramFile(const wchar_t* name, wchar_t* destination, size_t capacity) {
    wchar_t folder[PathCapacity];
    GetProgramPath(folder);
    if (folder[0] != 0) {
        CutNamePart(folder);
        return JoinPath(folder, name, destination, capacity);
    }
    if (capacity > 0)
        destination[0] = 0;
    return false;
}

OwnedBstr CopyToBstr(const wchar_t* text) {
    OwnedBstr copy(SysAllocString(text));
    if (!copy)
        MemoryExit();
    return copy;
}

void SetSafeDllSearch(bool excludeCurrentDirectory) {
    SetDllDirectoryW(excludeCurrentDirectory ? L"" : nullptr);
    // Vista and 7 have it only with an update; without it the current directory is still out.
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    auto setDefault =
        kernel ? GetExport<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories")
               : nullptr;
    if (setDefault && excludeCurrentDirectory)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

namespace {
// The token of this process, or none.
OwnedHandle OpenOwnToken() {
    OwnedHandle token;
    if (!::OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        token.reset();
    return token;
}
} // namespace

bool IsElevated() {
    if (ElevationOverride != ElevationOfToken)
        return ElevationOverride == PretendElevated;
    OwnedHandle token = OpenOwnToken();
    TOKEN_ELEVATION elevation;
    DWORD size = 0;
    if (!token.get() ||
        !GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
        return true;
    return elevation.TokenIsElevated != 0;
}

bool GetTemporaryFolder(bool elevated, wchar_t* destination, size_t capacity) {
    if (capacity == 0)
        return false;
    DWORD limit = capacity > PathCapacity ? DWORD(PathCapacity) : DWORD(capacity);
    DWORD length = 0;
    typedef DWORD(WINAPI * GetTempPath2Fn)(DWORD, LPWSTR);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    auto getTempPath2 = kernel ? GetExport<GetTempPath2Fn>(kernel, "GetTempPath2W") : nullptr;
    if (!elevated) {
        length = GetTempPathW(limit, destination);
    } else if (getTempPath2 && RunsAsLocalSystem()) {
        length = getTempPath2(limit, destination);
    } else {
        UINT windows = GetSystemWindowsDirectoryW(destination, limit);
        if (windows != 0 && windows < limit && JoinPath(destination, L"Temp\\", destination, limit))
            length = DWORD(wcslen(destination));
    }
    if (length == 0 || length >= limit) {
        destination[0] = 0;
        return false;
    }
    return true;
}

namespace {
union OwnUser {
    TOKEN_USER User;
    BYTE Bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

// The account this process runs as; false when its token cannot be read.
bool ReadOwnUser(OwnUser& buffer) {
    OwnedHandle token = OpenOwnToken();
    DWORD size = 0;
    return token.get() &&
           GetTokenInformation(token.get(), TokenUser, &buffer, sizeof buffer, &size);
}
} // namespace

bool RunsAsLocalSystem() {
    OwnUser buffer;
    return ReadOwnUser(buffer) && IsWellKnownSid(buffer.User.User.Sid, WinLocalSystemSid);
}

namespace {
// A SID as text: "S-1-", an authority of up to 14 characters and at most 15 sub-authorities of
// up to ten digits each, with their dashes.
const size_t SidTextCapacity = 192;

// Whoever comes first makes the namespace, and it ends with its last handle: one found a moment
// ago may be gone when it is opened, and is then made again.
OwnedPrivateNamespace OpenLockSpace(HANDLE boundary, SECURITY_ATTRIBUTES* security,
                                    const wchar_t* space) {
    OwnedPrivateNamespace opened;
    for (int attempt = 0; attempt < 3 && !opened; attempt++) {
        opened.reset(CreatePrivateNamespaceW(security, boundary, space));
        if (opened || GetLastError() != ERROR_ALREADY_EXISTS)
            break;
        opened.reset(OpenPrivateNamespaceW(boundary, space));
        DWORD error = GetLastError();
        if (!opened && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            break;
    }
    return opened;
}

// Whether the circle (its group or account, or SYSTEM) owns an object: a mutex in the global
// namespace may have been made first by anyone.
bool OwnedByCircle(HANDLE object, PSID circle) {
    PSID owner = nullptr;
    OwnedLocal descriptor;
    return GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                           nullptr, nullptr,
                           reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) ==
               ERROR_SUCCESS &&
           owner && (EqualSid(owner, circle) || IsWellKnownSid(owner, WinLocalSystemSid));
}
} // namespace

MachineLock::Outcome MachineLock::Take(const wchar_t* space, const wchar_t* name,
                                       bool administrators) {
    // The circle as an SDDL text: the Administrators group, or this account's own SID.
    OwnedLocal ownText;
    OwnUser own;
    if (!administrators &&
        (!ReadOwnUser(own) ||
         !ConvertSidToStringSidW(own.User.User.Sid, reinterpret_cast<wchar_t**>(ownText.put()))))
        ownText.reset();
    const wchar_t* circle = administrators ? L"BA" : static_cast<const wchar_t*>(ownText.get());
    OwnedLocal circleSid, security;
    // Owned by the circle, and open to it and SYSTEM alone: what a member makes, every other
    // member (another administrator, SYSTEM) can open and wait for.
    wchar_t securityText[2 * SidTextCapacity + 40];
    OwnedBoundary boundary(CreateBoundaryDescriptorW(space, 0));
    if (FormatText(FullName, boundary ? L"%s\\%s" : L"Global\\%s.%s", space, name) < 0 || !circle ||
        FormatText(securityText, L"O:%sD:P(A;;GA;;;SY)(A;;GA;;;%s)", circle, circle) < 0 ||
        !ConvertStringSidToSidW(circle, reinterpret_cast<PSID*>(circleSid.put())) ||
        !(security = SecurityFromText(securityText))) {
        ReportFailure(L"describe the lock against a second run", space, GetLastError());
        return Unavailable;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.get(), FALSE};
    if (boundary) {
        // Only a member of the circle can make a namespace whose boundary names it.
        HANDLE raw = boundary.release();
        BOOL added = AddSIDToBoundaryDescriptor(&raw, circleSid.get());
        boundary.reset(raw);
        if (added)
            Space = OpenLockSpace(boundary.get(), &attributes, space);
        if (!Space) {
            ReportFailure(L"open the namespace of the lock against a second run", space,
                          GetLastError());
            return Unavailable;
        }
    }
    Mutex.reset(CreateMutexW(&attributes, FALSE, FullName));
    DWORD error = GetLastError();
    if (Mutex && !boundary && error == ERROR_ALREADY_EXISTS &&
        !OwnedByCircle(Mutex.get(), circleSid.get())) {
        Mutex.reset();
        error = ERROR_INVALID_OWNER;
    }
    if (!Mutex) {
        // Denied, in the global namespace, means that another account made it.
        bool foreign = !boundary && (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_OWNER);
        ReportFailure(foreign ? L"leave alone a lock that another account made"
                              : L"create the lock against a second run",
                      FullName, error);
        return Unavailable;
    }
    // Abandoned: the run that held it ended without letting go; nothing runs now.
    DWORD taken = WaitForSingleObject(Mutex.get(), 0);
    Held = taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED;
    return Held ? Taken : Busy;
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

OwnedModule LoadSystemLibrary(const wchar_t* fileName) {
    wchar_t path[PathCapacity];
    if (!GetSystemFolder(path) || !JoinPath(path, fileName, path))
        return OwnedModule();
    return OwnedModule(LoadLibraryW(path));
}

bool RunsUnderWow64() {
    if (Wow64State != -1)
        return Wow64State == 1;
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64))
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
    if (!VersionKnown) {
        OSVERSIONINFOW info = QueryVersion();
        VersionKnown = true;
        VersionMajor = info.dwMajorVersion;
        VersionMinor = info.dwMinorVersion;
    }
    return VersionMajor * 256 + VersionMinor;
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

namespace {

bool QueryWmiForWindows10() {
    // Declared in this order so that they are released as services, locator, enumerator.
    ComRef<IEnumWbemClassObject> enumerator;
    ComRef<IWbemLocator> locator;
    ComRef<IWbemServices> services;

    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                locator.put_void())))
        return false;
    {
        OwnedBstr space = CopyToBstr(L"ROOT\\CIMV2");
        if (FAILED(locator->ConnectServer(space.get(), nullptr, nullptr, nullptr, 0, nullptr,
                                          nullptr, services.put())))
            return false;
    }
    if (FAILED(CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                 EOAC_NONE)))
        return false;
    {
        OwnedBstr language = CopyToBstr(L"WQL");
        OwnedBstr query = CopyToBstr(L"SELECT * FROM Win32_OperatingSystem");
        if (FAILED(services->ExecQuery(language.get(), query.get(),
                                       WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                       nullptr, enumerator.put())))
            return false;
    }
    bool windows10 = false;
    for (;;) {
        ComRef<IWbemClassObject> object;
        ULONG returned = 0;
        enumerator->Next(WBEM_INFINITE, 1, object.put(), &returned);
        if (returned == 0 || !object)
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

// Shared by the caller and the worker; whichever lets go last frees it, so that a worker still
// waiting on WMI after its caller gave up finds its answer's place intact.
struct WmiJob {
    LONG References;
    LONG Answer;
};

void Release(WmiJob* job) {
    if (InterlockedDecrement(&job->References) == 0)
        delete job;
}

DWORD WINAPI WmiWorker(void* parameter) {
    WmiJob* job = static_cast<WmiJob*>(parameter);
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        bool answer = WmiQueryOverride ? WmiQueryOverride() : QueryWmiForWindows10();
        InterlockedExchange(&job->Answer, answer ? 1 : 0);
        CoUninitialize();
    }
    Release(job);
    return 0;
}

} // namespace

bool WmiReportsWindows10() {
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (CoGetApartmentType(&type, &qualifier) == CO_E_NOTINITIALIZED)
        return false;
    WmiJob* job = new (std::nothrow) WmiJob{2, 0};
    if (!job)
        MemoryExit();
    OwnedHandle worker(CreateThread(nullptr, 0, WmiWorker, job, 0, nullptr));
    if (!worker) {
        delete job;
        return false;
    }
    bool inTime = WaitForSingleObject(worker.get(), WmiTimeLimit) == WAIT_OBJECT_0;
    worker.reset();
    bool answer = inTime && InterlockedCompareExchange(&job->Answer, 0, 0) == 1;
    Release(job);
    if (!inTime)
        ReportFailure(L"ask WMI for the system's name (no answer in time)",
                      L"Win32_OperatingSystem", ERROR_TIMEOUT);
    return answer;
}

void ResetPlatformCache() {
    Wow64State = -1;
    VersionKnown = false;
    VersionMajor = 0;
    VersionMinor = 0;
    Windows11Known = false;
    Windows11Answer = false;
}

namespace {

bool StartOf(HANDLE process, unsigned long long& started) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return false;
    started =
        (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return true;
}

} // namespace

bool OwnProcessStamp(ProcessStamp& stamp) {
    stamp.Id = GetCurrentProcessId();
    return StartOf(GetCurrentProcess(), stamp.Started);
}

bool WaitForProcessEnd(const ProcessStamp& stamp, DWORD limit) {
    OwnedHandle process(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, stamp.Id));
    if (!process) {
        // No process has the id any more; one we may not open is nobody we wait for either.
        return GetLastError() == ERROR_INVALID_PARAMETER;
    }
    unsigned long long started = 0;
    if (!StartOf(process.get(), started))
        return false;
    // The id was given again to a process started since: ours has ended.
    if (started != stamp.Started)
        return true;
    return WaitForSingleObject(process.get(), limit) == WAIT_OBJECT_0;
}
