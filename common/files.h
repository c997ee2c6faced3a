// File-system operations that every path of the program goes through. Each one tries the path
// as given and, when Windows refuses it, once more in its "\\?\" form, so that paths longer than
// MAX_PATH work. Failures are reported through results only.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <stdio.h>

#include "common/array.h"
#include "common/file.h"
#include "common/handles.h"
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
// "." and ".." and without an entry whose path would not fit, in the order Windows delivers
// them. Not recursive. Closes its find handle when it goes.
class DirScan {
  public:
    DirScan();
    DirScan(const DirScan&) = delete;
    DirScan& operator=(const DirScan&) = delete;

    // Starts over with another mask; a running listing is closed. False, with nothing to list,
    // when the mask does not fit: cut, it would list another folder's entries.
    bool SetMask(const wchar_t* mask);
    // False when there are no more entries (or the mask matches nothing).
    bool Next(ScanEntry* entry);
    void Close();

    wchar_t Mask[PathCapacity];
    OwnedFind FindHandle;
    bool FirstCall;
};

enum MakeDirResult {
    MakeDirCreated = 0,
    MakeDirFailed = 1, // for any other reason, including a path that already exists
    MakeDirParentMissing = 2,
};

// The calls below that change the file system report a real failure as a diagnostic line; an
// entry already gone is no failure.
// False for a read-only file: its attributes are left alone. TryRemoveFile (common/file.h) is
// the same without the report.
bool RemoveFile(const wchar_t* path);
// Closes a file written in vain and deletes it by its name (RemoveFile), also when its handle is
// gone already, as after a failed Close.
bool DiscardFile(File& file);
// Removes an empty folder; a folder that still holds entries is refused without a report, as
// the passes that empty it expect.
bool RemoveFolder(const wchar_t* path);
// MoveFileExW with its flags; the long forms are tried when the plain ones are refused.
bool MoveEntry(const wchar_t* from, const wchar_t* to, DWORD flags);
// Deletes a folder and everything in it, permanently and without any window, so that an
// unattended uninstall cannot stop on a message box. Every folder on its way from the root of its
// drive ("X:\") or share ("\\server\share\") is held open and must be a plain folder, and every
// entry is deleted through a handle that names the entry itself: a junction or symbolic link, on
// the way or inside, is never followed, and what is inside one is left, with the link. A drive's
// or share's root is no folder to delete.
void DeleteFolderTree(const wchar_t* folder);
// What DeleteFilesInFolder did.
enum FolderCleanup {
    FolderCleaned,   // a plain folder, or nothing at all: each wanted file in it is gone, but
                     // for those reported (in use, say) and for links and folders of such a name
    FolderLeftAlone, // a link, reached through one, no folder, or on no drive or share, or not
                     // to be opened or read: nothing in it was touched, and that was reported
};
// Deletes the plain files directly inside a folder whose names (without the folder) `wanted`
// accepts, and nothing else: other files, links and sub-folders stay. With `removeEmptyFolder`,
// the folder goes too once nothing at all is left in it, as an empty folder, never as a tree.
// Every folder on its way from the root of its drive ("X:\") or share ("\\server\share\"), and
// the folder itself, is held open without delete sharing (so that none can be renamed or
// replaced meanwhile) and must be a plain folder, not a link or reached through one; the folder
// is listed through its handle, and each file opened without following a link, checked on its
// handle to be a plain file that is the held folder's own entry, and deleted through that handle
// (as RemoveFileThroughHandle does). A folder that is not there is no failure.
FolderCleanup DeleteFilesInFolder(const wchar_t* folder, bool (*wanted)(const wchar_t* name),
                                  bool removeEmptyFolder);
// RemoveFile for an entry that must be what was examined: the file is opened without following
// a link, checked on the handle to be a plain file reached by its own path (no link on the way,
// even where a folder on the way could not be held), and deleted through that handle, read-only
// or not. A link, a folder, a file reached through a link or nothing is refused untouched.
enum HandleRemoval {
    RemovedThroughHandle,
    RefusedNotPlain, // a link, reached through one, a folder or nothing: left as it is
    RemovalFailed,   // in use, say: reported, with the last error of the failed call
};
HandleRemoval RemoveFileThroughHandle(const wchar_t* path);
// Whether two paths name the same file or folder as the file system knows it (the volume's
// serial number and the entry's index, read through handles), however each is spelled: a short
// name, another drive letter or a junction on the way all lead to the same entry. False when
// either names nothing or cannot be opened.
bool SameEntry(const wchar_t* a, const wchar_t* b);
// Test seam: called between the check on the handle and the deletion, so that a test can try to
// put something else under the name. The program never sets it.
extern void (*EntryCheckedHook)(const wchar_t* path);
// The security descriptor of an SDDL text, or none (with the last error): what the program
// makes for itself alone (a private folder, the run's lock) is described this way.
OwnedLocal SecurityFromText(const wchar_t* text);
// Makes a new folder below `parent` with a random name ("Bdl-" and 16 hexadecimal digits) that
// nothing had: nobody can have planted it or anything in it. With `adminsOnly`, its access list
// lets only SYSTEM and the Administrators in, whatever the parent passes on, and its High
// mandatory label forbids writing from below High integrity, so that a program of the same user
// running unelevated cannot change what is put in it. False, with `folder` empty, when none could
// be made.
bool MakePrivateFolder(const wchar_t* parent, bool adminsOnly, wchar_t* folder, size_t capacity);
// Test seam: stands in for CreateDirectoryW in MakePrivateFolder, so that a test can see the
// security asked for, which this Wine does not store. The program never sets it.
extern decltype(&CreateDirectoryW) MakeFolderOverride;
// Copies a file from a place others may write (an installer's downloads folder, a share) to a
// name that nothing has yet (whatever has the name, a file or a link, is never written over, and
// that is not reported): copied only when it is a plain file on a disk, opened without following a
// link, with no second name (a hard link to a file only administrators may read would come out as a
// readable copy), and of at most `maxBytes`. The copy takes its name only once whole
// (WriteNewFile): a run cut short leaves no half copy under it. False, reporting why, when it is
// not, or when the copy could not be made whole (nothing is left then).
bool CopyPlainFile(const wchar_t* from, const wchar_t* to, uint32_t maxBytes);
// Creates a file beside `path` under a name nobody can know in advance: `path`, ".", 16 lowercase
// hexadecimal digits and ".tmp", written into `temporary`. Made new, so that nothing planted under
// the name (a file or a link) is written through; open for writing while others may read. False,
// with the last error of the creation, when no name was free or the name does not fit.
bool CreateTemporaryFile(File& file, const wchar_t* path, wchar_t* temporary, size_t capacity);
// A name of the same form that nothing has now, for an entry to be moved to later: nobody can
// plant anything under it in advance. False when none was free or it does not fit.
bool DrawTemporaryName(const wchar_t* path, wchar_t* temporary, size_t capacity);
// Whether a name (without its folder) is one that CreateTemporaryFile makes beside `base`.
bool IsTemporaryNameOf(const wchar_t* name, const wchar_t* base);
// Creates the file `path` with these bytes, so that the name appears only with all of them: they
// are written under a temporary name (CreateTemporaryFile) that is then moved to `path`, never
// replacing anything. False, with ERROR_ALREADY_EXISTS or ERROR_FILE_EXISTS when something has
// the name, else with the last error of the step that failed; the temporary is gone then (a run
// cut short may leave it). Reports only a temporary it could not delete.
bool WriteNewFile(const wchar_t* path, const void* data, uint32_t size);
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
// The listing entry of one path; false for a path with wildcards, one that names nothing, or one
// whose entry's path would not fit.
bool GetEntryInfo(const wchar_t* path, ScanEntry* entry);

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

// CheckReparsePoints for many paths below one folder, each folder on the way examined once
// rather than once per path. A folder found plain (a folder, not a link) is held open without
// delete sharing, so that while it is held nobody can rename it, remove it or put a link in its
// place, and its path keeps naming what was examined. A held folder that holds a held folder is
// not empty, and Windows sets no link on a folder that is not empty; so of the held folders only
// the entry's own folder, which may be empty, is read again for each path, with the entry. A
// folder that cannot be held is examined for each path as CheckReparsePoints does. Nothing is
// changed: the handles only read.
class HeldFolders {
  public:
    explicit HeldFolders(const wchar_t* folder);
    ~HeldFolders();
    HeldFolders(const HeldFolders&) = delete;
    HeldFolders& operator=(const HeldFolders&) = delete;

    // As CheckReparsePoints(folder, path); `attributes` receives the entry's own (its link's, for
    // a link), or INVALID_FILE_ATTRIBUTES with the last error set when the path names nothing,
    // which comes with NoReparsePoint (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND), or when it
    // could not be read, which comes with PassesReparsePoint.
    ReparseCheck Check(const wchar_t* path, DWORD* attributes);
    // The same for the folders on the way only, the entry itself left unread: NoReparsePoint
    // when each is a plain folder, or when one is missing (then so is the entry).
    ReparseCheck CheckWay(const wchar_t* path);
    // RemoveFolder for a path below the folder: lets go of the folder first (a held folder cannot
    // be removed), and of every held folder below it. A folder that holds a held folder is not
    // empty and is refused as RemoveFolder refuses it, without a call.
    bool RemoveFolder(const wchar_t* path);
    // Lets go of every folder.
    void ReleaseAll();

  private:
    struct Held {
        HANDLE Handle;
        uint32_t Start;  // of its path in Paths
        uint32_t Length; // characters, no terminator
    };
    ReparseCheck Walk(const wchar_t* path, DWORD* attributes);
    bool HeldAs(uint32_t index, const wchar_t* path, size_t length) const;
    int Find(const wchar_t* path, size_t length);
    void Hold(const wchar_t* path, size_t length, HANDLE handle);
    void Release(const wchar_t* path, size_t length);

    wchar_t Folder[PathCapacity]; // without a trailing separator
    size_t FolderLength;
    Array<Held> Folders;
    Array<wchar_t> Paths; // the paths of the held folders, one after another
    uint32_t LastFound;   // where Find found the last one
};

// The short (8.3) form of an existing path; false when there is none or it does not fit.
bool GetShortPath(const wchar_t* path, wchar_t* shortPath, size_t capacity);
template <size_t N> bool GetShortPath(const wchar_t* path, wchar_t (&shortPath)[N]) {
    return GetShortPath(path, shortPath, N);
}

// The short-path query override, a test seam: Wine gives nearly every name a short form, so unit
// tests put a function here that stands in for GetShortPathNameW in GetShortPath. The program
// never sets it; null means the real GetShortPathNameW.
typedef DWORD(WINAPI* ShortPathQuery)(LPCWSTR path, LPWSTR shortPath, DWORD capacity);
extern ShortPathQuery ShortPathOverride;
