// File-system operations and the directory scan, on real files in the prefix's temporary folder.
// Windows (and Wine) drop a trailing "." or " " from the last component of a plain path but keep
// it in the "\\?\" form, so names like "x." can only be reached through the long-path retry:
// those tests fail when the retry is missing, whatever the platform does with long plain paths.
#include "common/file.h"
#include "common/files.h"
#include "common/log.h"
#include "common/text.h"

#include <gtest/gtest.h>

#include "tests/unit/raw_files.h"
#include "tests/unit/test_support.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A folder of nested components (none over 200 characters) whose full path has exactly the
// given length.
std::wstring MakeFolderOfLength(const std::wstring& base, size_t length, bool create) {
    std::wstring path = base;
    while (path.size() < length) {
        size_t left = length - path.size() - 1; // one for the separator
        size_t part = left > 200 ? (left - 200 < 20 ? 150 : 200) : left;
        path += L"\\" + std::wstring(part, L'd');
        if (create)
            CreateDirectoryW(Long(path).c_str(), nullptr);
    }
    return path;
}

class FilesTest : public TempFolderTest {
  protected:
    FilesTest() : TempFolderTest(L"files") {}
};

std::vector<std::wstring> ScanAll(const std::wstring& mask) {
    std::vector<std::wstring> names;
    DirScan scan;
    scan.SetMask(mask.c_str());
    ScanEntry entry;
    while (scan.Next(&entry))
        names.push_back(entry.Name);
    std::sort(names.begin(), names.end());
    return names;
}

// Holds a file open without sharing delete or write, as a running program would.
class InUse {
  public:
    explicit InUse(const std::wstring& path)
        : Handle(CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr)) {}
    ~InUse() {
        if (Handle != INVALID_HANDLE_VALUE)
            CloseHandle(Handle);
    }
    bool Held() const { return Handle != INVALID_HANDLE_VALUE; }

  private:
    HANDLE Handle;
};

// Whether some handle (a find handle, say) still holds the folder open.
bool FolderHeld(const std::wstring& path) {
    HANDLE folder = CreateFileW(Long(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(folder);
    return false;
}

// ---------------------------------------------------------------------------------------------
// RemoveFile

TEST_F(FilesTest, RemoveFileDeletesFilesButNotReadOnlyOrInUseOnes) {
    WriteRaw(At(L"plain.txt"), "x");
    EXPECT_TRUE(RemoveFile(At(L"plain.txt").c_str()));
    EXPECT_FALSE(Exists(At(L"plain.txt")));
    EXPECT_FALSE(RemoveFile(At(L"plain.txt").c_str())) << "a missing file was reported deleted";

    WriteRaw(At(L"readonly.txt"), "x");
    ASSERT_TRUE(SetFileAttributesW(At(L"readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(RemoveFile(At(L"readonly.txt").c_str()));
    EXPECT_TRUE(Exists(At(L"readonly.txt")));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY),
              GetFileAttributesW(At(L"readonly.txt").c_str()) & FILE_ATTRIBUTE_READONLY)
        << "the attributes must be left alone";

    WriteRaw(At(L"busy.txt"), "x");
    InUse busy(At(L"busy.txt"));
    ASSERT_TRUE(busy.Held());
    EXPECT_FALSE(RemoveFile(At(L"busy.txt").c_str()));
    EXPECT_TRUE(Exists(At(L"busy.txt")));

    MakeFolderRaw(At(L"folder"));
    EXPECT_FALSE(RemoveFile(At(L"folder").c_str()));
    EXPECT_TRUE(Exists(At(L"folder")));
}

TEST_F(FilesTest, RemoveFileReachesTrailingDotAndSpaceNamesThroughTheLongForm) {
    WriteRaw(At(L"dot."), "x");
    WriteRaw(At(L"space "), "x");
    WriteRaw(At(L"given."), "x");
    EXPECT_TRUE(RemoveFile(At(L"dot.").c_str()));
    EXPECT_TRUE(RemoveFile(At(L"space ").c_str()));
    EXPECT_TRUE(RemoveFile(Long(At(L"given.")).c_str())) << "already in long form";
    EXPECT_FALSE(Exists(At(L"dot.")));
    EXPECT_FALSE(Exists(At(L"space ")));
    EXPECT_FALSE(Exists(At(L"given.")));
}

TEST_F(FilesTest, RemoveFileOfATrailingDotNameLeavesTheFileWithoutTheDot) {
    // The plain form of "twin." names "twin": trying it first would delete the wrong file.
    WriteRaw(At(L"twin"), "keep");
    WriteRaw(At(L"twin."), "delete");
    EXPECT_TRUE(RemoveFile(At(L"twin.").c_str()));
    EXPECT_FALSE(Exists(At(L"twin.")));
    EXPECT_TRUE(Exists(At(L"twin")));
}

TEST_F(FilesTest, RemoveFileRefusesMasks) {
    WriteRaw(At(L"a.txt"), "x");
    EXPECT_FALSE(RemoveFile(At(L"*").c_str()));
    EXPECT_FALSE(RemoveFile(At(L"a.tx?").c_str()));
    EXPECT_TRUE(Exists(At(L"a.txt")));
}

// ---------------------------------------------------------------------------------------------
// FileExists and PathOrMaskExists

TEST_F(FilesTest, FileExistsForFilesAndFoldersOnly) {
    WriteRaw(At(L"file.txt"), "x");
    MakeFolderRaw(At(L"folder"));
    EXPECT_TRUE(FileExists(At(L"file.txt").c_str()));
    EXPECT_TRUE(FileExists(At(L"folder").c_str()));
    EXPECT_TRUE(FileExists(Root.c_str()));
    EXPECT_FALSE(FileExists(At(L"missing").c_str()));
    EXPECT_FALSE(FileExists(At(L"missing\\file.txt").c_str()));
    EXPECT_FALSE(FileExists(L""));
    EXPECT_FALSE(FileExists(At(L"file.tx?").c_str())) << "a mask is not a file";
}

TEST_F(FilesTest, FileExistsFindsTrailingDotAndSpaceNamesThroughTheLongForm) {
    WriteRaw(At(L"dot."), "x");
    MakeFolderRaw(At(L"space "));
    EXPECT_TRUE(FileExists(At(L"dot.").c_str()));
    EXPECT_TRUE(FileExists(At(L"space ").c_str()));
}

TEST_F(FilesTest, PathOrMaskExistsNeedsARealEntryBehindAMask) {
    MakeFolderRaw(At(L"empty"));
    EXPECT_FALSE(PathOrMaskExists(At(L"empty\\*").c_str())) << "only . and .. match";
    EXPECT_FALSE(PathOrMaskExists(At(L"empty\\.*").c_str())) << "only . and .. match";
    EXPECT_TRUE(PathOrMaskExists(At(L"empty").c_str())) << "no mask: the folder itself";

    MakeFolderRaw(At(L"full"));
    WriteRaw(At(L"full\\file.txt"), "x");
    EXPECT_TRUE(PathOrMaskExists(At(L"full\\*").c_str()));
    EXPECT_TRUE(PathOrMaskExists(At(L"full\\f?le.*").c_str()));
    EXPECT_FALSE(PathOrMaskExists(At(L"full\\*.ini").c_str()));
    EXPECT_FALSE(PathOrMaskExists(At(L"full\\.*").c_str())) << "only . and .. match";
    EXPECT_FALSE(PathOrMaskExists(At(L"missing\\*").c_str()));
    EXPECT_TRUE(PathOrMaskExists(Long(At(L"full\\file.txt")).c_str()))
        << "the ? of the long-path prefix is no wildcard";
}

TEST_F(FilesTest, PathOrMaskExistsScansUnderATrailingDotFolderThroughTheLongForm) {
    MakeFolderRaw(At(L"dot."));
    WriteRaw(At(L"dot.\\file.txt"), "x");
    EXPECT_TRUE(PathOrMaskExists(At(L"dot.\\*").c_str()));
}

// ---------------------------------------------------------------------------------------------
// MakeDir

TEST_F(FilesTest, MakeDirTellsCreatedFromFailedFromMissingParent) {
    EXPECT_EQ(MakeDirCreated, MakeDir(At(L"new").c_str()));
    EXPECT_TRUE(Exists(At(L"new")));

    EXPECT_EQ(MakeDirFailed, MakeDir(At(L"new").c_str())) << "an existing folder";
    WriteRaw(At(L"file"), "x");
    EXPECT_EQ(MakeDirFailed, MakeDir(At(L"file").c_str())) << "an existing file";

    EXPECT_EQ(MakeDirParentMissing, MakeDir(At(L"missing\\child").c_str()));
    EXPECT_EQ(MakeDirParentMissing, MakeDir(At(L"missing\\child.").c_str()));
    EXPECT_FALSE(Exists(At(L"missing")));

    EXPECT_EQ(MakeDirFailed, MakeDir(At(L"mask*").c_str()));
    EXPECT_NE(MakeDirCreated, MakeDir(L""));
}

TEST_F(FilesTest, MakeDirKeepsATrailingDotOrSpace) {
    EXPECT_EQ(MakeDirCreated, MakeDir(At(L"dot.").c_str()));
    EXPECT_EQ(MakeDirCreated, MakeDir(At(L"space ").c_str()));
    EXPECT_TRUE(Exists(At(L"dot.")));
    EXPECT_TRUE(Exists(At(L"space ")));
    EXPECT_FALSE(Exists(At(L"dot"))) << "the plain form must not be tried";
    EXPECT_FALSE(Exists(At(L"space")));
    EXPECT_EQ(MakeDirFailed, MakeDir(At(L"dot.").c_str())) << "it exists now";

    EXPECT_EQ(MakeDirCreated, MakeDir(Long(At(L"given.")).c_str())) << "already in long form";
    EXPECT_TRUE(Exists(At(L"given.")));
}

// ---------------------------------------------------------------------------------------------
// GetEntryInfo

TEST_F(FilesTest, GetEntryInfoDescribesFilesAndFolders) {
    WriteRaw(At(L"Data.bin"), std::string(1234, 'x'));
    ASSERT_TRUE(SetFileAttributesW(At(L"Data.bin").c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    ScanEntry entry;
    ASSERT_TRUE(GetEntryInfo(At(L"DATA.BIN").c_str(), &entry));
    EXPECT_STREQ(At(L"Data.bin").c_str(), entry.Name) << "the name as stored on disk";
    EXPECT_EQ(1234u, entry.Size);
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY), entry.Attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(entry.IsDirectory);
    EXPECT_FALSE(entry.IsReparsePoint);

    MakeFolderRaw(At(L"folder"));
    ASSERT_TRUE(GetEntryInfo(At(L"folder").c_str(), &entry));
    EXPECT_STREQ(At(L"folder").c_str(), entry.Name);
    EXPECT_TRUE(entry.IsDirectory);
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), entry.Attributes & FILE_ATTRIBUTE_DIRECTORY);

    EXPECT_FALSE(GetEntryInfo(At(L"missing").c_str(), &entry));
    EXPECT_FALSE(GetEntryInfo(L"", &entry));
}

TEST_F(FilesTest, GetEntryInfoCombinesBothHalvesOfTheSize) {
    HANDLE file =
        CreateFileW(At(L"big.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    LARGE_INTEGER size;
    size.QuadPart = (5LL << 30) + 7; // over 4 GiB, sparse where the file system allows
    bool sized = SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    if (!sized)
        GTEST_SKIP() << "no room for a file over 4 GiB here";
    ScanEntry entry;
    ASSERT_TRUE(GetEntryInfo(At(L"big.bin").c_str(), &entry));
    EXPECT_EQ(uint64_t(size.QuadPart), entry.Size);
}

TEST_F(FilesTest, GetEntryInfoRefusesMasksEvenWhenTheyMatch) {
    WriteRaw(At(L"file.txt"), "x");
    ScanEntry entry;
    EXPECT_FALSE(GetEntryInfo(At(L"fil?.txt").c_str(), &entry));
    EXPECT_FALSE(GetEntryInfo(At(L"*").c_str(), &entry));
    EXPECT_TRUE(GetEntryInfo(Long(At(L"file.txt")).c_str(), &entry))
        << "the ? of the long-path prefix is no wildcard";
    EXPECT_STREQ(Long(At(L"file.txt")).c_str(), entry.Name);
}

TEST_F(FilesTest, GetEntryInfoFindsTrailingDotNamesThroughTheLongForm) {
    WriteRaw(At(L"dot."), "abc");
    ScanEntry entry;
    ASSERT_TRUE(GetEntryInfo(At(L"dot.").c_str(), &entry));
    EXPECT_STREQ(At(L"dot.").c_str(), entry.Name);
    EXPECT_EQ(3u, entry.Size);
}

// ---------------------------------------------------------------------------------------------
// DirScan

TEST_F(FilesTest, DirScanListsFullPathsWithoutDotEntries) {
    WriteRaw(At(L"a.txt"), "12345");
    WriteRaw(At(L"b.ini"), "");
    MakeFolderRaw(At(L"sub"));
    WriteRaw(At(L"sub\\deep.txt"), "x");

    DirScan scan;
    scan.SetMask(At(L"*").c_str());
    std::vector<std::wstring> names;
    ScanEntry entry;
    while (scan.Next(&entry)) {
        names.push_back(entry.Name);
        if (entry.Name == At(L"a.txt")) {
            EXPECT_EQ(5u, entry.Size);
        }
        EXPECT_EQ(entry.Name == At(L"sub"), entry.IsDirectory) << entry.Name;
        EXPECT_EQ(entry.IsDirectory, (entry.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    }
    EXPECT_FALSE(scan.Next(&entry)) << "a finished scan stays finished";
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{At(L"a.txt"), At(L"b.ini"), At(L"sub")}), names)
        << "one entry each, no recursion, no . or ..";

    EXPECT_EQ((std::vector<std::wstring>{At(L"a.txt")}), ScanAll(At(L"*.txt")));
}

TEST_F(FilesTest, DirScanOfNothingFindsNothing) {
    MakeFolderRaw(At(L"empty"));
    EXPECT_TRUE(ScanAll(At(L"empty\\*")).empty());
    EXPECT_TRUE(ScanAll(At(L"missing\\*")).empty());
    EXPECT_TRUE(ScanAll(At(L"*.none")).empty());
    EXPECT_TRUE(ScanAll(L"").empty());

    DirScan scan;
    ScanEntry entry;
    EXPECT_FALSE(scan.Next(&entry)) << "no mask set";
}

TEST_F(FilesTest, DirScanStartsAgainAfterAFailedFirstCallAndAfterSetMask) {
    DirScan scan;
    scan.SetMask(At(L"*.txt").c_str());
    ScanEntry entry;
    EXPECT_FALSE(scan.Next(&entry));
    WriteRaw(At(L"late.txt"), "x");
    ASSERT_TRUE(scan.Next(&entry)) << "a scan that never started must start on the next call";
    EXPECT_STREQ(At(L"late.txt").c_str(), entry.Name);
    EXPECT_FALSE(scan.Next(&entry));

    scan.SetMask(At(L"*.txt").c_str());
    ASSERT_TRUE(scan.Next(&entry));
    EXPECT_STREQ(At(L"late.txt").c_str(), entry.Name);
}

TEST_F(FilesTest, DirScanReleasesItsFolderWhenClosedReplacedOrDestroyed) {
    MakeFolderRaw(At(L"one"));
    MakeFolderRaw(At(L"two"));
    WriteRaw(At(L"one\\a"), "x");
    WriteRaw(At(L"one\\b"), "x");
    WriteRaw(At(L"two\\a"), "x");
    ScanEntry entry;
    {
        DirScan scan;
        scan.SetMask(At(L"one\\*").c_str());
        ASSERT_TRUE(scan.Next(&entry));
        ASSERT_TRUE(FolderHeld(At(L"one"))) << "cannot see a running scan on this platform";
        scan.SetMask(At(L"two\\*").c_str());
        EXPECT_FALSE(FolderHeld(At(L"one"))) << "the replaced scan was not closed";
        ASSERT_TRUE(scan.Next(&entry));
        scan.Close();
        EXPECT_FALSE(FolderHeld(At(L"two")));
        scan.Close(); // a second close is harmless

        scan.SetMask(At(L"two\\*").c_str());
        ASSERT_TRUE(scan.Next(&entry));
    }
    EXPECT_FALSE(FolderHeld(At(L"two"))) << "the destroyed scan was not closed";

    try {
        DirScan scan;
        scan.SetMask(At(L"one\\*").c_str());
        ASSERT_TRUE(scan.Next(&entry));
        throw 8;
    } catch (int) {
    }
    EXPECT_FALSE(FolderHeld(At(L"one"))) << "an exception left the scan open";
}

TEST_F(FilesTest, DirScanNamesFollowTheMaskSeparatorAndDrive) {
    WriteRaw(At(L"a.txt"), "x");
    EXPECT_EQ((std::vector<std::wstring>{Root + L"/a.txt"}), ScanAll(Root + L"/*"));

    // "C:*" lists the current folder of drive C; the name replaces what follows the colon.
    ASSERT_EQ(L'C', AsciiUpper(Root[0])) << "the temporary folder is expected on drive C";
    wchar_t previous[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, previous));
    ASSERT_TRUE(SetCurrentDirectoryW(Root.c_str()));
    std::vector<std::wstring> names = ScanAll(L"C:*");
    SetCurrentDirectoryW(previous);
    EXPECT_EQ((std::vector<std::wstring>{L"C:a.txt"}), names);
}

TEST_F(FilesTest, DirScanWorksUnderTrailingDotFoldersAndLongPaths) {
    MakeFolderRaw(At(L"dot."));
    WriteRaw(At(L"dot.\\inside.txt"), "x");
    EXPECT_EQ((std::vector<std::wstring>{At(L"dot.\\inside.txt")}), ScanAll(At(L"dot.\\*")));

    std::wstring deep = MakeFolderOfLength(Root, 300, true);
    WriteRaw(deep + L"\\far.txt", "x");
    EXPECT_EQ((std::vector<std::wstring>{deep + L"\\far.txt"}), ScanAll(deep + L"\\*"));
}

TEST_F(FilesTest, DirScanPassesOverNamesThatDoNotFitAPath) {
    // The mask still fits the long form; one entry's full name does not fit 2048 characters, and
    // cut it would name another entry.
    std::wstring deep = MakeFolderOfLength(Root, 2030, true);
    WriteRaw(deep + L"\\" + std::wstring(40, L'n'), "abc");
    WriteRaw(deep + L"\\s", "abcd");
    DirScan scan;
    scan.SetMask((deep + L"\\*").c_str());
    ScanEntry entry;
    ASSERT_TRUE(scan.Next(&entry));
    EXPECT_EQ(deep + L"\\s", std::wstring(entry.Name));
    EXPECT_EQ(4u, entry.Size);
    EXPECT_FALSE(scan.Next(&entry));
}

// ---------------------------------------------------------------------------------------------
// Long and overlong paths

TEST_F(FilesTest, EveryOperationWorksBeyondMaxPath) {
    std::wstring deep = MakeFolderOfLength(Root, 300, true);
    ASSERT_TRUE(Exists(deep));
    std::wstring folder = deep + L"\\made";
    EXPECT_EQ(MakeDirCreated, MakeDir(folder.c_str()));
    EXPECT_TRUE(FileExists(folder.c_str()));
    std::wstring file = folder + L"\\file.txt";
    WriteRaw(file, "abcd");
    EXPECT_TRUE(FileExists(file.c_str()));
    EXPECT_TRUE(PathOrMaskExists((folder + L"\\*").c_str()));
    ScanEntry entry;
    ASSERT_TRUE(GetEntryInfo(file.c_str(), &entry));
    EXPECT_EQ(4u, entry.Size);
    EXPECT_TRUE(RemoveFile(file.c_str()));
    EXPECT_FALSE(Exists(file));
}

TEST_F(FilesTest, PathsOf2047CharactersThatNameNothingAreAnsweredNotFollowed) {
    std::wstring parent = MakeFolderOfLength(At(L"missing"), PathCapacity - 1 - 10, false);
    std::wstring path = parent + L"\\" + std::wstring(9, L'z');
    ASSERT_EQ(PathCapacity - 1, path.size());
    std::wstring mask = parent + L"\\" + std::wstring(8, L'z') + L"*";
    ASSERT_EQ(PathCapacity - 1, mask.size());

    EXPECT_FALSE(FileExists(path.c_str()));
    EXPECT_FALSE(RemoveFile(path.c_str()));
    EXPECT_NE(MakeDirCreated, MakeDir(path.c_str()));
    EXPECT_FALSE(Exists(path));
    ScanEntry entry;
    EXPECT_FALSE(GetEntryInfo(path.c_str(), &entry));
    EXPECT_FALSE(PathOrMaskExists(mask.c_str()));
    EXPECT_TRUE(ScanAll(mask).empty());

    // Longer than any buffer of the program: refused, neither cut nor overrun.
    std::wstring overlong = path + L"\\more*";
    DirScan scan;
    EXPECT_FALSE(scan.SetMask(overlong.c_str()));
    EXPECT_STREQ(L"", scan.Mask);
    EXPECT_FALSE(scan.Next(&entry));
}

// ---------------------------------------------------------------------------------------------
// HeldFolders

TEST_F(FilesTest, HeldFoldersAnswerAsTheWalkDoesAndKeepWhatTheyExaminedInPlace) {
    MakeFolderRaw(At(L"sub"));
    MakeFolderRaw(At(L"sub\\deeper"));
    WriteRaw(At(L"sub\\deeper\\file.txt"), "f");
    std::wstring folder = Root + L"\\";
    HeldFolders held(folder.c_str());
    DWORD attributes = 0;
    std::wstring file = At(L"sub\\deeper\\file.txt");
    EXPECT_EQ(CheckReparsePoints(folder.c_str(), file.c_str()),
              held.Check(file.c_str(), &attributes));
    EXPECT_EQ(GetFileAttributesW(file.c_str()), attributes);
    EXPECT_EQ(NoReparsePoint, held.CheckWay(file.c_str()));
    // The folders on the way are held: neither renamed nor removed while the object lives.
    EXPECT_TRUE(FolderHeld(At(L"sub")));
    EXPECT_TRUE(FolderHeld(At(L"sub\\deeper")));
    EXPECT_FALSE(MoveFileW(At(L"sub").c_str(), At(L"moved").c_str()));
    EXPECT_FALSE(RemoveDirectoryW(At(L"sub\\deeper").c_str()));
    EXPECT_TRUE(Exists(At(L"sub\\deeper")));

    EXPECT_EQ(NoReparsePoint, held.Check(At(L"sub\\deeper\\gone.txt").c_str(), &attributes));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(NoReparsePoint, held.Check(At(L"missing\\gone.txt").c_str(), &attributes));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_EQ(NoReparsePoint, held.Check(At(L"sub").c_str(), &attributes));
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    // Nothing outside the folder, nor the folder itself, can be vouched for.
    EXPECT_EQ(PassesReparsePoint, held.Check(Root.c_str(), &attributes));
    EXPECT_EQ(PassesReparsePoint, held.Check((Root + L"x\\file.txt").c_str(), &attributes));
    EXPECT_EQ(PassesReparsePoint, held.CheckWay(L"C:\\windows\\win.ini"));

    held.ReleaseAll();
    EXPECT_FALSE(FolderHeld(At(L"sub")));
    EXPECT_FALSE(FolderHeld(At(L"sub\\deeper")));
}

TEST_F(FilesTest, HeldFoldersRemoveAFolderOnceNothingHeldIsInsideAndReportOnlyFailures) {
    MakeFolderRaw(At(L"sub"));
    MakeFolderRaw(At(L"sub\\inner"));
    WriteRaw(At(L"sub\\inner\\file.txt"), "f");
    std::wstring folder = Root + L"\\";
    CapturedDiagnostics diagnostics;
    {
        HeldFolders held(folder.c_str());
        EXPECT_EQ(NoReparsePoint, held.CheckWay(At(L"sub\\inner\\file.txt").c_str()));
        SetLastError(0);
        EXPECT_FALSE(held.RemoveFolder(At(L"sub").c_str()));
        EXPECT_EQ(DWORD(ERROR_DIR_NOT_EMPTY), GetLastError());
        EXPECT_TRUE(FolderHeld(At(L"sub\\inner"))) << "a refused folder keeps what it holds";
        EXPECT_FALSE(held.RemoveFolder(At(L"sub\\inner").c_str()));
        EXPECT_TRUE(RemoveFile(At(L"sub\\inner\\file.txt").c_str()));
        EXPECT_TRUE(held.RemoveFolder(At(L"sub\\inner").c_str()));
        EXPECT_TRUE(held.RemoveFolder(At(L"sub").c_str()));
    }
    EXPECT_FALSE(Exists(At(L"sub")));
    EXPECT_EQ(std::vector<std::wstring>(), CapturedDiagnostics::Lines());
}

TEST_F(FilesTest, HeldFoldersLetGoOfAFolderHeldUnderAnotherSpellingOfItsName) {
    MakeFolderRaw(At(L"long folder name"));
    wchar_t shortPath[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameW(At(L"long folder name").c_str(), shortPath, MAX_PATH));
    std::wstring shortName = NamePart(shortPath);
    ASSERT_NE(L"long folder name", shortName) << "no short name to spell the folder with";
    std::wstring folder = Root + L"\\";
    HeldFolders held(folder.c_str());
    EXPECT_EQ(NoReparsePoint, held.CheckWay(At(shortName + L"\\x.txt").c_str()));
    EXPECT_EQ(NoReparsePoint, held.CheckWay(At(L"LONG FOLDER NAME\\x.txt").c_str()));
    EXPECT_TRUE(FolderHeld(At(L"long folder name")));
    EXPECT_TRUE(held.RemoveFolder(At(L"long folder name").c_str()));
    EXPECT_FALSE(Exists(At(L"long folder name")));
}

// ---------------------------------------------------------------------------------------------
// DeleteFilesInFolder

bool EndsInLnk(const wchar_t* name) {
    size_t length = wcslen(name);
    return length >= 4 && _wcsicmp(name + length - 4, L".lnk") == 0;
}

TEST_F(FilesTest, AFolderThatCannotBeVouchedForIsLeftAloneAndReported) {
    MakeFolderRaw(At(L"group"));
    WriteRaw(At(L"group\\a.lnk"), "a");
    WriteRaw(At(L"file.lnk"), "f");
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    ASSERT_TRUE(SetCurrentDirectoryW(Root.c_str()));
    std::wstring driveRoot = Root.substr(0, 3);
    // "." and ".." are taken one way by some calls and another by others; a relative path
    // hangs on the current folder; a drive's root is no folder of anyone's; a file is none.
    for (std::wstring path :
         {At(L"group\\..\\group"), At(L"group\\."), std::wstring(L"group"), driveRoot,
          std::wstring(L"\\\\.\\") + At(L"group"), At(L"file.lnk")}) {
        CapturedDiagnostics diagnostics;
        EXPECT_EQ(FolderLeftAlone, DeleteFilesInFolder(path.c_str(), EndsInLnk, true)) << path;
        EXPECT_EQ(1u, CapturedDiagnostics::Lines().size()) << path;
    }
    SetCurrentDirectoryW(current);
    EXPECT_EQ("a", ReadRaw(At(L"group\\a.lnk")));
    EXPECT_EQ("f", ReadRaw(At(L"file.lnk")));
}

// ---------------------------------------------------------------------------------------------
// Files that take their names only whole

// Whether the name the file is meant for was taken while it was written. Fails when asked.
std::wstring Watched;
bool WatchedTaken, FailWrites;
bool WatchingWrite(HANDLE file, const void* data, DWORD size, DWORD* written) {
    WatchedTaken = WatchedTaken || Exists(Watched);
    return !FailWrites && WriteFile(file, data, size, written, nullptr);
}

TEST_F(FilesTest, ACopyTakesItsNameOnlyWholeAndNeverReplaces) {
    WriteRaw(At(L"from"), "Integration=0");
    Watched = At(L"to");
    WatchedTaken = false;
    FileWriteOverride = WatchingWrite;
    for (bool fail : {true, false}) {
        FailWrites = fail;
        EXPECT_EQ(!fail, CopyPlainFile(At(L"from").c_str(), Watched.c_str(), 100));
    }
    EXPECT_FALSE(WatchedTaken) << "a run cut while writing leaves a half copy under the name";
    WriteRaw(At(L"from"), "other");
    EXPECT_FALSE(CopyPlainFile(At(L"from").c_str(), Watched.c_str(), 100)); // replaces nothing
    FileWriteOverride = nullptr;
    EXPECT_EQ("Integration=0", ReadRaw(Watched));
    EXPECT_EQ(2u, ScanAll(At(L"*")).size()) << "a temporary was left";
}

TEST_F(FilesTest, ALogCutShortBeforeItsFirstLineStopsNoLaterRun) {
    Watched = At(L"run.log");
    WriteRaw(Watched + L".0123456789abcdef.tmp", ""); // what a run killed at its start leaves
    WatchedTaken = false;
    FailWrites = true;
    FileWriteOverride = WatchingWrite;
    EXPECT_FALSE(OpenLog(Watched.c_str()));
    FileWriteOverride = nullptr;
    EXPECT_TRUE(OpenLog(Watched.c_str()));
    CloseLog();
    EXPECT_FALSE(WatchedTaken) << "a run cut here leaves an empty log that later runs refuse";
    EXPECT_EQ("\357\273\277Bundlo Uninstall log\r\n", ReadRaw(Watched)); // UTF-8 mark, signature
}

} // namespace
