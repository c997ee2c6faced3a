// The file object on real files in the prefix's temporary folder. A trailing "." or " " is
// dropped from plain names and kept in the "\\?\" form, so those names show that the long-path
// attempt really happens.
#include "common/file.h"

#include <gtest/gtest.h>

#include "tests/unit/raw_files.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "common/array.h"
#include "common/files.h"

namespace {

// Without opening the file, which its writer may not share.
int64_t SizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Long(path).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Whether another program could open the file with this access, given the sharing of the
// handles open on it.
bool OthersCan(const std::wstring& path, DWORD access) {
    HANDLE file = CreateFileW(Long(path).c_str(), access,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

class FileTest : public TempFolderTest {
  protected:
    FileTest() : TempFolderTest(L"file") {}
};

std::string ReadSome(File& file, int32_t size) {
    std::string buffer(size_t(size), '\0');
    int32_t read = file.Read(&buffer[0], size);
    return buffer.substr(0, size_t(read < 0 ? 0 : read));
}

// ---------------------------------------------------------------------------------------------
// Open

TEST_F(FileTest, OpenReadsAndAFailedOpenKeepsWhatWasOpen) {
    File file;
    EXPECT_FALSE(file.Open(At(L"missing.txt").c_str(), 0));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_STREQ(L"", file.FileName);

    WriteRaw(At(L"text.txt"), "hello world");
    ASSERT_TRUE(file.Open(At(L"text.txt").c_str(), 0));
    EXPECT_TRUE(file.IsOpen());
    EXPECT_STREQ(At(L"text.txt").c_str(), file.FileName);
    EXPECT_EQ("hello", ReadSome(file, 5));

    EXPECT_FALSE(file.Open(At(L"missing.txt").c_str(), 0));
    EXPECT_TRUE(file.IsOpen());
    EXPECT_STREQ(At(L"text.txt").c_str(), file.FileName);
    EXPECT_EQ(" world", ReadSome(file, 100)) << "the first file reads on";
    EXPECT_EQ("", ReadSome(file, 100));
    EXPECT_TRUE(file.Close());
    EXPECT_TRUE(Exists(At(L"text.txt"))) << "an opened file is never deleted";
}

TEST_F(FileTest, OpenSharesWritingOnlyWhenAsked) {
    WriteRaw(At(L"shared.txt"), "x");
    {
        File file;
        ASSERT_TRUE(file.Open(At(L"shared.txt").c_str(), 0));
        EXPECT_TRUE(OthersCan(At(L"shared.txt"), GENERIC_READ));
        EXPECT_FALSE(OthersCan(At(L"shared.txt"), GENERIC_WRITE));
    }
    File file;
    ASSERT_TRUE(file.Open(At(L"shared.txt").c_str(), File::OpenShareWrite));
    EXPECT_TRUE(OthersCan(At(L"shared.txt"), GENERIC_WRITE));
    EXPECT_FALSE(OthersCan(At(L"shared.txt"), DELETE)) << "deleting is never shared";
}

TEST_F(FileTest, OpenAgainReleasesThePreviousFile) {
    WriteRaw(At(L"first.txt"), "1");
    WriteRaw(At(L"second.txt"), "2");
    File file;
    ASSERT_TRUE(file.Open(At(L"first.txt").c_str(), 0));
    ASSERT_FALSE(OthersCan(At(L"first.txt"), GENERIC_WRITE));
    ASSERT_TRUE(file.Open(At(L"second.txt").c_str(), 0));
    EXPECT_TRUE(OthersCan(At(L"first.txt"), GENERIC_WRITE)) << "the first handle leaked";
    EXPECT_EQ("2", ReadSome(file, 10));
}

TEST_F(FileTest, OpenReachesTrailingDotNamesAndLongPaths) {
    WriteRaw(At(L"dot."), "dot");
    WriteRaw(At(L"space "), "space");
    File file;
    ASSERT_TRUE(file.Open(At(L"dot.").c_str(), 0));
    EXPECT_EQ("dot", ReadSome(file, 10));
    ASSERT_TRUE(file.Open(At(L"space ").c_str(), 0));
    EXPECT_EQ("space", ReadSome(file, 10));

    std::wstring deep = Root;
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(100, L'd');
        ASSERT_TRUE(CreateDirectoryW(Long(deep).c_str(), nullptr));
    }
    WriteRaw(deep + L"\\far.txt", "far");
    ASSERT_TRUE(file.Open((deep + L"\\far.txt").c_str(), 0));
    EXPECT_EQ("far", ReadSome(file, 10));
}

TEST_F(FileTest, OpenFailsOnAFileInUse) {
    WriteRaw(At(L"busy.txt"), "x");
    HANDLE busy =
        CreateFileW(At(L"busy.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, busy);
    File file;
    EXPECT_FALSE(file.Open(At(L"busy.txt").c_str(), File::OpenShareWrite));
    EXPECT_FALSE(file.IsOpen());
    CloseHandle(busy);
}

// ---------------------------------------------------------------------------------------------
// Create, Write and what survives the object

TEST_F(FileTest, CreateReplacesAndWrites) {
    WriteRaw(At(L"out.txt"), "old contents");
    File file;
    ASSERT_TRUE(file.Create(At(L"out.txt").c_str(), 0));
    EXPECT_EQ(0, SizeOf(At(L"out.txt"))) << "replaced, length 0";
    EXPECT_TRUE(file.Write("new", 3));
    EXPECT_TRUE(file.Write("", 0));
    EXPECT_TRUE(file.Write(nullptr, 0)) << "nothing to write needs no data";
    EXPECT_EQ(3, file.GetPosition());
    EXPECT_TRUE(file.Close());
    EXPECT_EQ("new", ReadRaw(At(L"out.txt")));
}

TEST_F(FileTest, CreateSharesReadingOnlyWhenAsked) {
    File file;
    ASSERT_TRUE(file.Create(At(L"alone.txt").c_str(), 0));
    EXPECT_FALSE(OthersCan(At(L"alone.txt"), GENERIC_READ));
    ASSERT_TRUE(file.Create(At(L"shared.txt").c_str(), File::CreateShareRead));
    EXPECT_TRUE(OthersCan(At(L"alone.txt"), GENERIC_READ)) << "the first handle leaked";
    EXPECT_TRUE(OthersCan(At(L"shared.txt"), GENERIC_READ));
    EXPECT_FALSE(OthersCan(At(L"shared.txt"), GENERIC_WRITE));
    EXPECT_TRUE(file.Close());
}

TEST_F(FileTest, CreateKeepsATrailingDotOrSpace) {
    File file;
    ASSERT_TRUE(file.Create(At(L"dot.").c_str(), 0));
    EXPECT_TRUE(file.Write("d", 1));
    EXPECT_TRUE(file.Close());
    ASSERT_TRUE(file.Create(At(L"space ").c_str(), 0));
    EXPECT_TRUE(file.Write("s", 1));
    EXPECT_TRUE(file.Close());
    ASSERT_TRUE(file.Create(Long(At(L"given.")).c_str(), 0)) << "already in long form";
    EXPECT_TRUE(file.Close());
    EXPECT_TRUE(Exists(At(L"given.")));
    EXPECT_EQ("d", ReadRaw(At(L"dot.")));
    EXPECT_EQ("s", ReadRaw(At(L"space ")));
    EXPECT_FALSE(Exists(At(L"dot"))) << "the plain name must not be tried";
    EXPECT_FALSE(Exists(At(L"space")));
}

TEST_F(FileTest, CreateFailuresCloseTheObjectAndKeepTheName) {
    WriteRaw(At(L"busy.txt"), "busy");
    HANDLE busy = CreateFileW(At(L"busy.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, busy);
    File file;
    ASSERT_TRUE(file.Create(At(L"first.txt").c_str(), 0));
    EXPECT_FALSE(file.Create(At(L"busy.txt").c_str(), 0));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_STREQ(At(L"busy.txt").c_str(), file.FileName);
    CloseHandle(busy);
    EXPECT_EQ("busy", ReadRaw(At(L"busy.txt")));

    EXPECT_FALSE(file.Create(At(L"missing\\out.txt").c_str(), 0));
    EXPECT_FALSE(file.Create(At(L"mask*.txt").c_str(), 0));
    EXPECT_FALSE(file.Create(L"", 0));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Write("x", 1)) << "nothing is open";

    std::wstring longest =
        At(L"missing\\") + std::wstring(PathCapacity - 1 - Root.size() - 9, L'n');
    ASSERT_EQ(PathCapacity - 1, longest.size());
    EXPECT_FALSE(file.Create(longest.c_str(), 0));
    EXPECT_EQ(longest, file.FileName);
    EXPECT_FALSE(file.Create((longest + L"more").c_str(), 0));
    EXPECT_EQ(longest, file.FileName) << "cut to the buffer";
}

TEST_F(FileTest, ACreatedFileSurvivesOnlyWhenClosed) {
    {
        File file;
        ASSERT_TRUE(file.Create(At(L"abandoned.txt").c_str(), 0));
        EXPECT_TRUE(file.Write("half", 4));
    }
    EXPECT_FALSE(Exists(At(L"abandoned.txt")));
    {
        File file;
        ASSERT_TRUE(file.Create(At(L"finished.txt").c_str(), 0));
        EXPECT_TRUE(file.Write("done", 4));
        EXPECT_TRUE(file.Close());
    }
    EXPECT_EQ("done", ReadRaw(At(L"finished.txt")));
    {
        File file;
        ASSERT_TRUE(file.Open(At(L"finished.txt").c_str(), 0));
    }
    EXPECT_EQ("done", ReadRaw(At(L"finished.txt"))) << "an opened file stays";
    {
        File file;
        ASSERT_TRUE(file.Create(At(L"writing.txt").c_str(), 0));
        EXPECT_FALSE(file.Open(At(L"missing.txt").c_str(), 0));
    }
    EXPECT_FALSE(Exists(At(L"writing.txt"))) << "a failed Open made it look finished";
}

TEST_F(FileTest, AnExceptionThroughAWriterDeletesItsFile) {
    try {
        File file;
        ASSERT_TRUE(file.Create(At(L"interrupted.txt").c_str(), 0));
        EXPECT_TRUE(file.Write("part", 4));
        MemoryExit();
    } catch (BDL_EXIT code) {
        EXPECT_EQ(BDL_EXIT_NO_MEMORY, code);
    }
    EXPECT_FALSE(Exists(At(L"interrupted.txt")));
}

TEST_F(FileTest, AnAbandonedTrailingDotFileGoesWithoutTakingItsPlainTwin) {
    WriteRaw(At(L"twin"), "keep");
    {
        File file;
        ASSERT_TRUE(file.Create(At(L"twin.").c_str(), 0));
    }
    EXPECT_FALSE(Exists(At(L"twin.")));
    EXPECT_EQ("keep", ReadRaw(At(L"twin")));
}

TEST_F(FileTest, DiscardClosesAndRemoves) {
    File file;
    ASSERT_TRUE(file.Create(At(L"gone.txt").c_str(), 0));
    EXPECT_TRUE(DiscardFile(file));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(Exists(At(L"gone.txt")));
    EXPECT_FALSE(DiscardFile(file)) << "nothing left to delete";
}

TEST_F(FileTest, WriteFailsOnAFileOpenedForReading) {
    WriteRaw(At(L"read-only-handle.txt"), "abc");
    File file;
    ASSERT_TRUE(file.Open(At(L"read-only-handle.txt").c_str(), 0));
    EXPECT_FALSE(file.Write("x", 1));
    EXPECT_TRUE(file.Write("x", 0));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ("abc", ReadRaw(At(L"read-only-handle.txt")));
}

// ---------------------------------------------------------------------------------------------
// Read, Seek and GetPosition

TEST_F(FileTest, ReadGivesShortCountsNearTheEnd) {
    WriteRaw(At(L"ten.bin"), "0123456789");
    File file;
    ASSERT_TRUE(file.Open(At(L"ten.bin").c_str(), 0));
    EXPECT_EQ("0123", ReadSome(file, 4));
    EXPECT_EQ("456789", ReadSome(file, 8));
    EXPECT_EQ("", ReadSome(file, 8));
    EXPECT_FALSE(file.ReadFailed) << "the end of the file is no failure";
    EXPECT_EQ(0, file.Read(nullptr, -1));
}

TEST_F(FileTest, AFailedReadEndsTheFileUntilTheNextOpen) {
    WriteRaw(At(L"data.bin"), "abcdef");
    File file;
    ASSERT_TRUE(file.Open(At(L"data.bin").c_str(), 0));
    // A buffer that Windows may not write into makes the read itself fail.
    void* locked = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    ASSERT_NE(nullptr, locked);
    EXPECT_EQ(0, file.Read(locked, 4));
    VirtualFree(locked, 0, MEM_RELEASE);
    EXPECT_TRUE(file.ReadFailed);

    EXPECT_EQ("", ReadSome(file, 4)) << "read on after a failure";
    EXPECT_EQ(0, file.GetPosition()) << "the handle was used after the failure";

    ASSERT_TRUE(file.Create(At(L"other.bin").c_str(), 0));
    EXPECT_TRUE(file.Write("xyz", 3));
    file.Seek(0, FILE_BEGIN);
    EXPECT_EQ("", ReadSome(file, 4)) << "Create must not clear the failure";

    ASSERT_TRUE(file.Open(At(L"data.bin").c_str(), 0));
    EXPECT_FALSE(file.ReadFailed);
    EXPECT_EQ("abcdef", ReadSome(file, 10));
}

TEST_F(FileTest, SeekMovesByAll64Bits) {
    File file;
    ASSERT_TRUE(file.Create(At(L"seek.bin").c_str(), 0));
    ASSERT_TRUE(file.Write("0123456789", 10));
    file.Seek(2, FILE_BEGIN);
    EXPECT_EQ(2, file.GetPosition());
    file.Seek(3, FILE_CURRENT);
    EXPECT_EQ(5, file.GetPosition());
    file.Seek(-4, FILE_END);
    EXPECT_EQ(6, file.GetPosition());
    EXPECT_EQ("6789", ReadSome(file, 10));
    file.Seek(-100, FILE_BEGIN); // before the start: refused, the position stays
    EXPECT_EQ(10, file.GetPosition());

    const int64_t distant = (int64_t(5) << 30) + 3;
    file.Seek(distant, FILE_BEGIN);
    EXPECT_EQ(distant, file.GetPosition());
    file.Seek(-distant, FILE_CURRENT);
    EXPECT_EQ(0, file.GetPosition());
    EXPECT_EQ("0123", ReadSome(file, 4));
    EXPECT_TRUE(file.Close());
}

TEST_F(FileTest, AClosedObjectDoesNothing) {
    File file;
    EXPECT_TRUE(file.Close());
    file.Seek(5, FILE_BEGIN);
    EXPECT_EQ(0, file.Read(nullptr, 0));
    char buffer[4];
    EXPECT_EQ(0, file.Read(buffer, 4));
    EXPECT_FALSE(file.ReadFailed) << "nothing was read, nothing failed";

    WriteRaw(At(L"a.txt"), "a");
    ASSERT_TRUE(file.Open(At(L"a.txt").c_str(), 0));
    EXPECT_TRUE(file.Close());
    EXPECT_TRUE(file.Close());
    EXPECT_FALSE(file.IsOpen());
}

} // namespace
