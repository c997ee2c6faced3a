// The integration choices: their defaults and storage in the real registry of the prefix, the
// archive type table, and the /init text.
#include <gtest/gtest.h>

#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "common/registry.h"
#include "common/settings.h"
#include "common/system.h"
#include "integration/choices.h"
#include "test_support.h"

namespace {

std::vector<std::wstring> Split(const wchar_t* group) {
    std::vector<std::wstring> out;
    for (const wchar_t* p = group; p;) {
        wchar_t extension[ExtensionCapacity];
        p = SplitExtension(p, extension, ExtensionCapacity);
        out.push_back(extension);
    }
    return out;
}

TEST(ArchiveTypeTable, GroupsSplitIntoTheirExtensions) {
    EXPECT_EQ((std::vector<std::wstring>{L".bz2", L".tbz2", L".bz", L".tbz"}),
              Split(L".bz2.tbz2.bz.tbz"));
    EXPECT_EQ((std::vector<std::wstring>{L".zip"}), Split(L".zip"));
    EXPECT_EQ((std::vector<std::wstring>{L".uue", L".xxe", L".uu"}), Split(L".uue.xxe.uu"));
    // Every group starts with its primary extension, and no extension is in two groups.
    std::vector<std::wstring> all;
    for (const ArchiveType& type : ArchiveTypeTable) {
        std::vector<std::wstring> extensions = Split(type.Group);
        EXPECT_EQ(type.Primary, extensions[0]);
        for (const std::wstring& e : extensions) {
            EXPECT_EQ(all.end(), std::find(all.begin(), all.end(), e)) << e;
            all.push_back(e);
        }
    }
    EXPECT_EQ(29u, all.size());
}

class StoredChoices : public ::testing::Test {
  protected:
    void SetUp() override { Clean(); }
    void TearDown() override {
        Clean();
        VersionQueryOverride = nullptr;
        ResetPlatformCache();
    }
    static void Clean() {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Bundlo");
        for (const wchar_t* e : {L".jar", L".iso"})
            RegDeleteTreeW(HKEY_CLASSES_ROOT, e);
    }
    static void SetClass(const wchar_t* extension, const wchar_t* className) {
        ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_CLASSES_ROOT, extension, L"", className));
    }
};

TEST_F(StoredChoices, DefaultsWithNothingStored) {
    SetClass(L".iso", L"Windows.IsoFile");
    IntegrationSettings s = {};
    LoadIntegrationSettings(s);
    for (size_t row = 0; row < ArchiveTypeCount; row++)
        EXPECT_EQ(row == 11 || row == 12 ? 0 : 1, s.associate[row]) << row;
    EXPECT_EQ(0, s.linkDesktop);
    EXPECT_EQ(0, s.linkStartMenu);
    EXPECT_EQ(1, s.linkProgramGroup);
    EXPECT_EQ(1, s.shellExtension);
    EXPECT_EQ(0, s.cascadedMenu); // Windows 10 in the prefix
    EXPECT_EQ(1, s.menuIcons);
    EXPECT_EQ(0, s.legacyMenu);

    // ".iso" without an owner starts checked; ".jar" only while the archiver has it.
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".iso");
    SetClass(L".jar", L"bundlo");
    LoadIntegrationSettings(s);
    EXPECT_EQ(1, s.associate[11]);
    EXPECT_EQ(1, s.associate[12]);
}

TEST_F(StoredChoices, SavedChoicesLoadBackAndWindows11ForcesTheSubmenu) {
    IntegrationSettings s = {};
    for (size_t i = 0; i < 18; i += 2)
        s.associate[i] = 1;
    s.linkDesktop = 1;
    s.menuIcons = 0;
    s.cascadedMenu = 0;
    s.legacyMenu = 1;
    SaveIntegrationSettings(s);
    EXPECT_EQ(0u, GetUserDword(L"Setup\\.lzh", L"Set", 7)); // row 5 is stored under ".lzh"
    IntegrationSettings loaded;
    memset(&loaded, 0x55, sizeof loaded);
    LoadIntegrationSettings(loaded);
    for (size_t i = 0; i < 18; i++) {
        if (i != 11 && i != 12) {
            EXPECT_EQ(s.associate[i], loaded.associate[i]) << i;
        }
    }
    EXPECT_EQ(1, loaded.linkDesktop);
    EXPECT_EQ(0, loaded.menuIcons);
    EXPECT_EQ(0, loaded.cascadedMenu);
    EXPECT_EQ(1, loaded.legacyMenu);
    EXPECT_EQ(0, loaded.reserved27);
    EXPECT_EQ(0x55, loaded.reserved18[0]); // never read

    VersionQueryOverride = PretendWindows11;
    ResetPlatformCache();
    LoadIntegrationSettings(loaded);
    EXPECT_EQ(1, loaded.cascadedMenu);
    SetUserDword(L"Setup", L"NewContextMenu", 1);
    LoadIntegrationSettings(loaded);
    EXPECT_EQ(0, loaded.cascadedMenu);
}

TEST(ApplyInitText, PairsOverTheLoadedChoices) {
    IntegrationSettings s = {};
    s.associate[2] = 1;
    s.menuIcons = 1;
    ApplyInitText(L"A110S0D1", s);
    EXPECT_EQ(1, s.associate[0]);
    EXPECT_EQ(1, s.associate[1]);
    EXPECT_EQ(0, s.associate[2]);
    EXPECT_EQ(0, s.shellExtension);
    EXPECT_EQ(1, s.linkDesktop);
    EXPECT_EQ(1, s.menuIcons);

    IntegrationSettings t = {};
    t.linkProgramGroup = 1;
    ApplyInitText(L"s1x1p0c1i1m1", t);
    EXPECT_EQ(1, t.shellExtension);
    EXPECT_EQ(0, t.linkProgramGroup);
    EXPECT_EQ(1, t.cascadedMenu);
    EXPECT_EQ(1, t.menuIcons);
    EXPECT_EQ(1, t.linkStartMenu);

    // A run of 25 digits sets twenty flags; the digits left over then pair up as "11", "11",
    // "1S", "1D", none of them a known letter.
    IntegrationSettings u = {};
    ApplyInitText(L"A1111111111111111111111111S1D1", u);
    for (size_t i = 0; i < 20; i++)
        EXPECT_EQ(1, u.Flag(i)) << i;
    EXPECT_EQ(0, u.shellExtension);
    EXPECT_EQ(0, u.linkDesktop);
    EXPECT_EQ(0, u.reserved27);

    // A lone letter at the end is ignored.
    IntegrationSettings v = {};
    ApplyInitText(L"S1D", v);
    EXPECT_EQ(1, v.shellExtension);
    EXPECT_EQ(0, v.linkDesktop);
}

TEST(ApplyInitText, RandomTextsKeepEveryFlagABit) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    char* pages = static_cast<char*>(
        VirtualAlloc(nullptr, 2 * system.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, pages);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old));
    wchar_t* guardedEnd = reinterpret_cast<wchar_t*>(pages + system.dwPageSize);
    std::mt19937 random(8122026);
    const wchar_t alphabet[] = L"AaCcDdIiMmPpSsXx0123456789\u00e9";
    int texts = 0;
    for (int round = 0; round < 10000; round++) {
        // The text ends where an inaccessible page begins: reading past it would crash.
        size_t length = random() % 40;
        wchar_t* buffer = guardedEnd - (length + 1);
        for (size_t i = 0; i < length; i++)
            buffer[i] = alphabet[random() % (sizeof alphabet / sizeof alphabet[0] - 1)];
        buffer[length] = 0;
        IntegrationSettings s;
        for (size_t i = 0; i < 28; i++)
            s.Flag(i) = random() % 2;
        s.reserved27 = 0;
        ApplyInitText(buffer, s);
        for (size_t i = 0; i < 28; i++)
            ASSERT_LE(s.Flag(i), 1) << i;
        ASSERT_EQ(0, s.reserved27);
        texts++;
    }
    VirtualFree(pages, 0, MEM_RELEASE);
    printf("init texts applied: %d\n", texts);
}

TEST_F(StoredChoices, TheSettingsFileKeepsChoicesOffTheRegistry) {
    std::wstring ini = ModuleFolder() + L"\\Bundlo.ini";
    HANDLE file = CreateFileW(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const char content[] = "HKCU\\Setup\\Links\\Desktop=1\r\n";
    DWORD written;
    WriteFile(file, content, sizeof content - 1, &written, nullptr);
    CloseHandle(file);
    ReleaseSettings();
    IntegrationSettings s = {};
    LoadIntegrationSettings(s);
    EXPECT_EQ(1, s.linkDesktop);
    SaveIntegrationSettings(s);
    ReleaseSettings();
    DeleteFileW(ini.c_str());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Setup"));
}

} // namespace
