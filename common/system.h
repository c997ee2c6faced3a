// What the program asks of the system it runs on, and how it loads system libraries.
#pragma once
#include <windows.h>

#include "common/handles.h"

// Takes the current directory out of the library search path (or puts it back). Excluding it
// also limits the default search to the system folder where SetDefaultDllDirectories exists:
// the program's own folder, and anything planted beside it, is never searched; what the program
// loads from its folder it loads by full path.
void SetSafeDllSearch(bool excludeCurrentDirectory);

// The full path of the running program; empty when it does not fit, since a cut path would name
// some other file.
void GetProgramPath(wchar_t* destination, size_t capacity);
template <size_t N> void GetProgramPath(wchar_t (&destination)[N]) {
    GetProgramPath(destination, N);
}

// The folder of the running program joined with name; false, with an empty destination, when
// the program's path is unknown (GetProgramPath) or the result does not fit.
bool GetProgramFile(const wchar_t* name, wchar_t* destination, size_t capacity);
template <size_t N> bool GetProgramFile(const wchar_t* name, wchar_t (&destination)[N]) {
    return GetProgramFile(name, destination, N);
}

// A BSTR copy of a text. Running out of memory is the program's one out-of-memory exit.
OwnedBstr CopyToBstr(const wchar_t* text);

// Whether this process runs with an administrator's full rights (an elevated token), as the
// manifest's "highest available" level gives an administrator. A token that cannot be read
// counts as elevated: the care an elevated run takes costs an unelevated one little.
bool IsElevated();
// Whether this process runs as the machine's own account, LocalSystem (a deployment agent).
bool RunsAsLocalSystem();
// The temporary folder for what an elevated run hands to another process: the system's (the
// one GetTempPath2W gives LocalSystem where Windows has it, else %SystemRoot%\Temp), which
// users cannot redirect; the user's own (TEMP) when not elevated. False, with an empty
// destination, when it does not fit.
bool GetTemporaryFolder(bool elevated, wchar_t* destination, size_t capacity);
template <size_t N> bool GetTemporaryFolder(bool elevated, wchar_t (&destination)[N]) {
    return GetTemporaryFolder(elevated, destination, N);
}
// Test seam: forces IsElevated's answer either way. The program never sets it.
enum ElevationQuery { ElevationOfToken, PretendElevated, PretendUnelevated };
extern ElevationQuery ElevationOverride;

// One holder at a time across the machine's sessions, within one circle: the Administrators
// group (elevated runs and SYSTEM), or one account (its unelevated runs). No process outside the
// circle can make the lock first, open it or hold it, so none can keep the circle waiting.
// Where Windows has private namespaces (every version the program supports), the lock is the
// mutex <space>\<name> in a namespace whose boundary is the circle's group or account and which
// only that and SYSTEM may create or open. Where the system has none (this Wine), it is the
// mutex "Global\<space>.<name>" with the same security; one there that the circle does not own
// (another account made it, or it cannot be opened) is left alone, and the lock is unavailable.
class MachineLock {
  public:
    enum Outcome { Taken, Busy, Unavailable };
    MachineLock() : Held(false) { FullName[0] = 0; }
    ~MachineLock() {
        if (Held)
            ReleaseMutex(Mutex.get());
    }
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;

    // Called once. Taken: held until the object goes. Busy: another process of the circle holds
    // it. Unavailable: it cannot be had (a diagnostic line says why), which must stop no run.
    Outcome Take(const wchar_t* space, const wchar_t* name, bool administrators);
    // The name the lock was looked for under, for the diagnostics.
    const wchar_t* Name() const { return FullName; }

  private:
    OwnedPrivateNamespace Space; // declared first, so that it goes after the mutex in it
    OwnedHandle Mutex;
    bool Held;
    wchar_t FullName[64];
};

// The Windows system folder (C:\Windows\System32 or its WOW64 view), without a trailing
// backslash; false with an empty destination when it does not fit.
bool GetSystemFolder(wchar_t* destination, size_t capacity);
template <size_t N> bool GetSystemFolder(wchar_t (&destination)[N]) {
    return GetSystemFolder(destination, N);
}

// One process as the system knows it: its id, and when it started, which no later process that
// is given the same id shares.
struct ProcessStamp {
    DWORD Id;
    unsigned long long Started; // FILETIME of its creation
};
// This process's stamp; false when the system does not tell its start.
bool OwnProcessStamp(ProcessStamp& stamp);
// Waits, through a handle of it, until the process with that stamp has ended, at most `limit`
// milliseconds. True when it has ended (or is gone already, or the id now names another process);
// false when it still runs at the limit or cannot be waited for.
bool WaitForProcessEnd(const ProcessStamp& stamp, DWORD limit);

// Loads a library by its full path in the Windows system folder, never from the search path,
// so a planted copy beside the installer cannot be picked up.
OwnedModule LoadSystemLibrary(const wchar_t* fileName);

// A function that a module may or may not export (newer Windows versions), typed by the caller.
template <typename Function> Function GetExport(HMODULE module, const char* name) {
    // Through void*: FARPROC's own type does not match any real export.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The platform answers below are computed once and kept for the rest of the run; they are
// meant for the user-interface thread only (nothing is locked).

// A 32-bit process on 64-bit Windows: the 32-bit build where a 64-bit one would serve better,
// which the setup's 64-bit notice tells. A failed IsWow64Process counts as "no" and is asked
// again at the next call.
bool RunsUnderWow64();

// 64-bit Windows, whichever build asks: the 64-bit build runs nowhere else, and the 32-bit build
// learns it from WOW64. Decides which shell extensions and registry views the machine has.
bool Is64BitWindows();

// The Windows version as major * 256 + minor (0x600 Vista, 0xA00 Windows 10 and 11); 0 when the
// system does not say. Windows reports 10.0 only to programs whose manifest declares Windows 10
// as supported.
unsigned WindowsVersion();

// The Windows 11 shell, whose context menu needs the classic-menu handling. Windows 11 still
// reports version 10.0, so builds from 22000 on are Windows 11 unless WMI names the system
// Windows 10.
bool IsWindows11OrLater();

// Whether WMI's Win32_OperatingSystem names the system "Windows 10". COM must already be
// initialised in the calling thread; any failing COM or WMI step answers false. The query runs
// on a worker of its own and is given WmiTimeLimit milliseconds: a damaged repository can keep
// it waiting for ever, and an unattended setup must not hang on it. Past the limit the answer is
// false, as with WMI unavailable, and a diagnostic line says so.
bool WmiReportsWindows10();
extern DWORD WmiTimeLimit;
// Test seam: stands in for the query itself on the worker (one that never answers, say). The
// program never sets it.
extern bool (*WmiQueryOverride)();

// The version query override, a test seam: Windows 11 cannot be produced under Wine, so unit
// tests put a function here that stands in for GetVersionExW in WindowsVersion and
// IsWindows11OrLater. The program never sets it; null means the real GetVersionExW.
typedef BOOL(WINAPI* VersionQuery)(OSVERSIONINFOW* info);
extern VersionQuery VersionQueryOverride;

// For tests only: forgets every cached platform answer, so that the next calls ask the system
// (or the version query override) again.
void ResetPlatformCache();
