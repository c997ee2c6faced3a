// Platform questions, and system libraries loaded by full path so that no planted copy is used.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <sddl.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <thread>

#include "common/paths.h"
#include "common/system.h"

namespace {
TEST(RunsUnderWow64, TrueExactlyForThe32BitBuildIn64BitWindows) {
    // The test prefix is 64-bit, so the answer follows the build's word size.
    ResetPlatformCache();
    EXPECT_EQ(sizeof(void*) == 4, RunsUnderWow64());
    EXPECT_EQ(sizeof(void*) == 4, RunsUnderWow64()) << "the cached answer differs";
}

TEST(LoadSystemLibrary, LoadsFromTheSystemFolderAndNothingElse) {
    OwnedModule richEdit = LoadSystemLibrary(L"riched20.dll");
    ASSERT_TRUE(richEdit);
    wchar_t loaded[MAX_PATH], system[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameW(richEdit.get(), loaded, MAX_PATH));
    ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
    AddTrailingBackslash(system, MAX_PATH);
    EXPECT_EQ(0, _wcsnicmp(loaded, system, wcslen(system))) << "loaded from elsewhere";
    EXPECT_FALSE(LoadSystemLibrary(L"no-such-library-bdl.dll"));
}

// What the stand-in for GetVersionExW reports, and what it saw.
struct FakeSystem {
    BOOL succeeds;
    DWORD platform, major, minor, build;
};
FakeSystem Fake;
int FakeCalls;
DWORD SizeGiven;
bool GivenUninitialised; // a field other than the size held something before the call

BOOL WINAPI FakeVersionQuery(OSVERSIONINFOW* info) {
    ++FakeCalls;
    SizeGiven = info->dwOSVersionInfoSize;
    GivenUninitialised = info->dwPlatformId != 0 || info->dwMajorVersion != 0 ||
                         info->dwMinorVersion != 0 || info->dwBuildNumber != 0 ||
                         info->szCSDVersion[0] != 0;
    // Like the real call, a failure writes nothing.
    if (!Fake.succeeds)
        return FALSE;
    info->dwPlatformId = Fake.platform;
    info->dwMajorVersion = Fake.major;
    info->dwMinorVersion = Fake.minor;
    info->dwBuildNumber = Fake.build;
    return TRUE;
}

// Runs work on a thread of its own: in a single-threaded apartment as the program's start-up
// makes one (OleInitialize), or without COM, where WMI cannot be reached.
template <typename Work> void OnThread(bool withCom, Work work) {
    std::thread thread([&] {
        if (withCom)
            OleInitialize(nullptr);
        work();
        if (withCom)
            OleUninitialize();
    });
    thread.join();
}

// Whether this thread can reach COM at all: the precondition of "WMI unavailable".
bool ComReachable() {
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    return CoGetApartmentType(&type, &qualifier) != CO_E_NOTINITIALIZED;
}

// Every test starts from empty caches with the fake in place of the version query.
class VersionQueryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetPlatformCache();
        VersionQueryOverride = FakeVersionQuery;
        FakeCalls = 0;
        Report(VER_PLATFORM_WIN32_NT, 10, 0, 19045);
    }
    void TearDown() override {
        VersionQueryOverride = nullptr;
        ResetPlatformCache();
    }
    static void Report(DWORD platform, DWORD major, DWORD minor, DWORD build) {
        Fake = {TRUE, platform, major, minor, build};
    }
};

TEST_F(VersionQueryTest, WindowsVersionIsMajorAndMinor) {
    struct Case {
        DWORD platform, major, minor;
        unsigned expected;
    };
    const Case cases[] = {
        {VER_PLATFORM_WIN32_NT, 6, 0, 0x600}, {VER_PLATFORM_WIN32_NT, 6, 1, 0x601},
        {VER_PLATFORM_WIN32_NT, 6, 3, 0x603}, {VER_PLATFORM_WIN32_NT, 10, 0, 0xA00},
        {VER_PLATFORM_WIN32_NT, 5, 0, 0x500},
    };
    for (const Case& c : cases) {
        ResetPlatformCache();
        Report(c.platform, c.major, c.minor, 1000);
        EXPECT_EQ(c.expected, WindowsVersion())
            << "platform " << c.platform << ", version " << c.major << "." << c.minor;
    }
}

TEST_F(VersionQueryTest, WindowsVersionAsksOnceWithTheWholeStructure) {
    Report(VER_PLATFORM_WIN32_NT, 6, 1, 7601);
    EXPECT_EQ(0x601u, WindowsVersion());
    // Windows reports nothing to a structure of another size.
    EXPECT_EQ(276u, SizeGiven);
    Report(VER_PLATFORM_WIN32_NT, 10, 0, 19045);
    EXPECT_EQ(0x601u, WindowsVersion()) << "asked again instead of keeping the first answer";
    EXPECT_EQ(1, FakeCalls);
    ResetPlatformCache();
    EXPECT_EQ(0xA00u, WindowsVersion());
}

TEST_F(VersionQueryTest, AFailedQueryReadsAsNoVersionNeverAsGarbage) {
    Fake.succeeds = FALSE;
    EXPECT_EQ(0u, WindowsVersion());
    EXPECT_FALSE(GivenUninitialised) << "a failed query would leave stack contents to be read";
    bool windows11 = true;
    OnThread(false, [&] { windows11 = IsWindows11OrLater(); });
    EXPECT_FALSE(windows11);
    EXPECT_FALSE(GivenUninitialised);
}

// Version and build decide alone here: the thread has no COM, so WMI cannot answer.
TEST_F(VersionQueryTest, Windows11FromVersionAndBuildWhenWmiIsUnavailable) {
    struct Case {
        DWORD major, minor, build;
        bool expected;
    };
    const Case cases[] = {
        {6, 1, 7601, false},
        {6, 3, 9600, false},
        {10, 0, 19045, false},
        {10, 0, 21999, false},
        {10, 0, 22000, true},
        {10, 0, 26100, true},
        {11, 0, 0, true},
        {12, 0, 30000, true},
        // A build number alone does not make Windows 11.
        {6, 3, 22000, false},
    };
    for (const Case& c : cases) {
        ResetPlatformCache();
        Report(VER_PLATFORM_WIN32_NT, c.major, c.minor, c.build);
        bool comReachable = true, windows11 = !c.expected;
        OnThread(false, [&] {
            comReachable = ComReachable();
            windows11 = IsWindows11OrLater();
        });
        ASSERT_FALSE(comReachable) << "the thread was meant to have no COM";
        EXPECT_EQ(c.expected, windows11) << c.major << "." << c.minor << "." << c.build;
        EXPECT_EQ(276u, SizeGiven);
    }
}

TEST_F(VersionQueryTest, Windows11IsAskedOnceAndNotFromWindowsVersionsCache) {
    Report(VER_PLATFORM_WIN32_NT, 6, 1, 7601);
    EXPECT_EQ(0x601u, WindowsVersion());
    Report(VER_PLATFORM_WIN32_NT, 10, 0, 22000);
    bool first = false, second = false;
    OnThread(false, [&] {
        first = IsWindows11OrLater();
        Report(VER_PLATFORM_WIN32_NT, 6, 1, 7601);
        second = IsWindows11OrLater();
    });
    EXPECT_TRUE(first) << "the build must come from a query of its own";
    EXPECT_TRUE(second) << "asked again instead of keeping the first answer";
    EXPECT_EQ(2, FakeCalls);
    EXPECT_EQ(0x601u, WindowsVersion());
}

TEST(WmiReportsWindows10, FalseWhenComIsNotInitialised) {
    bool comReachable = true, windows10 = true;
    OnThread(false, [&] {
        comReachable = ComReachable();
        windows10 = WmiReportsWindows10();
    });
    ASSERT_FALSE(comReachable);
    EXPECT_FALSE(windows10);
}

// A standard user's process can make a named object first and keep it. This Wine has no private
// namespaces, so the lock is the global mutex; the stranger is played by descriptors that name
// another account as the owner (Windows lets only that account's processes do so).
TEST(MachineLock, AStrangersMutexOfTheSameNameStopsNoRun) {
    for (const wchar_t* stranger : {L"O:S-1-5-21-1-2-3-1001D:(A;;GA;;;S-1-5-21-1-2-3-1001)",
                                    L"O:S-1-5-21-1-2-3-1001D:(A;;GA;;;WD)"}) {
        OwnedLocal security;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            stranger, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(security.put()),
            nullptr));
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.get(), FALSE};
        OwnedHandle held(CreateMutexW(&attributes, TRUE, L"Global\\BdlTest.Lock"));
        ASSERT_TRUE(held);
        MachineLock::Outcome outcome = MachineLock::Busy;
        // Another thread: a mutex lets the thread that holds it take it again.
        std::thread([&] { outcome = MachineLock().Take(L"BdlTest", L"Lock", true); }).join();
        EXPECT_EQ(MachineLock::Unavailable, outcome) << stranger;
        ReleaseMutex(held.get());
    }
}

TEST(WaitForProcessEnd, WaitsForTheStampedProcessAloneNotForItsId) {
    ProcessStamp self;
    ASSERT_TRUE(OwnProcessStamp(self));
    EXPECT_FALSE(WaitForProcessEnd(self, 50)); // still running at the limit
    // The id given again to a process started later: the stamped one has ended.
    ProcessStamp reused = {self.Id, self.Started - 1};
    EXPECT_TRUE(WaitForProcessEnd(reused, 60000));
}

TEST(Manifest, DeclaresWindows10SoThatTheVersionQueryReportsIt) {
    // The unit tests are linked with the program's resource script, so this is the program's
    // manifest; without the Windows 10 entry the query stops at 6.2.
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(nullptr, found) << "no application manifest";
    HGLOBAL loaded = LoadResource(nullptr, found);
    ASSERT_NE(nullptr, loaded);
    std::string manifest(static_cast<const char*>(LockResource(loaded)),
                         SizeofResource(nullptr, found));
    EXPECT_NE(std::string::npos, manifest.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-"
                                               "48fd50a15a9a}\"/>"));
}

// The Windows version that the Wine prefix presents, named in BDL_PREFIX_WINDOWS by the
// end-to-end test that set it and started this process. Disabled otherwise: they run only with
// --gtest_also_run_disabled_tests. (Not skipped instead: under the emulated 32-bit Wine, a skip
// or failure report ends the test process, which would fail every plain run.)
struct PrefixWindows {
    const wchar_t* setting;
    unsigned version;
    bool wmiNamesWindows10;
};
const PrefixWindows KnownSettings[] = {
    {L"win7", 0x601, false}, // "Microsoft Windows 7 Professional"
    {L"win10", 0xA00, true}, // "Microsoft Windows 10 Pro"
};

class PrefixSetting : public VersionQueryTest {
  protected:
    void SetUp() override {
        VersionQueryTest::SetUp();
        wchar_t name[32];
        DWORD length = GetEnvironmentVariableW(L"BDL_PREFIX_WINDOWS", name, 32);
        ASSERT_NE(0u, length) << "BDL_PREFIX_WINDOWS is not set (the end-to-end test sets it)";
        for (const PrefixWindows& known : KnownSettings)
            if (length < 32 && wcscmp(name, known.setting) == 0)
                windows = &known;
        ASSERT_NE(nullptr, windows) << "unknown BDL_PREFIX_WINDOWS";
    }
    const PrefixWindows* windows = nullptr;
};

TEST_F(PrefixSetting, DISABLED_WindowsVersionIsThePrefixs) {
    VersionQueryOverride = nullptr;
    EXPECT_EQ(windows->version, WindowsVersion());
}

TEST_F(PrefixSetting, DISABLED_WmiNamesWindows10OnlyWhenThePrefixIsWindows10) {
    bool first = !windows->wmiNamesWindows10, second = first;
    // As the program asks: after OleInitialize, and more than once in a run.
    OnThread(true, [&] {
        first = WmiReportsWindows10();
        second = WmiReportsWindows10();
    });
    EXPECT_EQ(windows->wmiNamesWindows10, first);
    EXPECT_EQ(windows->wmiNamesWindows10, second);
}

// With a real WMI answer behind the faked version. Windows 7's name stands in for a Windows 11
// edition's: what counts is that it does not say "Windows 10".
TEST_F(PrefixSetting, DISABLED_Windows11WeighsTheWmiNameOnlyFromBuild22000OfVersion10) {
    struct Case {
        DWORD major, build;
        bool expectedWindows10Name, expectedOtherName;
    };
    const Case cases[] = {
        {10, 21999, false, false},
        {10, 22000, false, true},
        {10, 26100, false, true},
        {11, 22000, true, true},
    };
    for (const Case& c : cases) {
        ResetPlatformCache();
        Report(VER_PLATFORM_WIN32_NT, c.major, 0, c.build);
        bool windows11 = false;
        OnThread(true, [&] { windows11 = IsWindows11OrLater(); });
        EXPECT_EQ(windows->wmiNamesWindows10 ? c.expectedWindows10Name : c.expectedOtherName,
                  windows11)
            << c.major << ".0." << c.build;
    }
}

// Last: its abandoned worker leaves the process a multithreaded apartment for a while.
// A damaged WMI repository can keep the query waiting for ever: the setup goes on with the
// answer it has without WMI (the build decides), instead of hanging a silent deployment.
TEST_F(VersionQueryTest, AWmiQueryThatNeverAnswersEndsAsUnavailable) {
    static HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WmiQueryOverride = [] { return WaitForSingleObject(never, INFINITE) == WAIT_OBJECT_0; };
    const DWORD limit = WmiTimeLimit;
    WmiTimeLimit = 200;
    Report(VER_PLATFORM_WIN32_NT, 10, 0, 22631);
    bool windows11 = false;
    OnThread(true, [&] { windows11 = IsWindows11OrLater(); });
    SetEvent(never); // lets the abandoned worker end
    WmiTimeLimit = limit;
    WmiQueryOverride = nullptr;
    EXPECT_TRUE(windows11);
}

} // namespace
