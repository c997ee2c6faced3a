// Numbered strings from the program's resources, and translated formats filled safely.
#include <gtest/gtest.h>

#include <wchar.h>

#include <string>

#include "common/paths.h"
#include "common/system.h"
#include "common/text.h"
#include "lang/langfile.h"
#include "lang/localise.h"
#include "raw_files.h"
#include "test_support.h"
#include "resources/resource.h"

namespace {
class NumberedStrings : public ::testing::Test {
  protected:
    void SetUp() override { LoadLanguageModule(GetModuleHandleW(nullptr)); }
};

TEST_F(NumberedStrings, EveryStringOfTheProgramHasAnEnglishText) {
    const unsigned ids[] = {5101, 5102, 5103, 5104, 5105, 5106, 5107, 5108, 5109, 5110, 5111,
                            5112, 5113, 5114, 5115, 5116, 5120, 5121, 5122, 5123, 5124, 5125,
                            5130, 5135, 5140, 5141, 5142, 5150, 5151, 5160, 5170};
    for (unsigned id : ids)
        EXPECT_STRNE(L"", LoadText(id)) << id;
    // The two formats are given exactly one path or file name.
    for (unsigned id : {IDS_UNINSTALLSHOULDDELETE, IDS_CANNOTOPENLIST, IDS_SETTINGSDAMAGED}) {
        const wchar_t* text = LoadText(id);
        const wchar_t* first = wcsstr(text, L"%s");
        ASSERT_NE(nullptr, first) << id;
        EXPECT_EQ(nullptr, wcsstr(first + 2, L"%")) << id;
    }
}

TEST_F(NumberedStrings, MissingStringIsEmptyAndShortBuffersAreCut) {
    EXPECT_STREQ(L"", LoadText(4999));
    wchar_t small[8] = L"garbage";
    LoadTextInto(IDS_UNINSTALLBDL, small, 8);
    EXPECT_STREQ(L"Uninsta", small);
}

TEST_F(NumberedStrings, TheRingKeepsSevenEarlierResults) {
    const wchar_t* first = LoadText(IDS_UNINSTALLBDL);
    const wchar_t* seen[8] = {first};
    for (int i = 1; i < 8; ++i)
        seen[i] = LoadText(IDS_32BIT);
    EXPECT_STREQ(L"Uninstall Bundlo", first) << "seven later calls must not touch it";
    for (int i = 1; i < 8; ++i)
        EXPECT_NE(first, seen[i]);
    const wchar_t* ninth = LoadText(IDS_64BIT);
    EXPECT_EQ(first, ninth) << "the ninth call reuses the first buffer";
    EXPECT_STREQ(L"64-bit", first);
}

TEST(FormatLocalised, FillsTheFirstPlaceholderOnly) {
    wchar_t out[64];
    FormatLocalised(out, 64, L"Delete %s now.", L"C:\\x");
    EXPECT_STREQ(L"Delete C:\\x now.", out);
    // A translation with stray conversions must not read arguments that were never passed.
    FormatLocalised(out, 64, L"%d %s %s %n %", L"A");
    EXPECT_STREQ(L"%d A %s %n %", out);
    FormatLocalised(out, 64, L"100%% of %s", L"B");
    EXPECT_STREQ(L"100% of B", out);
    FormatLocalised(out, 64, L"no placeholder", L"C");
    EXPECT_STREQ(L"no placeholder", out);
}

TEST(FormatLocalised, CutsAtTheCapacityAndTerminates) {
    wchar_t out[6] = L"zzzzz";
    FormatLocalised(out, 6, L"ab%scd", L"123456");
    EXPECT_STREQ(L"ab123", out);
    wchar_t one[1] = {L'z'};
    FormatLocalised(one, 1, L"%s", L"x");
    EXPECT_EQ(0, one[0]);
    wchar_t untouched[2] = {L'q', 0};
    FormatLocalised(untouched, 0, L"%s", L"x");
    EXPECT_EQ(L'q', untouched[0]);
}

// The test language modules the build makes, as Windows paths.
std::wstring TestModule(const wchar_t* name) {
    std::wstring path = L"Z:" BDL_TEST_MODULES_W L"/";
    path += name;
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

void SetLanguageFolder(const std::wstring& folder, DWORD type = REG_EXPAND_SZ) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Bundlo\\General", 0,
                                             nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    RegSetValueExW(key, L"LanguageFolder", 0, type, reinterpret_cast<const BYTE*>(folder.c_str()),
                   DWORD((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// A language module and language file beside this test's module, as beside the program.
class LanguageSources : public TempFolderTest {
  protected:
    LanguageSources() : TempFolderTest(L"lang") {}
    void SetUp() override {
        TempFolderTest::SetUp();
        Beside = ModuleFolder();
        Clean();
    }
    void TearDown() override {
        UnloadLanguageModule();
        LoadLanguageModule(GetModuleHandleW(nullptr));
        Language.Clear();
        SetProcessDefaultLayout(0);
        Clean();
        TempFolderTest::TearDown();
    }
    void Clean() {
        DeleteFileW((Beside + L"\\bdllng.dll").c_str());
        DeleteFileW((Beside + L"\\uninstall.lng").c_str());
        RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Bundlo\\General", L"LanguageFolder");
    }
    std::wstring Beside;
};

TEST_F(LanguageSources, ModuleStringsUntilTheModuleIsReleased) {
    ASSERT_TRUE(
        CopyFileW(TestModule(L"testlng.dll").c_str(), (Beside + L"\\bdllng.dll").c_str(), FALSE));
    LoadLanguageModule(GetModuleHandleW(nullptr));
    ASSERT_TRUE(IsLanguageModuleLoaded());
    EXPECT_NE(GetModuleHandleW(nullptr), ResourceInstance);
    EXPECT_STREQ(TEST_MODULE_TITLE, LoadText(IDS_UNINSTTITLE));
    EXPECT_STREQ(TEST_MODULE_ONLY_TEXT, LoadText(TEST_MODULE_ONLY_ID));
    // Strings the module lacks still come from the program.
    EXPECT_STREQ(L"64-bit", LoadText(IDS_64BIT));
    // Loaded as data: no code of it ran, and its file is not locked against deletion for long.
    UnloadLanguageModule();
    EXPECT_FALSE(IsLanguageModuleLoaded());
    EXPECT_EQ(GetModuleHandleW(nullptr), ResourceInstance);
    EXPECT_STREQ(L"", LoadText(TEST_MODULE_ONLY_ID));
    EXPECT_STREQ(L"Bundlo Setup", LoadText(IDS_UNINSTTITLE));
    EXPECT_TRUE(DeleteFileW((Beside + L"\\bdllng.dll").c_str()));
}

// Found by the fuzz campaign langmodule (seed 1, input 0): a string table whose first length runs
// past its block sent LoadStringW reading far beyond the module, and the program crashed.
TEST_F(LanguageSources, ADamagedStringTableIsReadOnlyWithinItsBlock) {
    std::wstring module = Beside + L"\\bdllng.dll";
    ASSERT_TRUE(CopyFileW(TestModule(L"testlng.dll").c_str(), module.c_str(), FALSE));
    HANDLE update = BeginUpdateResourceW(module.c_str(), FALSE);
    ASSERT_NE(nullptr, update);
    const WORD language = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    // Block 325 (ids 5184-5199): the first length claims 65535 characters in a 2-byte block.
    WORD runsPast[] = {0xFFFF};
    // Block 320 (ids 5104-5119): two whole strings, then a third that runs past the block.
    WORD cutShort[] = {2, L'a', L'b', 1, L'c', 9, L'd'};
    ASSERT_TRUE(UpdateResourceW(update, RT_STRING, MAKEINTRESOURCEW(325), language, runsPast,
                                sizeof runsPast));
    ASSERT_TRUE(UpdateResourceW(update, RT_STRING, MAKEINTRESOURCEW(320), language, cutShort,
                                sizeof cutShort));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
    LoadLanguageModule(GetModuleHandleW(nullptr));
    ASSERT_TRUE(IsLanguageModuleLoaded());
    // What runs past the block is not used: the program's own text (none for 5199) stands.
    EXPECT_STREQ(L"", LoadText(TEST_MODULE_ONLY_ID));
    EXPECT_STREQ(L"", LoadText(5184));
    EXPECT_STREQ(L"ab", LoadText(5104));
    EXPECT_STREQ(L"c", LoadText(5105));
    EXPECT_STREQ(L"Uninstall Bundlo", LoadText(IDS_UNINSTALLBDL)); // 5106, cut off
    wchar_t cut[2] = {L'x', L'x'};
    LoadTextInto(5104, cut, 2);
    EXPECT_STREQ(L"a", cut);
    // The blocks the damage did not touch are read as before.
    EXPECT_STREQ(TEST_MODULE_TITLE, LoadText(IDS_UNINSTTITLE));
    UnloadLanguageModule();
    EXPECT_TRUE(DeleteFileW(module.c_str()));
}

TEST_F(LanguageSources, AnRtlMarkerInTheModuleTurnsTheLayoutRightToLeft) {
    ASSERT_TRUE(CopyFileW(TestModule(L"testlng_rtl.dll").c_str(),
                          (Beside + L"\\bdllng.dll").c_str(), FALSE));
    LoadLanguageModule(GetModuleHandleW(nullptr));
    InitLanguage(L"uninstall.lng"); // no language file: the direction comes from the module
    EXPECT_TRUE(Language.RightToLeft);
    DWORD layout = 0;
    EXPECT_TRUE(GetProcessDefaultLayout(&layout));
    EXPECT_EQ(DWORD(LAYOUT_RTL), layout);

    // The plain module says nothing about the direction.
    Language.Clear();
    SetProcessDefaultLayout(0);
    UnloadLanguageModule();
    ASSERT_TRUE(
        CopyFileW(TestModule(L"testlng.dll").c_str(), (Beside + L"\\bdllng.dll").c_str(), FALSE));
    LoadLanguageModule(GetModuleHandleW(nullptr));
    InitLanguage(L"uninstall.lng");
    EXPECT_FALSE(Language.RightToLeft);
}

TEST_F(LanguageSources, TheLanguageFolderRedirectsModuleAndFileWhileNotElevated) {
    ElevationOverride = PretendUnelevated;
    WriteRaw(Beside + L"\\uninstall.lng", "***messages***\r\nIDS_BETA beside\r\n");
    WriteRaw(At(L"uninstall.lng"), "***messages***\r\nIDS_BETA in the folder\r\n");
    ASSERT_TRUE(CopyFileW(TestModule(L"testlng.dll").c_str(), At(L"bdllng.dll").c_str(), FALSE));
    // Environment variables in the value are expanded.
    SetEnvironmentVariableW(L"BDL_LANG_TEST", Root.c_str());
    SetLanguageFolder(L"%BDL_LANG_TEST%");
    LoadLanguageModule(GetModuleHandleW(nullptr));
    InitLanguage(L"uninstall.lng");
    EXPECT_TRUE(IsLanguageModuleLoaded());
    EXPECT_STREQ(TEST_MODULE_TITLE, LoadText(IDS_UNINSTTITLE));
    EXPECT_STREQ(L"in the folder", LoadText(IDS_BETA));
    UnloadLanguageModule();

    // A folder without the files leaves the ones beside the program.
    DeleteFileW(At(L"uninstall.lng").c_str());
    DeleteFileW(At(L"bdllng.dll").c_str());
    LoadLanguageModule(GetModuleHandleW(nullptr));
    InitLanguage(L"uninstall.lng");
    EXPECT_FALSE(IsLanguageModuleLoaded());
    EXPECT_STREQ(L"beside", LoadText(IDS_BETA));

    wchar_t path[MAX_PATH] = L"C:\\Program Files\\Bundlo\\license.txt";
    WriteRaw(At(L"license.txt"), "licence");
    FindRunnableInLanguageFolder(path, path, MAX_PATH);
    EXPECT_EQ(At(L"license.txt"), path);
    // Longer than a path buffer: not given back cut, which would name another file.
    std::wstring overlong = L"C:\\" + std::wstring(PathCapacity, L'x') + L"\\license.txt";
    wchar_t given[PathCapacity];
    FindInLanguageFolder(overlong.c_str(), given);
    EXPECT_STREQ(L"", given);

    // Elevated, the module (its dialogs) and the licence come from the program folder alone;
    // the language file's texts, checked as they are read, still come from the folder.
    ElevationOverride = PretendElevated;
    WriteRaw(At(L"uninstall.lng"), "***messages***\r\nIDS_BETA in the folder\r\n");
    ASSERT_TRUE(CopyFileW(TestModule(L"testlng.dll").c_str(), At(L"bdllng.dll").c_str(), FALSE));
    LoadLanguageModule(GetModuleHandleW(nullptr));
    InitLanguage(L"uninstall.lng");
    EXPECT_FALSE(IsLanguageModuleLoaded());
    EXPECT_STREQ(L"in the folder", LoadText(IDS_BETA));
    CopyText(path, L"C:\\Program Files\\Bundlo\\license.txt", MAX_PATH);
    FindRunnableInLanguageFolder(path, path, MAX_PATH);
    EXPECT_STREQ(L"C:\\Program Files\\Bundlo\\license.txt", path);
    ElevationOverride = ElevationOfToken;
}

// Whoever starts the program chooses its current folder: a language folder that is empty or
// relative, or becomes so, must not make it the place the module and the files come from.
TEST_F(LanguageSources, NoUsableLanguageFolderMeansNoneNotTheCurrentFolder) {
    ASSERT_TRUE(CopyFileW(TestModule(L"testlng.dll").c_str(), At(L"bdllng.dll").c_str(), FALSE));
    WriteRaw(At(L"license.txt"), "planted");
    MakeFolderRaw(At(L"lang"));
    ASSERT_TRUE(
        CopyFileW(TestModule(L"testlng.dll").c_str(), At(L"lang\\bdllng.dll").c_str(), FALSE));
    WriteRaw(At(L"lang\\license.txt"), "planted");
    SetEnvironmentVariableW(L"BDL_LANG_EMPTY", L"");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(Root.c_str()));
    struct Case {
        std::wstring Folder;
        DWORD Type;
    };
    // The last two name the folder, but as bytes rather than text, and as a text that a zero
    // inside ends early.
    const std::wstring root = Root, zeroInside = Root + L'\0' + L"x";
    const Case cases[] = {
        {L"", REG_SZ},       {L"", REG_EXPAND_SZ},        {L"%BDL_LANG_EMPTY%", REG_EXPAND_SZ},
        {L"lang", REG_SZ},   {L".\\lang", REG_EXPAND_SZ}, {root.c_str(), REG_BINARY},
        {zeroInside, REG_SZ}};
    for (const Case& c : cases) {
        SetLanguageFolder(c.Folder, c.Type);
        wchar_t path[MAX_PATH] = L"C:\\Program Files\\Bundlo\\license.txt";
        FindInLanguageFolder(path, path, MAX_PATH);
        EXPECT_STREQ(L"C:\\Program Files\\Bundlo\\license.txt", path) << c.Folder;
        LoadLanguageModule(GetModuleHandleW(nullptr));
        EXPECT_FALSE(IsLanguageModuleLoaded()) << c.Folder;
        EXPECT_STREQ(L"Bundlo Setup", LoadText(IDS_UNINSTTITLE)) << c.Folder;
        UnloadLanguageModule();
    }
    SetCurrentDirectoryW(previous);
    SetEnvironmentVariableW(L"BDL_LANG_EMPTY", nullptr);
}
} // namespace
