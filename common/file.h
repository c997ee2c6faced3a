// One Windows file handle for the program's readers and writers. Every name is tried as given
// and then in its "\\?\" form, so that paths longer than MAX_PATH work. Failures show only in
// the results, but for a created file that could not be deleted (a diagnostic line). It knows
// one file and nothing about folders or other files: common/files builds on it, never the reverse.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "common/handles.h"
#include "common/paths.h"

class File {
  public:
    // Mode bits of Open and Create; 0 lets others only read a file opened for reading and shares
    // nothing of a created file.
    enum : uint32_t {
        OpenShareWrite = 4,   // others may write the file while it is open for reading
        CreateShareRead = 16, // others may read the file while it is being written
        // Create fails when anything already has the name, a link included: the file is then
        // surely the caller's own, and nothing planted under the name is written through.
        CreateNewOnly = 32,
        // Open takes only a plain file on a disk, opened without following a link, with no
        // second name (a hard link): judged on the handle, since the name may have been replaced
        // since anyone looked at it.
        OpenPlainOnly = 64,
    };

    File();
    // A file that was created and is still open is deleted: whoever wrote it did not finish.
    virtual ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing file for reading.
    virtual bool Open(const wchar_t* name, uint32_t mode);
    // True when there was nothing to close or the close succeeded; the handle is gone either way.
    virtual bool Close();
    // Bytes read: fewer near the end, 0 at the end. After one failed read every read gives 0
    // until the next successful Open.
    virtual int32_t Read(void* buffer, int32_t size);
    // As SetFilePointer's FILE_BEGIN, FILE_CURRENT, FILE_END; nothing happens while closed.
    virtual void Seek(int64_t offset, DWORD method);
    // -1 when the position cannot be read.
    virtual int64_t GetPosition();
    virtual bool IsOpen() const;

    // Opens an existing file for reading and writing, as long as it is a plain file: never through
    // a link, and not a folder, a device, or a file with a second name (a hard link), which
    // would carry what is written to a place nobody named. Others may read it meanwhile. A
    // refused file gets ERROR_ACCESS_DENIED as the last error.
    bool OpenPlainForWriting(const wchar_t* name);
    // Creates the file for reading and writing, replacing any file of that name.
    bool Create(const wchar_t* name, uint32_t mode);
    bool Write(const void* data, uint32_t size);
    // Hands what was written to the disk before the caller relies on it.
    bool Flush();

  private:
    // Takes over a handle just opened, when it names what `plainOnly` asks for; else closes it.
    bool Adopt(OwnedFile handle, const wchar_t* name, bool plainOnly);

  public:
    OwnedFile Handle;
    bool Created;    // the handle came from Create
    bool ReadFailed; // a read failed since the last successful Open
    // The name of the last successful Open or of the last Create, successful or not.
    wchar_t FileName[PathCapacity];
};

// The "\\?\" form of a path (MakeLongPath), a relative path resolved against the current folder,
// which is asked for only then.
bool LongPathOf(const wchar_t* path, wchar_t* destination, size_t capacity);
template <size_t N> bool LongPathOf(const wchar_t* path, wchar_t (&destination)[N]) {
    return LongPathOf(path, destination, N);
}

// The call on the plain form of the path, then on the "\\?\" form when that one fails. The plain
// form of "x." would name "x", an entry nobody asked for, so such a path goes only in the long
// form.
template <typename Call> bool InEitherForm(const wchar_t* path, Call call) {
    if (!PlainFormLosesTrailingChars(path) && call(path))
        return true;
    wchar_t longPath[PathCapacity];
    return LongPathOf(path, longPath) && call(longPath);
}

// DeleteFileW on the name as given, then on its "\\?\" form: false, with the last error of the
// last try, reporting nothing, for a first try whose failure is looked into before it counts.
// The one deletion by name: RemoveFile (common/files.h) adds the report, and a File deletes what
// it created and never closed with it.
bool TryRemoveFile(const wchar_t* path);

// Test seam: called before each call that changes the file system (an entry deleted, moved,
// scheduled for the restart, given attributes or made, a file created or written to) and before
// the removal's batch file is started, so that a test can end the process there and see what a
// run cut at that point leaves. The program never sets it.
extern void (*FileChangeHook)();
inline void AnnounceFileChange() {
    if (FileChangeHook)
        FileChangeHook();
}

// Test seam: when set, File::Read calls it instead of ReadFile, so that a test can make a read
// fail at any point of a file. Production code never sets it.
extern bool (*FileReadOverride)(HANDLE handle, void* buffer, DWORD size, DWORD* read);
// Test seam: when set, File::Write calls it instead of WriteFile, so that a test can make a write
// fail, or look at the folder while a file is being written. Production code never sets it.
extern bool (*FileWriteOverride)(HANDLE handle, const void* data, DWORD size, DWORD* written);
