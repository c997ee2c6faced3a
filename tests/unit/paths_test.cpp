// Path texts, the long-path form, and the folders the program keeps its data in.
#include "common/paths.h"
#include "common/files.h"
#include "common/settings.h"

#include <gtest/gtest.h>

#include "tests/unit/raw_files.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Buffers are pre-filled with this so that writes past the capacity show up.
constexpr wchar_t kFill = L'#';

std::wstring Cut(const wchar_t* path) {
    wchar_t buffer[PathCapacity];
    wcscpy(buffer, path);
    CutNamePart(buffer);
    return buffer;
}

// A refused join must leave an empty text: a cut one would name another file.
std::wstring Join(const wchar_t* folder, const wchar_t* name, size_t capacity = PathCapacity) {
    std::wstring buffer(PathCapacity + 1, kFill);
    bool joined = JoinPath(folder, name, &buffer[0], capacity);
    EXPECT_EQ(kFill, buffer[capacity]) << "written past the capacity";
    return joined ? buffer.c_str() : L"<refused>" + std::wstring(buffer.c_str());
}

std::wstring LongForm(const wchar_t* path, size_t capacity = PathCapacity) {
    std::wstring buffer(PathCapacity + 8, kFill);
    if (!LongPathOf(path, &buffer[0], capacity)) {
        EXPECT_EQ(std::wstring(PathCapacity + 8, kFill), buffer) << "written although refused";
        return L"<refused>";
    }
    EXPECT_EQ(kFill, buffer[capacity]) << "written past the capacity";
    return buffer.c_str();
}

// Runs a test in its own current directory and puts the old one back.
class CurrentDirectory {
  public:
    explicit CurrentDirectory(const std::wstring& path) {
        GetCurrentDirectoryW(MAX_PATH, Previous);
        Changed = SetCurrentDirectoryW(path.c_str()) != FALSE;
    }
    ~CurrentDirectory() { SetCurrentDirectoryW(Previous); }
    bool Changed;

  private:
    wchar_t Previous[MAX_PATH];
};

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length > 3 && temp[length - 1] == L'\\')
        temp[length - 1] = 0;
    return temp;
}

// ---------------------------------------------------------------------------------------------
// Splitting

TEST(NamePart, IsWhatFollowsTheLastSeparatorOrTheDrive) {
    struct Case {
        const wchar_t* path;
        const wchar_t* name;
    } cases[] = {
        {L"C:\\dir\\file.exe", L"file.exe"},
        {L"C:\\dir/file.exe", L"file.exe"},
        {L"C:file", L"file"},
        {L"C:", L""},
        {L"C:\\dir\\", L""},
        {L"\\\\server", L"server"},
        {L"file", L"file"},
        {L"", L""},
        {L"1:file", L"1:file"}, // not a drive letter
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(c.name, NamePart(c.path)) << c.path;
        wchar_t buffer[64];
        wcscpy(buffer, c.path);
        EXPECT_EQ(buffer + wcslen(c.path) - wcslen(c.name), NamePart(buffer)) << c.path;
    }
}

TEST(LastChar, IsTheLastCharacterOrTheStartOfAnEmptyPath) {
    const wchar_t* path = L"C:\\dir.";
    EXPECT_EQ(path + 6, LastChar(path));
    const wchar_t* empty = L"";
    EXPECT_EQ(empty, LastChar(empty));
}

TEST(CutNamePart, RemovesTheNameAndItsSeparatorButKeepsTheRoot) {
    EXPECT_EQ(L"C:\\dir", Cut(L"C:\\dir\\file.exe"));
    EXPECT_EQ(L"C:\\dir", Cut(L"C:\\dir\\"));
    EXPECT_EQ(L"C:\\", Cut(L"C:\\file.exe"));
    EXPECT_EQ(L"C:/", Cut(L"C:/file.exe"));
    EXPECT_EQ(L"C:", Cut(L"C:file"));
    EXPECT_EQ(L"C:a", Cut(L"C:a\\x")) << "a drive-relative folder is no root";
    EXPECT_EQ(L"\\", Cut(L"\\file.exe"));
    EXPECT_EQ(L"", Cut(L"file.exe"));
    EXPECT_EQ(L"", Cut(L""));
    EXPECT_EQ(L"\\\\server\\share", Cut(L"\\\\server\\share\\x"));
    EXPECT_EQ(L"dir", Cut(L"dir\\x"));
}

TEST(ReplaceNamePart, WritesTheNameOrRefusesWhatDoesNotFit) {
    wchar_t buffer[PathCapacity] = L"C:\\dir\\Uninstall.exe";
    ReplaceNamePart(buffer, L"Bundlo.exe", PathCapacity);
    EXPECT_STREQ(L"C:\\dir\\Bundlo.exe", buffer);

    wcscpy(buffer, L"C:prog.exe");
    ReplaceNamePart(buffer, L"x.ini", PathCapacity);
    EXPECT_STREQ(L"C:x.ini", buffer);

    std::wstring small(24, kFill);
    wcscpy(&small[0], L"C:\\dir\\a");
    EXPECT_FALSE(ReplaceNamePart(&small[0], L"longer-name.txt", 22)); // 7 for the folder
    EXPECT_STREQ(L"", small.c_str()) << "refused, not cut";
    EXPECT_EQ(kFill, small[22]);
    wcscpy(buffer, L"C:\\dir\\a");
    EXPECT_TRUE(ReplaceNamePart(buffer, L"longer-name.txt", 23));
    EXPECT_STREQ(L"C:\\dir\\longer-name.txt", buffer);
}

// ---------------------------------------------------------------------------------------------
// Joining and trailing separators

TEST(AddTrailingBackslash, AddsOnlyWhereNeededAndWhereThereIsRoom) {
    wchar_t buffer[8] = L"C:\\dir";
    AddTrailingBackslash(buffer, 8);
    EXPECT_STREQ(L"C:\\dir\\", buffer);
    AddTrailingBackslash(buffer, 8);
    EXPECT_STREQ(L"C:\\dir\\", buffer) << "already there";

    wchar_t full[8] = L"C:\\abcd"; // length 7 = capacity - 1
    AddTrailingBackslash(full, 8);
    EXPECT_STREQ(L"C:\\abcd", full);

    wchar_t slash[8] = L"C:/dir/";
    AddTrailingBackslash(slash, 8);
    EXPECT_STREQ(L"C:/dir/", slash) << "no room";
    wchar_t slashRoom[10] = L"C:/dir/";
    AddTrailingBackslash(slashRoom, 10);
    EXPECT_STREQ(L"C:/dir/\\", slashRoom) << "a slash does not count as a backslash";

    wchar_t empty[4] = L"";
    AddTrailingBackslash(empty, 4);
    EXPECT_STREQ(L"", empty);
}

TEST(JoinPath, AddsOneBackslashExceptAfterABareDriveAndRefusesWhatDoesNotFit) {
    EXPECT_EQ(L"C:x", Join(L"C:", L"x"));
    EXPECT_EQ(L"C:\\x", Join(L"C:\\", L"x"));
    EXPECT_EQ(L"C:\\dir\\x", Join(L"C:\\dir", L"x"));
    EXPECT_EQ(L"x", Join(L"", L"x"));

    wchar_t same[PathCapacity] = L"C:\\dir";
    EXPECT_TRUE(JoinPath(same, L"file", same, PathCapacity));
    EXPECT_STREQ(L"C:\\dir\\file", same);

    EXPECT_EQ(L"C:\\dir\\file.txt", Join(L"C:\\dir", L"file.txt", 16));
    EXPECT_EQ(L"<refused>", Join(L"C:\\dir", L"file.txt", 15));
    EXPECT_EQ(L"<refused>", Join(L"C:\\dir", L"file.txt", 7)) << "no room for the backslash";
    std::wstring longFolder = L"C:\\" + std::wstring(PathCapacity - 12, L'x');
    EXPECT_EQ(L"<refused>", Join(longFolder.c_str(), L"name-too-long"));
    EXPECT_FALSE(JoinPath(same, longFolder.c_str(), same, PathCapacity));
    EXPECT_STREQ(L"", same) << "refused in the folder's own buffer";
}

TEST(IsFullPath, NeedsTwoBackslashesOrADriveWithASeparator) {
    EXPECT_TRUE(IsFullPath(L"C:\\x"));
    EXPECT_TRUE(IsFullPath(L"c:/x"));
    EXPECT_TRUE(IsFullPath(L"\\\\server\\share"));
    EXPECT_FALSE(IsFullPath(L"C:x"));
    EXPECT_FALSE(IsFullPath(L"C:"));
    EXPECT_FALSE(IsFullPath(L"\\x"));
    EXPECT_FALSE(IsFullPath(L"//server/share"));
    EXPECT_FALSE(IsFullPath(L"x"));
    EXPECT_FALSE(IsFullPath(L""));
}

// The icon of every user's shortcuts comes from a settings file or the user's store: a path to
// another machine or a device would have each user's shell reach out to it.
TEST(IsLocalFullPath, OnlyAFileOnADriveOfThisMachine) {
    for (const wchar_t* path : {L"C:\\Program Files\\Bundlo\\icon.ico", L"d:/x.ico"})
        EXPECT_TRUE(IsLocalFullPath(path)) << path;
    for (const wchar_t* path : {L"\\\\host\\share\\x.ico", L"//host/share/x.ico", L"\\\\.\\pipe\\x",
                                L"\\\\?\\UNC\\host\\x", L"\\??\\UNC\\host\\x", L"\\\\?\\C:\\x.ico",
                                L"C:x.ico", L"x.ico", L"", L"C:\\x.ico:stream", L"C:\\a\nb.ico"})
        EXPECT_FALSE(IsLocalFullPath(path)) << path;
}

// Translated texts name files: each of these would reach another folder, another file or a
// device, or be stored under another name.
TEST(IsPlainFileName, AcceptsOnlyOneNameStoredAsItIs) {
    for (const wchar_t* name :
         {L"Read me", L"What's new.txt", L"\u05DE\u05D4 \u05D7\u05D3\u05E9", L"..x", L" lead",
          L"CONSOLE", L"COM0", L"LPT10.txt", L"nul_", L"a#b%c&d(e)f[g]h{i}j~k,l;m=n+o@p'q!r$s^t`u"})
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    EXPECT_TRUE(IsPlainFileName(std::wstring(255, L'n').c_str()));

    const wchar_t* const refused[] = {
        // other folders, drives, streams
        L"", L".", L"..", L"...", L"..\\Startup\\x", L"..\\..\\outside\\evil.txt", L"a/b",
        L"C:evil", L"C:\\evil", L"\\\\server\\share", L"file.txt:stream",
        // characters Windows does not store in a name
        L"*", L"help?.txt", L"a<b", L"a>b", L"a\"b", L"a|b", L"tab\there", L"line\nbreak",
        L"del\x7F", L"c1\x85",
        // stored under another name, or a device in every folder
        L"name.", L"name ", L"CON", L"con.lnk", L"Nul .txt", L"AUX", L"prn", L"COM1", L"lpt9.doc",
        L"COM\u00B9", L"CONIN$", L"conout$.x"};
    for (const wchar_t* name : refused)
        EXPECT_FALSE(IsPlainFileName(name)) << name;
    EXPECT_FALSE(IsPlainFileName(std::wstring(256, L'n').c_str()));
    EXPECT_FALSE(IsPlainFileName(nullptr));
}

TEST(HasWildcards, IgnoresTheQuestionMarkOfTheLongPathPrefix) {
    EXPECT_FALSE(HasWildcards(L"\\\\?\\C:\\x"));
    EXPECT_TRUE(HasWildcards(L"\\\\?\\C:\\x?"));
    EXPECT_TRUE(HasWildcards(L"C:\\*.txt"));
    EXPECT_TRUE(HasWildcards(L"a?b"));
    EXPECT_FALSE(HasWildcards(L"C:\\dir\\file.txt"));
    EXPECT_FALSE(HasWildcards(L""));
    EXPECT_FALSE(HasWildcards(nullptr));
}

// ---------------------------------------------------------------------------------------------
// MakeLongPath

TEST(MakeLongPath, PrefixesFullPaths) {
    EXPECT_EQ(L"\\\\?\\C:\\a", LongForm(L"C:\\a"));
    EXPECT_EQ(L"\\\\?\\C:/a/../b", LongForm(L"C:/a/../b")) << "no normalisation";
    EXPECT_EQ(L"\\\\?\\UNC\\srv\\share\\a", LongForm(L"\\\\srv\\share\\a"));
}

TEST(MakeLongPath, ResolvesRelativePathsAgainstTheCurrentDirectory) {
    std::wstring temp = TempFolder();
    ASSERT_EQ(L'\\', temp[2]) << "the temporary folder is expected on a drive";
    CurrentDirectory current(temp);
    ASSERT_TRUE(current.Changed);
    EXPECT_EQ(Long(temp + L"\\a"), LongForm(L".\\a"));
    EXPECT_EQ(Long(temp + L"\\a"), LongForm(L"./a"));
    EXPECT_EQ(Long(temp + L"\\a\\b"), LongForm(L"a\\b"));
    EXPECT_EQ(Long(temp + L"\\..\\a"), LongForm(L"..\\a")) << "no normalisation";
    EXPECT_EQ(Long(temp.substr(0, 2) + L"\\a"), LongForm(L"\\a")) << "rooted on the drive";
    EXPECT_EQ(Long(temp.substr(0, 2) + L"/a"), LongForm(L"/a"));

    CurrentDirectory root(temp.substr(0, 3));
    ASSERT_TRUE(root.Changed);
    EXPECT_EQ(Long(temp.substr(0, 3) + L"a"), LongForm(L"a")) << "one backslash after a root";

    // The string layer itself asks nothing: it takes the folder it is given, or none.
    wchar_t made[PathCapacity];
    ASSERT_TRUE(MakeLongPath(L".\\a", L"D:\\work", made));
    EXPECT_STREQ(L"\\\\?\\D:\\work\\a", made);
    ASSERT_TRUE(MakeLongPath(L"\\a", L"D:\\work", made));
    EXPECT_STREQ(L"\\\\?\\D:\\a", made);
    EXPECT_FALSE(MakeLongPath(L"a", nullptr, made));
    EXPECT_FALSE(MakeLongPath(L"a", L"work", made)) << "a relative current folder";
}

TEST(MakeLongPath, RefusesWhatDoesNotFitAndLeavesTheDestination) {
    EXPECT_EQ(L"\\\\?\\C:\\a", LongForm(L"C:\\a", 9));
    EXPECT_EQ(L"<refused>", LongForm(L"C:\\a", 8));
    EXPECT_EQ(L"\\\\?\\UNC\\s\\x", LongForm(L"\\\\s\\x", 12));
    EXPECT_EQ(L"<refused>", LongForm(L"\\\\s\\x", 11));
    EXPECT_EQ(L"<refused>", LongForm(L"C:\\a", 0));

    std::wstring temp = TempFolder();
    CurrentDirectory current(temp);
    ASSERT_TRUE(current.Changed);
    EXPECT_EQ(Long(temp.substr(0, 2) + L"\\a"), LongForm(L"\\a", 9));
    EXPECT_EQ(L"<refused>", LongForm(L"\\a", 8));
    size_t relative = temp.size() + 1 + 1 + 4; // folder, backslash, "a", prefix
    EXPECT_EQ(Long(temp + L"\\a"), LongForm(L"a", relative + 1));
    EXPECT_EQ(L"<refused>", LongForm(L"a", relative));

    std::wstring fits = L"C:\\" + std::wstring(PathCapacity - 5 - 3, L'x');
    ASSERT_EQ(PathCapacity - 5, fits.size());
    EXPECT_EQ(Long(fits), LongForm(fits.c_str()));
    std::wstring longest = L"C:\\" + std::wstring(PathCapacity - 1 - 3, L'x');
    EXPECT_EQ(L"<refused>", LongForm(longest.c_str())) << "2047 characters leave no room";
}

TEST(MakeLongPath, RefusesEmptyAndAlreadyLongPaths) {
    EXPECT_EQ(L"<refused>", LongForm(L""));
    EXPECT_EQ(L"<refused>", LongForm(nullptr));
    // Prefixing again would make "\\?\UNC\?\C:\a", a network path to a server called "?".
    EXPECT_EQ(L"<refused>", LongForm(L"\\\\?\\C:\\a"));
    EXPECT_EQ(L"<refused>", LongForm(L"\\\\?\\UNC\\srv\\share"));
}

// ---------------------------------------------------------------------------------------------
// The program's folders

std::wstring ShellAppDataBundlo() {
    wchar_t folder[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return L"";
    return std::wstring(folder) + L"\\Bundlo";
}

// Moves an existing per-user Bundlo folder out of the way and brings it back afterwards, so
// that tests can decide whether it exists.
class AppDataBundloAside {
  public:
    AppDataBundloAside() : Folder(ShellAppDataBundlo()) {
        Aside = Folder + L".aside-" + std::to_wstring(GetCurrentProcessId());
        Moved = Exists(Folder) && MoveFileW(Folder.c_str(), Aside.c_str());
    }
    ~AppDataBundloAside() {
        RemoveTree(Long(Folder));
        if (Moved)
            MoveFileW(Aside.c_str(), Folder.c_str());
    }
    bool Ready() const { return !Folder.empty() && !Exists(Folder); }

    std::wstring Folder;

  private:
    std::wstring Aside;
    bool Moved;
};

TEST(GetAppDataFolder, NamesTheBundloFolderAndMakesItOnRequest) {
    AppDataBundloAside aside;
    ASSERT_TRUE(aside.Ready());

    wchar_t folder[PathCapacity];
    EXPECT_FALSE(GetAppDataFolder(folder, PathCapacity, false));
    EXPECT_EQ(aside.Folder, folder) << "the path comes back even when the folder is missing";
    EXPECT_FALSE(Exists(aside.Folder));

    EXPECT_TRUE(GetAppDataFolder(folder, PathCapacity, true));
    EXPECT_EQ(aside.Folder, folder);
    EXPECT_TRUE(Exists(aside.Folder));
    EXPECT_TRUE(GetAppDataFolder(folder, PathCapacity, false));
}

TEST(GetAppDataFolder, NeverMakesACutName) {
    AppDataBundloAside aside;
    ASSERT_TRUE(aside.Ready());
    std::wstring buffer(PathCapacity, kFill);
    size_t capacity = aside.Folder.size(); // one short for the terminator
    std::wstring cut = aside.Folder.substr(0, capacity - 1);
    ASSERT_FALSE(Exists(cut));
    EXPECT_FALSE(GetAppDataFolder(&buffer[0], capacity, true));
    EXPECT_STREQ(L"", buffer.c_str());
    EXPECT_EQ(kFill, buffer[capacity]);
    EXPECT_FALSE(Exists(aside.Folder));
    if (Exists(cut)) {
        RemoveDirectoryW(cut.c_str());
        ADD_FAILURE() << "made the cut folder";
    }

    EXPECT_FALSE(GetAppDataFolder(&buffer[0], 0, true));
    EXPECT_EQ(L'\0', buffer[0]);
}

} // namespace
