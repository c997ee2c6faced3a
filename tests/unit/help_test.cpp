// The help viewer's calls into HTML Help. Wine has "hhctrl.ocx" but there is no help file here,
// so the calls are recorded through the test seam instead of opening a window.
#include <gtest/gtest.h>

#include <windows.h>
#include <htmlhelp.h>

#include <string>
#include <vector>

#include "common/paths.h"
#include "common/system.h"
#include "lang/help.h"
#include "raw_files.h"
#include "test_support.h"

namespace {

struct HelpCall {
    std::wstring File;
    UINT Command;
    HWND Owner;
};
std::vector<HelpCall> Calls;
HWND Answer;

HWND WINAPI RecordingHtmlHelp(HWND owner, const wchar_t* file, UINT command, DWORD_PTR) {
    Calls.push_back({file, command, owner});
    return Answer;
}

class HelpViewer : public ::testing::Test {
  protected:
    void SetUp() override {
        ReleaseHelp();
        Calls.clear();
        Answer = nullptr;
        HtmlHelpOverride = RecordingHtmlHelp;
    }
    void TearDown() override {
        HtmlHelpOverride = nullptr;
        ReleaseHelp();
        RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Bundlo\\General", L"LanguageFolder");
    }
};

TEST_F(HelpViewer, TopicsAndContentsOfTheFileBesideTheProgram) {
    Answer = GetDesktopWindow(); // any window: the call succeeded
    ShowHelp(L"HELPIntegrationSettings");
    ShowHelp(nullptr);
    ASSERT_EQ(2u, Calls.size());
    std::wstring file = ModuleFolder() + L"\\bundlo.chm";
    EXPECT_EQ(file + L"::/html/HELPIntegrationSettings.htm", Calls[0].File);
    EXPECT_EQ(UINT(HH_DISPLAY_TOPIC), Calls[0].Command);
    EXPECT_EQ(file, Calls[1].File);
    EXPECT_EQ(UINT(HH_DISPLAY_TOC), Calls[1].Command);
    // Owned by the desktop, so that closing a dialog does not close the help.
    EXPECT_EQ(GetDesktopWindow(), Calls[0].Owner);
}

TEST_F(HelpViewer, AFailureWithAPathTheCodePageHoldsIsNotRetried) {
    ShowHelp(L"HELPContextItems");
    ShowHelp(L"HELPContextItems");
    EXPECT_EQ(2u, Calls.size());
}

// Cut, the program's path would give another file: C:\bundlo.chm, say.
TEST_F(HelpViewer, AProgramPathThatDoesNotFitGivesNoHelpFile) {
    std::wstring program = L"C:\\" + std::wstring(PathCapacity, L'p') + L"\\Uninstall.exe";
    wchar_t path[PathCapacity];
    HelpFileOf(program.c_str(), path);
    EXPECT_STREQ(L"", path);
}

// An HTML Help file can start programs: an elevated run never takes it from the folder the user
// chose.
TEST_F(HelpViewer, TheLanguageFolderMayHoldItsOwnHelpFileWhileNotElevated) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"bdl_help_lang";
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteRaw(folder + L"\\bundlo.chm", "not really help");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Bundlo\\General", 0,
                                             nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    RegSetValueExW(key, L"LanguageFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   DWORD((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    for (ElevationQuery elevation : {PretendUnelevated, PretendElevated}) {
        ElevationOverride = elevation;
        ReleaseHelp();
        ShowHelp(nullptr);
    }
    ElevationOverride = ElevationOfToken;
    DeleteFileW((folder + L"\\bundlo.chm").c_str());
    RemoveDirectoryW(folder.c_str());
    ASSERT_EQ(2u, Calls.size());
    EXPECT_EQ(folder + L"\\bundlo.chm", Calls[0].File);
    EXPECT_EQ(ModuleFolder() + L"\\bundlo.chm", Calls[1].File);
}

// A program folder whose name the ANSI code page cannot hold: the first failure is retried once
// with the short form of the program's path, and never again in that process. Run in a copy of
// this test program placed in such a folder.
TEST_F(HelpViewer, APathOutsideTheCodePageIsRetriedOnceWithItsShortForm) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"bdl_\u0416\u4e2d_help";
    CreateDirectoryW(folder.c_str(), nullptr);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring copy = folder + L"\\help_test.exe";
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));
    DWORD code = RunTestsInChild(copy, L"HelpChild.*");
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());
    EXPECT_EQ(0u, code) << "the child's expectations failed";
}

TEST(HelpChild, DISABLED_RetriedOnce) {
    HtmlHelpOverride = RecordingHtmlHelp;
    std::wstring folder = ModuleFolder();
    wchar_t shortForm[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameW((folder + L"\\help_test.exe").c_str(), shortForm, MAX_PATH));
    std::wstring shortFolder = shortForm;
    shortFolder = shortFolder.substr(0, shortFolder.rfind(L'\\'));
    ASSERT_NE(folder, shortFolder) << "no short form to retry with";

    ShowHelp(L"HELPIntegrationSettings");
    ASSERT_EQ(2u, Calls.size());
    EXPECT_EQ(folder + L"\\bundlo.chm::/html/HELPIntegrationSettings.htm", Calls[0].File);
    EXPECT_EQ(shortFolder + L"\\bundlo.chm::/html/HELPIntegrationSettings.htm", Calls[1].File);
    ShowHelp(L"HELPIntegrationSettings");
    EXPECT_EQ(3u, Calls.size());
    EXPECT_EQ(Calls[1].File, Calls[2].File);
}

} // namespace
