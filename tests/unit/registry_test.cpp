// The registry operations against the real registry of the test prefix. Every key they make
// lives under a test key of its own and is removed again.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/registry.h"
#include "common/settings.h"
#include "common/system.h"
#include "test_support.h"

namespace {

const wchar_t TestKey[] = L"Software\\BundloRegistryTest"; // absolute, under HKEY_CURRENT_USER
const wchar_t TestPath[] = L"\\Software\\BundloRegistryTest";

std::wstring Under(const std::wstring& path) {
    return std::wstring(TestPath) + L"\\" + path;
}

void RawSet(const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
            DWORD size) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                             KEY_WRITE, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

// "hello" as stored without its terminator, handed over as it is.
LONG WINAPI BareHello(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE data, LPDWORD size) {
    if (*size < 10)
        return ERROR_MORE_DATA;
    memcpy(data, L"hello", *size = 10);
    return ERROR_SUCCESS;
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ReleaseSettings();
        RegDeleteTreeW(HKEY_CURRENT_USER, TestKey);
    }
    void TearDown() override {
        OverrideRegistryFunctions(nullptr);
        RegDeleteTreeW(HKEY_CURRENT_USER, TestKey);
    }
};

TEST(ResolveKeyPath, ProductKeyAbsoluteAndClassesRoot) {
    wchar_t out[RegistryPathCapacity];
    ResolveKeyPath(HKEY_CURRENT_USER, L"", out, RegistryPathCapacity);
    EXPECT_STREQ(L"Software\\Bundlo", out);
    ResolveKeyPath(HKEY_CURRENT_USER, L"General", out, RegistryPathCapacity);
    EXPECT_STREQ(L"Software\\Bundlo\\General", out);
    ResolveKeyPath(HKEY_LOCAL_MACHINE,
                   L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bundlo archiver",
                   out, RegistryPathCapacity);
    EXPECT_STREQ(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bundlo archiver", out);
    // The machine's classes, never the merged root that a user's own key would take over.
    ResolveKeyPath(HKEY_CLASSES_ROOT, L".rev", out, RegistryPathCapacity);
    EXPECT_STREQ(L"Software\\Classes\\.rev", out);
    ResolveKeyPath(HKEY_CLASSES_ROOT, L"\\x", out, RegistryPathCapacity);
    EXPECT_STREQ(L"Software\\Classes\\x", out);
    // Cut, a path names another key: not resolved at all.
    EXPECT_FALSE(ResolveKeyPath(HKEY_CURRENT_USER, L"Setup\\Links", out, 20));
    EXPECT_FALSE(ResolveKeyPath(HKEY_CLASSES_ROOT, std::wstring(600, L'k').c_str(), out,
                                RegistryPathCapacity));
}

TEST_F(RegistryTest, ValuesWrittenAndReadBack) {
    EXPECT_EQ(ERROR_SUCCESS, SetUserString(Under(L"a\\b").c_str(), L"Text", L"hello"));
    EXPECT_EQ(ERROR_SUCCESS, SetUserDword(Under(L"a\\b").c_str(), L"", 0x12345678));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Under(L"a\\b").c_str()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Under(L"a\\c").c_str()));

    wchar_t text[8];
    EXPECT_TRUE(GetUserString(Under(L"a\\b").c_str(), L"Text", text, L"d", 8));
    EXPECT_STREQ(L"hello", text);
    EXPECT_EQ(0x12345678u, GetUserDword(Under(L"a\\b").c_str(), L"", 0));

    // Missing key or value: the default, and false from GetString.
    EXPECT_FALSE(GetUserString(Under(L"none").c_str(), L"Text", text, L"d", 8));
    EXPECT_STREQ(L"d", text);
    EXPECT_FALSE(GetUserString(Under(L"a\\b").c_str(), L"none", text, L"d", 8));
    EXPECT_STREQ(L"d", text);
    EXPECT_EQ(9u, GetUserDword(Under(L"a\\b").c_str(), L"none", 9));

    // Longer than the buffer: false, and the default rather than a cut value; also when the
    // value, stored without its terminator, fills the buffer and leaves no room for one.
    EXPECT_FALSE(GetUserString(Under(L"a\\b").c_str(), L"Text", text, L"d", 5));
    EXPECT_STREQ(L"d", text);
    // (Windows hands such a value over as it is stored; this Wine asks for room to end it.)
    RegistryFunctions bare = RealRegistryFunctions();
    bare.QueryValue = BareHello;
    OverrideRegistryFunctions(&bare);
    EXPECT_FALSE(GetUserString(Under(L"a\\b").c_str(), L"Text", text, L"d", 5));
    OverrideRegistryFunctions(nullptr);
    EXPECT_STREQ(L"d", text);

    DeleteValue(HKEY_CURRENT_USER, Under(L"a\\b").c_str(), L"Text");
    EXPECT_FALSE(GetUserString(Under(L"a\\b").c_str(), L"Text", text, L"gone", 8));
    EXPECT_STREQ(L"gone", text);
}

// A number is read only from a REG_DWORD of four bytes; anything else another program left there
// is "wrong type", named in a line, and the default stands for it. Texts are read whatever type.
TEST_F(RegistryTest, NumbersAreReadOnlyFromFourByteDwords) {
    const wchar_t four[] = L"A"; // one character and its terminator: 4 bytes
    RawSet(std::wstring(TestKey), L"Four", REG_SZ, four, 4);
    const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    RawSet(std::wstring(TestKey), L"Eight", REG_BINARY, eight, 8);
    const BYTE two[2] = {0x34, 0x12};
    RawSet(std::wstring(TestKey), L"Two", REG_BINARY, two, 2);
    RawSet(std::wstring(TestKey), L"Empty", REG_BINARY, two, 0);
    const wchar_t unterminated[] = {L'a', L'b'};
    RawSet(std::wstring(TestKey), L"Bytes", REG_BINARY, unterminated, 4);
    const DWORD number = 0x12345678;
    RawSet(std::wstring(TestKey), L"Number", REG_DWORD, &number, 4);

    CapturedDiagnostics diagnostics;
    const struct {
        const wchar_t* Name;
        DWORD Expected;
        ReadResult Result;
    } reads[] = {{L"Four", 7, ReadWrongType},   {L"Eight", 7, ReadWrongType},
                 {L"Two", 7, ReadWrongType},    {L"Empty", 7, ReadWrongType},
                 {L"Number", number, ReadDone}, {L"None", 7, ReadMissing}};
    for (const auto& read : reads) {
        ReadResult result = ReadRefused;
        EXPECT_EQ(read.Expected, GetUserDword(TestPath, read.Name, 7, &result)) << read.Name;
        EXPECT_EQ(read.Result, result) << read.Name;
    }
    const std::wstring line = L"Bundlo Uninstall: read a number (a value of another type): "
                              L"HKEY_CURRENT_USER\\Software\\BundloRegistryTest, value \"";
    EXPECT_EQ(
        (std::vector<std::wstring>{line + L"Four\": error 1629", line + L"Eight\": error 1629",
                                   line + L"Two\": error 1629", line + L"Empty\": error 1629"}),
        CapturedDiagnostics::Lines());
    wchar_t text[8];
    EXPECT_TRUE(GetUserString(TestPath, L"Bytes", text, L"", 8));
    EXPECT_STREQ(L"ab", text);
}

TEST_F(RegistryTest, KeysDeletedOnlyWhenEmptyOrAsAWholeTree) {
    // A key kept for its sub-keys, and keys or values already gone, are no failures.
    CapturedDiagnostics diagnostics;
    // Several levels, several children per key: a single pass cannot get them all.
    for (const wchar_t* leaf : {L"t\\a\\1\\x", L"t\\a\\2", L"t\\a\\3\\y\\z", L"t\\b\\1", L"t\\b\\2",
                                L"t\\c", L"t\\d\\1\\2\\3"})
        ASSERT_EQ(ERROR_SUCCESS, SetUserString(Under(leaf).c_str(), L"v", L"x"));
    DeleteEmptyKey(HKEY_CURRENT_USER, Under(L"t\\a").c_str());
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Under(L"t\\a").c_str()));
    DeleteEmptyKey(HKEY_CURRENT_USER, Under(L"t\\c").c_str());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Under(L"t\\c").c_str()));

    DeleteKeyTree(HKEY_CURRENT_USER, Under(L"t").c_str());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Under(L"t").c_str()));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, TestPath));
    DeleteKeyTree(HKEY_CURRENT_USER, Under(L"t").c_str());
    DeleteEmptyKey(HKEY_CURRENT_USER, Under(L"t").c_str());
    DeleteValue(HKEY_CURRENT_USER, TestPath, L"never");
    DeleteValue(HKEY_CURRENT_USER, Under(L"t").c_str(), L"never");
    EXPECT_EQ(std::vector<std::wstring>{}, CapturedDiagnostics::Lines());
}

LONG WINAPI RefusingDeleteKey(HKEY, LPCWSTR) {
    return ERROR_ACCESS_DENIED;
}
LONG WINAPI RefusingDeleteKeyEx(HKEY, LPCWSTR, REGSAM, DWORD) {
    return ERROR_ACCESS_DENIED;
}
LONG WINAPI RefusingDeleteOpenedKey(HKEY) {
    return ERROR_ACCESS_DENIED;
}
LONG WINAPI RefusingDeleteValue(HKEY, LPCWSTR) {
    return ERROR_ACCESS_DENIED;
}

TEST_F(RegistryTest, RefusedDeletionsAreReportedWithTheirKeyAndValue) {
    ASSERT_EQ(ERROR_SUCCESS, SetUserString(Under(L"t\\a").c_str(), L"v", L"x"));
    ASSERT_EQ(ERROR_SUCCESS, SetUserString(Under(L"e").c_str(), L"", L"x"));
    RegistryFunctions refusing = RealRegistryFunctions();
    refusing.DeleteKey = RefusingDeleteKey;
    refusing.DeleteKeyEx = RefusingDeleteKeyEx;
    refusing.DeleteOpenedKey = RefusingDeleteOpenedKey;
    refusing.DeleteValue = RefusingDeleteValue;
    OverrideRegistryFunctions(&refusing);
    CapturedDiagnostics diagnostics;
    DeleteValue(HKEY_CURRENT_USER, Under(L"t\\a").c_str(), L"v");
    DeleteValue(HKEY_CURRENT_USER, Under(L"e").c_str(), L"");
    DeleteEmptyKey(HKEY_CURRENT_USER, Under(L"e").c_str());
    DeleteKeyTree(HKEY_CURRENT_USER, Under(L"t").c_str());
    const std::wstring key = L"HKEY_CURRENT_USER\\Software\\BundloRegistryTest\\";
    EXPECT_EQ((std::vector<std::wstring>{
                  L"Bundlo Uninstall: delete value: " + key + L"t\\a, value \"v\": error 5",
                  L"Bundlo Uninstall: delete value: " + key + L"e, default value: error 5",
                  L"Bundlo Uninstall: delete key: " + key + L"e: error 5",
                  L"Bundlo Uninstall: delete key tree: " + key + L"t: error 5"}),
              CapturedDiagnostics::Lines());
}

// Names reach the registry's limit of 255 characters; none stops an enumeration.
TEST_F(RegistryTest, KeyNamesUpToTheRegistrysLimitAreDeleted) {
    for (size_t length : {200, 240, 255}) {
        std::wstring longName(length, L'n');
        ASSERT_EQ(ERROR_SUCCESS,
                  SetUserString(Under(L"t\\p\\" + longName + L"\\s").c_str(), L"v", L"x"));
        ASSERT_EQ(ERROR_SUCCESS, SetUserString(Under(L"t\\p\\short").c_str(), L"v", L"x"));
        DeleteKeyTree(HKEY_CURRENT_USER, Under(L"t").c_str());
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Under(L"t").c_str())) << length;
    }
}

std::vector<std::wstring> Touched;
LONG WINAPI RecordingOpen(HKEY, LPCWSTR path, DWORD, REGSAM, PHKEY) {
    Touched.push_back(path);
    return ERROR_FILE_NOT_FOUND;
}
LONG WINAPI RecordingDelete(HKEY, LPCWSTR path) {
    Touched.push_back(path);
    return ERROR_ACCESS_DENIED;
}

TEST_F(RegistryTest, AnEmptyPathNeverDeletesTheRoot) {
    RegistryFunctions recording = RealRegistryFunctions();
    recording.OpenKey = RecordingOpen;
    recording.DeleteKey = RecordingDelete;
    OverrideRegistryFunctions(&recording);
    Touched.clear();
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"");
    DeleteKeyTree(HKEY_CURRENT_USER, L"\\");
    EXPECT_TRUE(Touched.empty());
    DeleteKeyTree(HKEY_CLASSES_ROOT, L".rev");
    EXPECT_EQ(std::vector<std::wstring>{L"Software\\Classes\\.rev"}, Touched);
}

TEST_F(RegistryTest, RefusedMachineWritesReportAccessDenied) {
    RefusedCreations refused([](HKEY root, const wchar_t*) { return root == HKEY_LOCAL_MACHINE; });
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              SetString(HKEY_LOCAL_MACHINE, L"\\Software\\BundloRegistryTest", L"v", L"x"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(HKEY_LOCAL_MACHINE, L"", L"v", 1));
    EXPECT_EQ(ERROR_SUCCESS, SetUserString(TestPath, L"v", L"x"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"Software\\BundloRegistryTest"));
}

TEST_F(RegistryTest, RefusedWritesAreReportedInTheirView) {
    RefusedCreations refused([](HKEY root, const wchar_t*) { return root == HKEY_LOCAL_MACHINE; });
    CapturedDiagnostics diagnostics;
    SetDword(HKEY_LOCAL_MACHINE, L"", L"v", 1);
    SetString(InView(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY), L"Sub", L"v", L"x");
    EXPECT_EQ((std::vector<std::wstring>{
                  L"Bundlo Uninstall: create key: HKEY_LOCAL_MACHINE\\Software\\Bundlo: error 5",
                  L"Bundlo Uninstall: create key: HKEY_LOCAL_MACHINE\\Software\\Bundlo\\Sub "
                  L"(32-bit view): error 5"}),
              CapturedDiagnostics::Lines());
}

// On 64-bit Windows each build reaches the other bitness's view only by naming it; every
// operation follows the view its root names, and a bare root is the process's own view.
TEST_F(RegistryTest, TheOtherViewReachesEveryOperation) {
    ASSERT_TRUE(Is64BitWindows()) << "the test prefix is 64-bit Windows";
    const REGSAM other = ProgramRegistryView(sizeof(void*) == 4);
    const REGSAM own = ProgramRegistryView(sizeof(void*) == 8);
    const wchar_t* path = L"\\Software\\BundloViewTest";
    const wchar_t* raw = path + 1;
    wchar_t text[8];
    const RegistryRoot machine = InView(HKEY_LOCAL_MACHINE, other);
    EXPECT_EQ(ERROR_SUCCESS, SetString(machine, path, L"v", L"other"));
    EXPECT_EQ(ERROR_SUCCESS, SetString(machine, L"\\Software\\BundloViewTest\\sub", L"v", L"x"));
    EXPECT_TRUE(GetString(machine, path, L"v", text, L"", 8));
    EXPECT_STREQ(L"other", text);
    EXPECT_TRUE(KeyExists(machine, path));
    DeleteValue(machine, path, L"v");
    EXPECT_EQ(MissingValue, RawValue(HKEY_LOCAL_MACHINE, raw, L"v", other));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, raw, own));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path));
    EXPECT_FALSE(GetString(HKEY_LOCAL_MACHINE, path, L"v", text, L"none", 8));
    DeleteKeyTree(HKEY_LOCAL_MACHINE, path);
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, raw, other)) << "deleted through the wrong view";
    DeleteKeyTree(machine, path);
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, raw, other));
}

// Found by the fault campaign (faults, seed 1, input 334: ApplyIntegration with the class of
// ".cab" refused): the key made for the refused value stayed, empty, and the next apply took it
// for one that had been there before, so that the removal left it behind.
TEST_F(RegistryTest, AKeyMadeForARefusedValueGoesAgain) {
    {
        FailingCall failing(RegistryCall::SetValue, L"v", ERROR_ACCESS_DENIED);
        CapturedDiagnostics diagnostics;
        EXPECT_EQ(ERROR_ACCESS_DENIED,
                  SetString(HKEY_CURRENT_USER, Under(L"made").c_str(), L"v", L"text"));
        EXPECT_EQ(1u, CapturedDiagnostics::Lines().size());
    }
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, std::wstring(TestKey) + L"\\made"));
    // A key that was there before stays, whatever the value.
    ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, Under(L"made").c_str(), L"w", L"x"));
    {
        FailingCall failing(RegistryCall::SetValue, L"v", ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(ERROR_FILE_NOT_FOUND,
                  SetString(HKEY_CURRENT_USER, Under(L"made").c_str(), L"v", L"text"));
    }
    EXPECT_EQ(L"x", RawValue(HKEY_CURRENT_USER, std::wstring(TestKey) + L"\\made", L"w"));
}

} // namespace
