// App Paths, the uninstall entry and the settings-file import, against the real registry and
// files of the prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/registry.h"
#include "common/system.h"
#include "integration/registration.h"
#include "raw_files.h"
#include "test_support.h"

namespace {

const wchar_t* const Missing = MissingValue;

std::wstring Machine(const std::wstring& key, const wchar_t* name, REGSAM view = 0) {
    return RawValue(HKEY_LOCAL_MACHINE, key, name, view);
}

#ifdef _WIN64
const wchar_t Build[] = L"64-bit";
#else
const wchar_t Build[] = L"32-bit";
#endif

const std::wstring AppPaths = AppPathsKey + 1;
const std::wstring Uninstall = UninstallKey + 1;

class Registration : public ::testing::Test {
  protected:
    void SetUp() override {
        Folder = ModuleFolder();
        Program = Folder + L"\\registration_test.exe";
        Clean();
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"sfxname", nullptr);
        Clean();
    }
    void Clean() {
        for (REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)}) {
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, AppPaths.c_str(), view, 0);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, Uninstall.c_str(), view, 0);
        }
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Bundlo");
        DeleteFileW((Folder + L"\\Bundlo.ini").c_str());
        DeleteFileW((Folder + L"\\Uninstall.lst").c_str());
    }
    std::wstring Program, Folder;
};

TEST_F(Registration, AppPathsInEveryViewAndTheArchiverPath) {
    ASSERT_TRUE(RegisterAppPaths());
    std::wstring archiver = Folder + L"\\Bundlo.exe";
    EXPECT_EQ(archiver, Machine(L"Software\\Bundlo", L"exe32"));
    // Programs of either bitness find the archiver, whichever build registered it.
    for (REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)}) {
        EXPECT_EQ(archiver, Machine(AppPaths, L"", view));
        EXPECT_EQ(Folder, Machine(AppPaths, L"Path", view));
    }
}

TEST_F(Registration, WithoutRightsOnTheMachineNothingIsWritten) {
    {
        RefusedCreations refused(
            [](HKEY root, const wchar_t*) { return root == HKEY_LOCAL_MACHINE; });
        EXPECT_FALSE(RegisterAppPaths());
    }
    EXPECT_EQ(Missing, Machine(AppPaths, L""));
    EXPECT_EQ(Missing, Machine(L"Software\\Bundlo", L"exe32"));
}

TEST_F(Registration, UninstallEntryKeepsAValidIconAndReplacesAStaleOne) {
    // The listed files that exist count, rounded up to KiB; a folder, a missing file and a line
    // leading out of the folder do not.
    WriteRaw(Folder + L"\\Uninstall.lst", "registration_test.exe\r\nmissing.txt\r\n"
                                          "..\\text_test\\text_test.exe\r\n.\r\n");
    WIN32_FILE_ATTRIBUTE_DATA program;
    ASSERT_TRUE(GetFileAttributesExW(Program.c_str(), GetFileExInfoStandard, &program));
    RegisterUninstallEntry();
    EXPECT_EQ(L"\"" + Program + L"\" /S", Machine(Uninstall, L"QuietUninstallString"));
    EXPECT_EQ(std::to_wstring((program.nFileSizeLow + 1023) / 1024),
              Machine(Uninstall, L"EstimatedSize"));
    EXPECT_EQ(L"https://www.bundlo.com/", Machine(Uninstall, L"URLInfoAbout"));
    SYSTEMTIME today;
    GetLocalTime(&today);
    wchar_t date[16];
    swprintf(date, 16, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    EXPECT_EQ(date, Machine(Uninstall, L"InstallDate"));
    EXPECT_EQ(std::wstring(L"Bundlo 6.11 (") + Build + L")", Machine(Uninstall, L"DisplayName"));
    EXPECT_EQ(L"6.11.0", Machine(Uninstall, L"DisplayVersion"));
    EXPECT_EQ(L"6", Machine(Uninstall, L"VersionMajor"));
    EXPECT_EQ(L"11", Machine(Uninstall, L"VersionMinor"));
    EXPECT_EQ(L"\"" + Program + L"\"", Machine(Uninstall, L"UninstallString"));
    EXPECT_EQ(Folder + L"\\Bundlo.exe", Machine(Uninstall, L"DisplayIcon"));
    EXPECT_EQ(Folder + L"\\", Machine(Uninstall, L"InstallLocation"));
    EXPECT_EQ(L"1", Machine(Uninstall, L"NoModify"));
    EXPECT_EQ(L"1", Machine(Uninstall, L"NoRepair"));
    EXPECT_EQ(L"0", Machine(Uninstall, L"Language"));
    EXPECT_EQ(L"Veskaro GmbH", Machine(Uninstall, L"Publisher"));

    // An icon that exists stays; one whose file is gone is replaced.
    SetString(HKEY_LOCAL_MACHINE, UninstallKey, L"DisplayIcon", Program.c_str());
    RegisterUninstallEntry();
    EXPECT_EQ(Program, Machine(Uninstall, L"DisplayIcon"));
    SetString(HKEY_LOCAL_MACHINE, UninstallKey, L"DisplayIcon", L"C:\\gone\\old.ico");
    RegisterUninstallEntry();
    EXPECT_EQ(Folder + L"\\Bundlo.exe", Machine(Uninstall, L"DisplayIcon"));
}

TEST(AppendVersionText, BlankOnlyAfterText) {
    wchar_t text[64] = L"";
    AppendVersionText(text, 64);
    EXPECT_EQ(std::wstring(L"6.11 (") + Build + L")", text);
    wchar_t cut[8] = L"Bdl";
    AppendVersionText(cut, 8);
    EXPECT_STREQ(L"Bdl 6.1", cut);
}

class SettingsImport : public TempFolderTest {
  protected:
    SettingsImport() : TempFolderTest(L"import") {}
    void SetUp() override {
        TempFolderTest::SetUp();
        Destination = ModuleFolder() + L"\\Bundlo.ini";
        DeleteFileW(Destination.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"sfxname", nullptr);
        DeleteFileW(Destination.c_str());
        TempFolderTest::TearDown();
    }
    std::wstring Destination;
};

TEST_F(SettingsImport, CopiedFromTheInstallersFolderOnlyWhenTheProgramHasNone) {
    EXPECT_TRUE(ImportSettingsFile(L"Bundlo.ini")); // no installer: nothing to do
    EXPECT_FALSE(Exists(Destination));

    SetEnvironmentVariableW(L"sfxname", At(L"bundlo-setup.exe").c_str());
    EXPECT_FALSE(ImportSettingsFile(L"Bundlo.ini")); // the installer's folder has none
    WriteRaw(At(L"Bundlo.ini"), "Global\\Integration=0\r\n");
    // Copied beside the program whatever folder is current.
    SetCurrentDirectoryW(Root.c_str());
    EXPECT_TRUE(ImportSettingsFile(L"Bundlo.ini"));
    EXPECT_EQ("Global\\Integration=0\r\n", ReadRaw(Destination));

    WriteRaw(At(L"Bundlo.ini"), "changed");
    EXPECT_TRUE(ImportSettingsFile(L"Bundlo.ini"));
    EXPECT_EQ("Global\\Integration=0\r\n", ReadRaw(Destination));

    // A second name of another file (a hard link to one only administrators may read, say) or a
    // link is never copied: only a plain file of its own.
    DeleteFileW(Destination.c_str());
    DeleteFileW(At(L"Bundlo.ini").c_str());
    WriteRaw(At(L"secret.txt"), "for administrators");
    CapturedDiagnostics diagnostics; // the refusal's line
    for (bool hard : {true, false}) {
        std::wstring name = At(L"Bundlo.ini"), target = At(L"secret.txt");
        ASSERT_TRUE(hard ? CreateHardLinkW(name.c_str(), target.c_str(), nullptr)
                         : CreateSymbolicLinkW(name.c_str(), target.c_str(), 0) != 0);
        ImportSettingsFile(L"Bundlo.ini");
        EXPECT_FALSE(Exists(Destination));
        DeleteFileW(At(L"Bundlo.ini").c_str());
    }
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    SetCurrentDirectoryW(windows);
}

} // namespace
