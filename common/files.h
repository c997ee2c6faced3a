// File-system operations that every path of the program goes through. Each one tries the path
// as given and, when Windows refuses it, once more in its "\\?\" form, so that paths longer than
// MAX_PATH work. Failures are reported through results only.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <stdio.h>

#include "common/paths.h"

// One entry of a directory listing.
struct ScanEntry {
    wchar_t Name[PathCapacity]; // full path: the mask with its name part replaced
    uint64_t Size;
    uint32_t Attributes;
    bool IsDirectory;
    bool IsReparsePoint;
};

// Lists the entries that match a mask (a folder joined with "*", say), one at a time, without
// "." and "..", in the order Windows delivers them. Not recursive. Closes its find handle when
// it goes.
class DirScan {
  public:
    DirScan();
    ~DirScan();
    DirScan(const DirScan&) = delete;
    DirScan& operator=(const DirScan&) = delete;

    // Starts over with another mask; a running listing is closed.
    void SetMask(const wchar_t* mask);
    // False when there are no more entries (or the mask matches nothing).
    bool Next(ScanEntry* entry);
    void Close();

    wchar_t Mask[PathCapacity];
    HANDLE FindHandle;
    bool FirstCall;
};

enum MakeDirResult {
    MakeDirCreated = 0,
    MakeDirFailed = 1, // for any other reason, including a path that already exists
    MakeDirParentMissing = 2,
};

// The calls below that change the file system report a real failure as a diagnostic line; an
// entry already gone is no failure.
// False for a read-only file: its attributes are left alone.
bool RemoveFile(const wchar_t* path);
// Removes an empty folder; a folder that still holds entries is refused without a report, as
// the passes that empty it expect.
bool RemoveFolder(const wchar_t* path);
// MoveFileExW with its flags; the long forms are tried when the plain ones are refused.
bool MoveEntry(const wchar_t* from, const wchar_t* to, DWORD flags);
// Asks Windows to delete the entry at the next restart (a folder only once it is empty).
bool ScheduleDeletion(const wchar_t* path);
// Clears every attribute (read-only, say) so that a deletion is not refused for it.
void ClearAttributes(const wchar_t* path);
// GetFileAttributesW; INVALID_FILE_ATTRIBUTES, with the last error of the last try, when the path
// names nothing. The plain form is skipped when it would name another entry ("x." as "x").
DWORD ReadAttributes(const wchar_t* path);
// True for files and folders.
bool FileExists(const wchar_t* path);
// A mask with wildcards exists when it matches at least one entry other than "." and "..".
bool PathOrMaskExists(const wchar_t* path);
// Creates one folder; parents are not created.
MakeDirResult MakeDir(const wchar_t* path);
// The listing entry of one path; false for a path with wildcards or one that names nothing.
bool GetEntryInfo(const wchar_t* path, ScanEntry* entry);
// _wfopen, without the long-path retry.
FILE* OpenStream(const wchar_t* path, const wchar_t* mode);

// Where a path below a folder meets a reparse point (a junction, a symbolic link, a mount point),
// counting only the components below the folder: a link inside a folder the program owns may
// lead to files it does not own.
enum ReparseCheck {
    NoReparsePoint,      // plain files and folders all the way, or the path names nothing
    EntryIsReparsePoint, // only the last component: acting on it by name reaches the link itself,
                         // but anything that opens it (attributes, a move) may reach its target
    PassesReparsePoint,  // a folder on the way is one; or a component could not be examined, or
                         // the path is not below the folder, and nothing can be vouched for
};
// A trailing backslash on the path is ignored: "link\" would be resolved to its target.
ReparseCheck CheckReparsePoints(const wchar_t* folder, const wchar_t* path);

// The short (8.3) form of an existing path; false when there is none or it does not fit.
bool GetShortPath(const wchar_t* path, wchar_t* shortPath, size_t capacity);

// The short-path query override, a test seam: Wine gives nearly every name a short form, so unit
// tests put a function here that stands in for GetShortPathNameW in GetShortPath. The program
// never sets it; null means the real GetShortPathNameW.
typedef DWORD(WINAPI* ShortPathQuery)(LPCWSTR path, LPWSTR shortPath, DWORD capacity);
extern ShortPathQuery ShortPathOverride;
