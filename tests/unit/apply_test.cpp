// The apply sequence and its two stops, against the real registry of the prefix.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "common/registry.h"
#include "integration/apply.h"
#include "integration/registration.h"
#include "test_support.h"

namespace {

bool ClassesKey(const wchar_t* key) {
    return RawKeyExists(HKEY_CLASSES_ROOT, key);
}

bool MachineKey(const wchar_t* key) {
    return RawKeyExists(HKEY_LOCAL_MACHINE, key);
}

class Apply : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitialize(nullptr);
        Clean();
    }
    void TearDown() override {
        Clean();
        CoUninitialize();
    }
    static void Clean() {
        for (const wchar_t* key :
             {L".zip", L".7z", L"Bundlo", L"Bundlo.ZIP", L"Bundlo.REV", L".rev"})
            RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, AppPathsKey + 1);
        DeleteMachineProductKeys();
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Bundlo");
    }
    static IntegrationSettings Everything() {
        IntegrationSettings s = EveryArchiveType();
        s.shellExtension = 1;
        s.linkProgramGroup = 1;
        return s;
    }
};

bool RefuseAppPaths(HKEY root, const wchar_t* path) {
    return root == HKEY_LOCAL_MACHINE && wcsstr(path, L"App Paths") != nullptr;
}

bool RefuseFirstClassKey(HKEY root, const wchar_t* path) {
    return root == HKEY_LOCAL_MACHINE && wcscmp(path, L"Software\\Classes\\Bundlo") == 0;
}

TEST_F(Apply, RefusedAppPathsChangeNothingAtAll) {
    wchar_t group[MAX_PATH] = L"untouched";
    {
        RefusedCreations refused(RefuseAppPaths);
        EXPECT_FALSE(ApplyIntegration(Everything(), group, MAX_PATH));
    }
    EXPECT_STREQ(L"untouched", group);
    EXPECT_FALSE(ClassesKey(L".zip"));
    EXPECT_FALSE(ClassesKey(L"Bundlo"));
    EXPECT_FALSE(ClassesKey(L"Folder\\shellex\\DragDropHandlers\\Bundlo"));
    EXPECT_FALSE(MachineKey(L"Software\\Bundlo"));
}

TEST_F(Apply, RefusedClassKeysStopBeforeTheShortcuts) {
    wchar_t group[MAX_PATH] = L"untouched";
    {
        RefusedCreations refused(RefuseFirstClassKey);
        EXPECT_FALSE(ApplyIntegration(Everything(), group, MAX_PATH));
    }
    EXPECT_STREQ(L"untouched", group);
    EXPECT_TRUE(MachineKey(AppPathsKey + 1));
    EXPECT_TRUE(ClassesKey(L".zip"));
    EXPECT_TRUE(ClassesKey(L".zip\\ShellNew"));
    EXPECT_FALSE(ClassesKey(L".rev"));
}

TEST_F(Apply, NothingChosenReleasesAllButStillRegistersTheProgram) {
    wchar_t group[MAX_PATH] = L"";
    ASSERT_TRUE(ApplyIntegration(Everything(), group, MAX_PATH));
    EXPECT_NE(0, group[0]);
    EXPECT_TRUE(ClassesKey(L".7z"));
    ASSERT_TRUE(ApplyIntegration(IntegrationSettings(), group, MAX_PATH));
    EXPECT_FALSE(ClassesKey(L".7z"));
    EXPECT_FALSE(ClassesKey(L"Folder\\shellex\\DragDropHandlers\\Bundlo"));
    EXPECT_FALSE(ClassesKey(L"Bundlo\\shellex\\DropHandler"));
    EXPECT_TRUE(ClassesKey(L"Bundlo\\shell\\open\\command"));
    EXPECT_TRUE(MachineKey(AppPathsKey + 1));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(group)) << "the group stays";
}

} // namespace
