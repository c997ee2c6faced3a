// The settings file as the program finds it: "Bundlo.ini" beside this test's module (each test
// executable has a folder of its own), read from real files in every encoding, and served
// through the real registry operations.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/array.h"
#include "common/file.h"
#include "common/registry.h"
#include "common/settings.h"
#include "raw_files.h"
#include "test_support.h"

namespace {

std::string Utf16Le(const std::wstring& text, bool mark = true) {
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (wchar_t c : text) {
        bytes += char(c & 0xFF);
        bytes += char(c >> 8);
    }
    return bytes;
}

std::string Utf16Be(const std::wstring& text) {
    std::string bytes = "\xFE\xFF";
    for (wchar_t c : text) {
        bytes += char(c >> 8);
        bytes += char(c & 0xFF);
    }
    return bytes;
}

struct Entry {
    std::wstring Name;
    std::wstring Value;
    int Kind;
    bool operator==(const Entry& other) const {
        return Name == other.Name && Value == other.Value && Kind == other.Kind;
    }
};

std::vector<Entry> Entries() {
    std::vector<Entry> entries;
    for (const SettingsEntry* entry = FirstSettingsEntry(); entry; entry = entry->Next)
        entries.push_back({entry->Name, entry->Value, entry->Kind});
    return entries;
}

const Entry* Find(const std::vector<Entry>& entries, const std::wstring& name) {
    for (const Entry& entry : entries)
        if (entry.Name == name)
            return &entry;
    return nullptr;
}

// A settings file beside the module, written before the store is first used.
class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ReleaseSettings();
        IniPath = ModuleFolder() + L"\\Bundlo.ini";
        DeleteFileW(IniPath.c_str());
        for (const std::wstring& name : Beside())
            DeleteFileW((ModuleFolder() + L"\\" + name).c_str());
    }
    void TearDown() override {
        FileWriteOverride = nullptr;
        FileReadOverride = nullptr;
        ReleaseSettings();
        DeleteFileW(IniPath.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\BundloSettingsTest");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L".bdltest");
    }
    // Files named like the settings file and something more: temporary files of a save.
    static std::vector<std::wstring> Beside() {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((ModuleFolder() + L"\\Bundlo.ini?*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return names;
        do
            names.push_back(data.cFileName);
        while (FindNextFileW(find, &data));
        FindClose(find);
        return names;
    }
    void Load(const std::string& bytes) {
        WriteRaw(IniPath, bytes);
        LoadSettingsFile();
        ASSERT_TRUE(IsSettingsFileActive());
    }
    std::wstring IniPath;
};

TEST_F(SettingsFileTest, WithoutAFileEveryRequestReachesTheRegistry) {
    ASSERT_EQ(ERROR_SUCCESS, SetUserString(L"\\Software\\BundloSettingsTest", L"v", L"reg"));
    EXPECT_EQ(ERROR_SUCCESS, SetUserDword(L"", L"SettingsTestNumber", 7));
    EXPECT_FALSE(IsSettingsFileActive());
    EXPECT_TRUE(IsIntegrationEnabled());
    EXPECT_EQ(7u, GetUserDword(L"", L"SettingsTestNumber", 0));
    DeleteValue(HKEY_CURRENT_USER, L"", L"SettingsTestNumber");
    EXPECT_EQ(3u, GetUserDword(L"", L"SettingsTestNumber", 3));
    EXPECT_EQ(nullptr, FirstSettingsEntry());
    EXPECT_FALSE(SaveSettingsFile());
    EXPECT_FALSE(Exists(IniPath));
}

TEST_F(SettingsFileTest, FoundInTheApplicationDataFolderWhenNotBesideTheModule) {
    wchar_t appData[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, appData, CSIDL_APPDATA, FALSE));
    std::wstring folder = std::wstring(appData) + L"\\Bundlo";
    bool made = CreateDirectoryW(folder.c_str(), nullptr) != 0;
    WriteRaw(folder + L"\\Bundlo.ini", "HKCU\\General\\Where=\"appdata\"\r\n");
    wchar_t text[32];
    GetUserString(L"General", L"Where", text, L"registry", 32);
    std::wstring found = SettingsFilePath();
    ReleaseSettings();
    DeleteFileW((folder + L"\\Bundlo.ini").c_str());
    if (made)
        RemoveDirectoryW(folder.c_str());
    EXPECT_STREQ(L"appdata", text);
    EXPECT_EQ(folder + L"\\Bundlo.ini", found);
}

TEST_F(SettingsFileTest, EveryEncodingGivesTheSameEntries) {
    const std::wstring text =
        L"; comment\r\nHKCU\\Setup\\Name=\"caf\u00e9 \u4e2d\"\r\nGlobal\\AppData=0";
    const std::string utf8 = "; comment\r\nHKCU\\Setup\\Name=\"caf\xC3\xA9 \xE4\xB8\xAD\"\r\n"
                             "Global\\AppData=0";
    for (const std::string& bytes :
         {Utf16Le(text), Utf16Be(text), std::string("\xEF\xBB\xBF") + utf8}) {
        SCOPED_TRACE(bytes.substr(0, 2));
        Load(bytes);
        std::vector<Entry> entries = Entries();
        ASSERT_EQ(4u, entries.size());
        EXPECT_EQ((Entry{L"HKCU\\Setup\\Name", L"caf\u00e9 \u4e2d", SettingsText}), entries[0]);
        EXPECT_EQ((Entry{L"Global\\AppData", L"0", SettingsNumber}), entries[1]);
        ReleaseSettings();
    }
    // Without its signature UTF-8 is read in the ANSI code page, byte by byte.
    Load(utf8);
    wchar_t expected[64];
    MultiByteToWideChar(CP_ACP, 0, "caf\xC3\xA9 \xE4\xB8\xAD", -1, expected, 64);
    EXPECT_EQ(expected, Entries()[0].Value);
}

TEST(DetectTextEncoding, TellsTheEncodingFromMarksAndHighBytes) {
    auto detect = [](const std::string& bytes) {
        return DetectTextEncoding(reinterpret_cast<const unsigned char*>(bytes.data()),
                                  bytes.size());
    };
    EXPECT_EQ(TextUtf16, detect(Utf16Le(L"A=1")));
    EXPECT_EQ(TextUtf16, detect(Utf16Be(L"A=1")));
    EXPECT_EQ(TextUtf8, detect("\xEF\xBB\xBF"
                               "A=\xC3\xA9"));
    // Characters at or above U+2000 only: no high byte looks like text, so it is ANSI.
    EXPECT_EQ(TextAnsi, detect(Utf16Le(L"\u2000\u4e2d\u3042")));
    // A signature over invalid UTF-8, a lone mark and plain text are ANSI.
    EXPECT_EQ(TextAnsi, detect("\xEF\xBB\xBF"
                               "A=\xC3"));
    EXPECT_EQ(TextAnsi, detect("\xFF\xFE"));
    EXPECT_EQ(TextAnsi, detect("A=1\r\n"));
    // Line ends alone do not make UTF-16.
    EXPECT_EQ(TextAnsi, detect(std::string("\xFF\xFE\x41\x0D\x42\x0A", 6)));
}

TEST_F(SettingsFileTest, LineFormatAndKinds) {
    Load("HKCU\\Setup\\ShellExt=1\r"
         "HKCU\\setup\\ShellExt=2\n\n\r\n"
         "HKCU\\Setup\\ShellExt=3\r\n" // repeated name: the first one counts
         " Indented=1\r\n[Section]\r\n; x=1\r\n9Digit=1\r\nNoEquals\r\n"
         "Quote=\"\r\n"        // a lone double quote: empty text
         "Open=\"abc   \t\r\n" // no closing quote; trailing blanks go
         "Inner=\"a\"b\"\r\n"
         "Empty=\r\n" // "=" last: an empty number
         "Raw=bin:00ff\r\n"
         "Neg=-12x\r\n");
    std::vector<Entry> entries = Entries();
    EXPECT_EQ(L"1", Find(entries, L"HKCU\\Setup\\ShellExt")->Value);
    EXPECT_EQ(L"2", Find(entries, L"HKCU\\setup\\ShellExt")->Value);
    EXPECT_EQ(3, std::count_if(entries.begin(), entries.end(), [](const Entry& e) {
                  return e.Name.find(L"ShellExt") != std::wstring::npos;
              }));
    EXPECT_EQ(nullptr, Find(entries, L" Indented"));
    EXPECT_EQ(nullptr, Find(entries, L"9Digit"));
    EXPECT_EQ((Entry{L"Quote", L"", SettingsText}), *Find(entries, L"Quote"));
    EXPECT_EQ((Entry{L"Open", L"abc", SettingsText}), *Find(entries, L"Open"));
    EXPECT_EQ((Entry{L"Inner", L"a\"b", SettingsText}), *Find(entries, L"Inner"));
    EXPECT_EQ((Entry{L"Empty", L"", SettingsNumber}), *Find(entries, L"Empty"));
    EXPECT_EQ((Entry{L"Raw", L"00ff", SettingsRaw}), *Find(entries, L"Raw"));
    EXPECT_EQ(12u, entries.size()); // nine entries and the three switches

    // Reads through the root none: an entry without digits is 0, not the default.
    EXPECT_EQ(0u, GetDword(nullptr, L"", L"Empty", 5));
    EXPECT_EQ(DWORD(-12), GetDword(nullptr, L"", L"Neg", 5));
    EXPECT_EQ(5u, GetDword(nullptr, L"", L"Missing", 5));
    wchar_t text[16];
    EXPECT_TRUE(GetString(nullptr, L"", L"Empty", text, L"dflt", 16));
    EXPECT_STREQ(L"", text);
    EXPECT_TRUE(GetString(nullptr, L"", L"Inner", text, L"dflt", 3));
    EXPECT_STREQ(L"a\"", text);
}

TEST(ComposeSettingsKey, PrefixPathAndValueName) {
    wchar_t key[SettingsKeyCapacity];
    ComposeSettingsKey(HKEY_CURRENT_USER, L"Setup\\Links", L"Desktop", key, SettingsKeyCapacity);
    EXPECT_STREQ(L"HKCU\\Setup\\Links\\Desktop", key);
    ComposeSettingsKey(HKEY_CURRENT_USER, L"Setup", L"", key, SettingsKeyCapacity);
    EXPECT_STREQ(L"HKCU\\Setup\\", key);
    ComposeSettingsKey(HKEY_LOCAL_MACHINE, L"", L"exe32", key, SettingsKeyCapacity);
    EXPECT_STREQ(L"HKLM\\exe32", key);
    ComposeSettingsKey(nullptr, L"Global", L"Integration", key, SettingsKeyCapacity);
    EXPECT_STREQ(L"Global\\Integration", key);
    ComposeSettingsKey(nullptr, L"", L"", key, SettingsKeyCapacity);
    EXPECT_STREQ(L"", key);
    // Cut, it would name another entry (or a group of them, for a deletion).
    EXPECT_FALSE(ComposeSettingsKey(HKEY_CURRENT_USER, L"Setup", L"ShellExt", key, 8));
    EXPECT_STREQ(L"", key);
    std::wstring deep(SettingsKeyCapacity, L'k');
    EXPECT_FALSE(ComposeSettingsKey(nullptr, deep.c_str(), L"v", key, SettingsKeyCapacity));
}

TEST_F(SettingsFileTest, ProductKeysAreServedFromTheFileAndOthersFromTheRegistry) {
    Load("HKCU\\Setup\\Links\\Desktop=1\r\nHKCU\\Setup\\ShellExt=1\r\nHKCU\\SetupX\\Y=1\r\n"
         "HKLM\\exe32=\"C:\\x.exe\"\r\n");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Setup\\Links"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Setup\\Link"));
    EXPECT_EQ(1u, GetUserDword(L"Setup\\Links", L"Desktop", 0));
    wchar_t text[64];
    EXPECT_TRUE(GetString(HKEY_LOCAL_MACHINE, L"", L"exe32", text, L"", 64));
    EXPECT_STREQ(L"C:\\x.exe", text);

    EXPECT_EQ(ERROR_SUCCESS, SetUserString(L"Setup\\MenuItems", L"AlwaysArc", L"*.iso"));
    EXPECT_EQ(ERROR_SUCCESS, SetUserDword(L"Setup", L"All", 0xFFFFFFFFu));
    EXPECT_EQ(0xFFFFFFFFu, GetUserDword(L"Setup", L"All", 0));
    std::vector<Entry> entries = Entries();
    EXPECT_EQ((Entry{L"HKCU\\Setup\\MenuItems\\AlwaysArc", L"*.iso", SettingsText}),
              *Find(entries, L"HKCU\\Setup\\MenuItems\\AlwaysArc"));
    EXPECT_EQ(L"4294967295", Find(entries, L"HKCU\\Setup\\All")->Value);
    // None of it reached the registry.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"\\Software\\Bundlo\\Setup\\MenuItems"));

    // Absolute paths and HKEY_CLASSES_ROOT go to the registry while the file is active.
    EXPECT_EQ(ERROR_SUCCESS, SetUserString(L"\\Software\\BundloSettingsTest", L"v", L"reg"));
    EXPECT_TRUE(GetUserString(L"\\Software\\BundloSettingsTest", L"v", text, L"", 64));
    EXPECT_STREQ(L"reg", text);
    EXPECT_EQ(nullptr, Find(Entries(), L"HKCU\\\\Software\\BundloSettingsTest\\v"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));

    DeleteValue(HKEY_CURRENT_USER, L"Setup", L"All");
    EXPECT_EQ(9u, GetUserDword(L"Setup", L"All", 9));
    DeleteKeyTree(HKEY_CURRENT_USER, L"Setup");
    entries = Entries();
    EXPECT_EQ(nullptr, Find(entries, L"HKCU\\Setup\\Links\\Desktop"));
    EXPECT_EQ(nullptr, Find(entries, L"HKCU\\Setup\\ShellExt"));
    EXPECT_NE(nullptr, Find(entries, L"HKCU\\SetupX\\Y"));
    EXPECT_NE(nullptr, Find(entries, L"HKLM\\exe32"));
}

TEST_F(SettingsFileTest, IntegrationOffKeepsTheRegistryAndShortcutsAway) {
    Load("Global\\Integration=0\r\n");
    EXPECT_FALSE(IsIntegrationEnabled());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_EQ(ERROR_SUCCESS, SetString(HKEY_CLASSES_ROOT, L".bdltest", L"", L"Bundlo.ZIP"));
    EXPECT_EQ(ERROR_SUCCESS, SetUserString(L"\\Software\\BundloSettingsTest", L"v", L"x"));
    EXPECT_EQ(ERROR_SUCCESS,
              SetDword(HKEY_LOCAL_MACHINE, L"\\Software\\BundloSettingsTest", L"n", 1));
    wchar_t text[16];
    EXPECT_TRUE(GetString(HKEY_CLASSES_ROOT, L"CLSID", L"", text, L"dflt", 16));
    EXPECT_STREQ(L"dflt", text);
    EXPECT_EQ(4u, GetDword(HKEY_CLASSES_ROOT, L"CLSID", L"", 4));
    // The product key itself still works, from the file.
    EXPECT_EQ(ERROR_SUCCESS, SetUserDword(L"Setup", L"ShellExt", 1));
    EXPECT_EQ(1u, GetUserDword(L"Setup", L"ShellExt", 0));
    ReleaseSettings();
    HKEY key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L".bdltest", 0, KEY_READ, &key));
    EXPECT_NE(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\BundloSettingsTest", 0, KEY_READ, &key));
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\BundloSettingsTest", 0,
                                           KEY_READ, &key));
}

TEST_F(SettingsFileTest, SavedSortedAsUtf16WithMarkAndCrLf) {
    Load("HKLM\\exe32=\"C:\\b.exe\"\nHKCU\\Setup\\B=bin:ab\"c\nGlobal\\Integration=0\n"
         "HKCU\\Setup\\A=5\n; dropped\n");
    ASSERT_TRUE(SaveSettingsFile());
    EXPECT_EQ(Utf16Le(L"Global\\AppData=1\r\nGlobal\\Integration=0\r\nGlobal\\SaveSettings=1\r\n"
                      L"HKCU\\Setup\\A=5\r\nHKCU\\Setup\\B=bin:ab\"c\r\n"
                      L"HKLM\\exe32=\"C:\\b.exe\"\r\n"),
              ReadRaw(IniPath));
    EXPECT_EQ(std::vector<std::wstring>(), Beside());

    // An empty file still makes the store active, with the three switches only.
    ReleaseSettings();
    Load("");
    ASSERT_TRUE(SaveSettingsFile());
    EXPECT_EQ(Utf16Le(L"Global\\AppData=1\r\nGlobal\\Integration=1\r\nGlobal\\SaveSettings=1\r\n"),
              ReadRaw(IniPath));
}

TEST_F(SettingsFileTest, SaveSettingsOffLeavesTheFileUntouched) {
    const std::string content = "Global\\SaveSettings=0\r\nHKCU\\A=1\r\n";
    Load(content);
    SetUserDword(L"", L"A", 2);
    EXPECT_EQ(2u, GetUserDword(L"", L"A", 0));
    EXPECT_FALSE(SaveSettingsFile());
    EXPECT_EQ(content, ReadRaw(IniPath));
}

int WritesBeforeFailure;
bool FailingWrite(HANDLE file, const void* data, DWORD size, DWORD* written) {
    if (WritesBeforeFailure-- <= 0)
        return false;
    return WriteFile(file, data, size, written, nullptr) != FALSE;
}

TEST_F(SettingsFileTest, AFailedWriteKeepsTheOldFileWhole) {
    std::string content = "Global\\Integration=1\r\n";
    // Enough entries for several writes, so that one can fail half way.
    for (int i = 0; i < 3000; i++)
        content += "HKCU\\Setup\\Entry" + std::to_string(i) + "=\"some text\"\r\n";
    Load(content);
    SetUserString(L"Setup", L"Changed", L"yes");
    for (int failing : {0, 1, 2}) {
        SCOPED_TRACE(failing);
        WritesBeforeFailure = failing;
        FileWriteOverride = FailingWrite;
        EXPECT_FALSE(SaveSettingsFile());
        EXPECT_EQ(content, ReadRaw(IniPath));
        EXPECT_EQ(std::vector<std::wstring>(), Beside());
    }
    FileWriteOverride = nullptr;
    EXPECT_TRUE(SaveSettingsFile());
    EXPECT_EQ(0u, ReadRaw(IniPath).find(Utf16Le(L"Global\\AppData=1\r\n")));
}

TEST_F(SettingsFileTest, ExitWritesTheFileBack) {
    // The store's own tear-down saves: here through a child process, this test's own module.
    WriteRaw(IniPath, "HKCU\\A=1\r\n");
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    EXPECT_EQ(0u, RunTestsInChild(module, L"SettingsChild.*"));
    EXPECT_EQ(Utf16Le(L"Global\\AppData=1\r\nGlobal\\Integration=1\r\nGlobal\\SaveSettings=1\r\n"
                      L"HKCU\\A=1\r\nHKCU\\B=\"two\"\r\n"),
              ReadRaw(IniPath));
}

// Run only as the child of ExitWritesTheFileBack: changes the store and leaves it loaded.
TEST(SettingsChild, DISABLED_ChangeAndExit) {
    SetUserString(L"", L"B", L"two");
    ASSERT_TRUE(IsSettingsFileActive());
}

// Random and mutated files are the fuzz campaign "settings" (tests/fuzz/campaign_settings.cpp),
// whose fixed-seed slice runs with these tests.

// A settings file of a few hundred bytes, in the program's own format.
std::string SmallSettingsFile() {
    std::wstring text = L"Global\\AppData=1\r\nGlobal\\Integration=0\r\nGlobal\\SaveSettings=1\r\n";
    for (int i = 0; i < 8; i++)
        text += L"HKCU\\Setup\\.ext" + std::to_wstring(i) + L"\\Type=\"Class" + std::to_wstring(i) +
                L"\"\r\n";
    return Utf16Le(text);
}

// The state of a store that must not act: nothing is served or written, not even the registry.
void ExpectDamagedAndInert() {
    EXPECT_TRUE(IsSettingsFileDamaged());
    EXPECT_FALSE(IsSettingsFileActive());
    EXPECT_FALSE(IsIntegrationEnabled());
    EXPECT_NE(ERROR_SUCCESS, SetUserDword(L"Setup", L"Written", 1));
    EXPECT_NE(ERROR_SUCCESS, SetUserString(L"Setup", L"Text", L"x"));
    SetString(HKEY_CLASSES_ROOT, L".bdltest", L"", L"Bundlo.ZIP");
    SetUserString(L"\\Software\\BundloSettingsTest", L"v", L"x");
    EXPECT_FALSE(SaveSettingsFile());
    HKEY key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L".bdltest", 0, KEY_READ, &key));
    EXPECT_NE(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\BundloSettingsTest", 0, KEY_READ, &key));
    for (const wchar_t* value : {L"Written", L"Text"})
        EXPECT_NE(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, L"Software\\Bundlo\\Setup", value,
                                              RRF_RT_ANY, nullptr, nullptr, nullptr))
            << value;
}

TEST_F(SettingsFileTest, AReadFailingAtAnyPositionLeavesTheFileAloneAndActsOnNothing) {
    const std::string content = SmallSettingsFile();
    WriteRaw(IniPath, content);
    int tried = 0;
    // The last position is the read that would have found the end.
    for (uint32_t position = 0; position <= content.size(); position++) {
        SCOPED_TRACE(position);
        ReleaseSettings();
        ReadsLeft = position;
        FileReadOverride = ReadFailingAt;
        LoadSettingsFile();
        FileReadOverride = nullptr;
        EXPECT_TRUE(IsSettingsFileDamaged());
        EXPECT_FALSE(IsSettingsFileActive());
        EXPECT_FALSE(IsIntegrationEnabled());
        EXPECT_FALSE(SaveSettingsFile());
        ReleaseSettings();
        ASSERT_EQ(content, ReadRaw(IniPath));
        ASSERT_EQ(std::vector<std::wstring>(), Beside());
        tried++;
    }
    printf("reads failed at %d positions of a %u-byte settings file\n", tried,
           unsigned(content.size()));
    // The same reads, one byte short of failing, load the whole file.
    ReadsLeft = uint32_t(content.size()) + 1;
    FileReadOverride = ReadFailingAt;
    LoadSettingsFile();
    EXPECT_TRUE(IsSettingsFileActive());
    EXPECT_FALSE(IsSettingsFileDamaged());
    EXPECT_EQ(11u, Entries().size());
}

int WriteCalls;
int FailingCall;
bool HalfWritten;
bool WriteFailingAtCall(HANDLE file, const void* data, DWORD size, DWORD* written) {
    if (WriteCalls++ != FailingCall)
        return WriteFile(file, data, size, written, nullptr) != FALSE;
    if (HalfWritten)
        WriteFile(file, data, size / 2, written, nullptr); // the disk filled up part way
    return false;
}

TEST_F(SettingsFileTest, AWriteFailingAtAnyCallKeepsTheOldFileAndWhatOthersPutBeside) {
    const std::string content = SmallSettingsFile();
    Load(content);
    SetUserString(L"Setup\\.ext0", L"Type", L"Changed");
    // Someone else's file, or a link, under the temporary name earlier versions used: never
    // written through.
    const std::string planted = "not the archiver's";
    WriteRaw(IniPath + L".tmp", planted);
    WriteCalls = 0;
    FailingCall = -1;
    FileWriteOverride = WriteFailingAtCall;
    const std::string before = ReadRaw(IniPath);
    int calls = 0;
    {
        // Counted on a save that succeeds, into a copy put back afterwards.
        ASSERT_TRUE(SaveSettingsFile());
        calls = WriteCalls;
        WriteRaw(IniPath, before);
    }
    ASSERT_GE(calls, 2);
    int tried = 0;
    for (FailingCall = 0; FailingCall < calls; FailingCall++) {
        for (bool half : {false, true}) {
            SCOPED_TRACE(testing::Message() << "call " << FailingCall << (half ? " half" : ""));
            WriteCalls = 0;
            HalfWritten = half;
            EXPECT_FALSE(SaveSettingsFile());
            EXPECT_EQ(content, ReadRaw(IniPath));
            EXPECT_EQ(std::vector<std::wstring>{L"Bundlo.ini.tmp"}, Beside());
            EXPECT_EQ(planted, ReadRaw(IniPath + L".tmp"));
            tried++;
        }
    }
    printf("writes failed at each of %d calls, whole and half: %d saves\n", calls, tried);
    DeleteFileW((IniPath + L".tmp").c_str());
}

TEST_F(SettingsFileTest, AZeroByteMemoryRunningOutAndALockedFileChangeNothing) {
    const std::string content = SmallSettingsFile();
    struct Case {
        const char* Name;
        std::string Bytes;
    };
    const Case cases[] = {
        {"zero byte in UTF-16",
         content.substr(0, 100) + std::string(2, '\0') + content.substr(100)},
        {"zero byte in ANSI",
         std::string("Global\\Integration=0\r\nHKCU\\A=1") + '\0' + "\r\nHKCU\\B=2\r\n"},
        {"out of memory", content},
        {"locked", content},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ReleaseSettings();
        WriteRaw(IniPath, c.Bytes);
        HANDLE lock = INVALID_HANDLE_VALUE;
        if (std::string(c.Name) == "locked")
            lock =
                CreateFileW(IniPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (std::string(c.Name) == "out of memory")
            FileReadOverride = [](HANDLE, void*, DWORD, DWORD*) -> bool { MemoryExit(); };
        LoadSettingsFile();
        FileReadOverride = nullptr;
        ExpectDamagedAndInert();
        if (lock != INVALID_HANDLE_VALUE)
            CloseHandle(lock);
        ReleaseSettings();
        EXPECT_EQ(c.Bytes, ReadRaw(IniPath));
        EXPECT_EQ(std::vector<std::wstring>(), Beside());
    }
}

TEST_F(SettingsFileTest, ALineBreakInAClassNameNeverBecomesAnotherEntry) {
    // What the association saves as the previous owner of an extension: here a class name that
    // another program wrote with a line break and the text of another entry after it.
    Load("HKCU\\Setup\\.iso\\Type=\"Isobuster\"\r\nHKCU\\Setup\\.zip\\Exist=1\r\n"
         "HKLM\\exe32=\"C:\\Program Files\\Bundlo\\Bundlo.exe\"\r\n");
    std::vector<Entry> before = Entries();
    for (const wchar_t* className :
         {L"Evil\r\nHKCU\\Setup\\.iso\\Type=\"Stolen\"", L"Evil\rGlobal\\Integration=1",
          L"Evil\nGlobal\\SaveSettings=0"}) {
        EXPECT_EQ(ERROR_INVALID_DATA, SetUserString(L"Setup\\.zip", L"Type", className));
        EXPECT_EQ(before, Entries());
    }
    // Names that would not read back: refused too.
    EXPECT_EQ(ERROR_INVALID_DATA, SetUserDword(L"Setup\\.zip", L"A\r\nB", 1));
    EXPECT_EQ(ERROR_INVALID_DATA, SetUserString(L"Setup", L"a=b", L"x"));
    EXPECT_EQ(ERROR_INVALID_DATA, SetDword(nullptr, L"", L"1st", 1));
    EXPECT_EQ(before, Entries());
    // What the file does take reads back the same, and so does everything else.
    EXPECT_EQ(ERROR_SUCCESS, SetUserString(L"Setup\\.zip", L"Type", L"C:\\a\\b \"q\" \t"));
    before = Entries();
    ASSERT_TRUE(SaveSettingsFile());
    ReleaseSettings();
    LoadSettingsFile();
    std::vector<Entry> after = Entries();
    auto byName = [](const Entry& a, const Entry& b) { return a.Name < b.Name; };
    std::stable_sort(before.begin(), before.end(), byName);
    std::stable_sort(after.begin(), after.end(), byName);
    EXPECT_EQ(before, after);
}

TEST_F(SettingsFileTest, AClosedStoreIsSavedOnceAndNeverRecreated) {
    Load("Global\\Integration=0\r\nHKCU\\A=1\r\n");
    SetUserDword(L"", L"A", 2);
    CloseSettingsFile();
    EXPECT_EQ(0u, ReadRaw(IniPath).find(Utf16Le(L"Global\\AppData=1\r\n")));
    ASSERT_TRUE(DeleteFileW(IniPath.c_str()));
    // Later requests reach neither a file nor, for a portable copy, the registry: the closed
    // file still answers for its keys.
    EXPECT_EQ(2u, GetUserDword(L"", L"A", 7));
    SetString(HKEY_CLASSES_ROOT, L".bdltest", L"", L"Bundlo.ZIP");
    EXPECT_FALSE(SaveSettingsFile());
    EXPECT_FALSE(Exists(IniPath));
    HKEY key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L".bdltest", 0, KEY_READ, &key));
}

class SettingsLeftovers : public TempFolderTest {
  protected:
    SettingsLeftovers() : TempFolderTest(L"leftovers") {}
};

TEST_F(SettingsLeftovers, OnlyTheTemporaryFilesOfSavesCutShortGo) {
    const wchar_t* names[] = {L"Bundlo.ini.0123456789abcdef.tmp",
                              L"Bundlo.ini",
                              L"Bundlo.ini.0123.tmp",
                              L"Bundlo.ini.0123456789abcdefX.tmp",
                              L"Bundlo.ini.FEDCBA9876543210.tmp",
                              L"Other.ini.0123456789abcdef.tmp"};
    for (const wchar_t* name : names)
        WriteRaw(At(name), "x");
    MakeFolderRaw(At(L"Bundlo.ini.00000000aaaaaaaa.tmp"));
    RemoveSettingsLeftovers(Root.c_str());
    for (const wchar_t* name : names)
        EXPECT_EQ(name != names[0], Exists(At(name))) << name; // only the first one goes
    EXPECT_TRUE(Exists(At(L"Bundlo.ini.00000000aaaaaaaa.tmp")));
}

} // namespace
