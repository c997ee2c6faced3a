// Windows path texts in fixed buffers (capacity in characters, terminator included; 2048 for
// every full path of the program).
#pragma once
#include <stddef.h>

const size_t PathCapacity = 2048;

bool IsSlash(wchar_t c);
// A letter A to Z in either case followed by ':'.
bool IsDriveLetterColon(const wchar_t* path);
// "\\..." or "X:\..." (either separator after the drive).
bool IsFullPath(const wchar_t* path);
// "X:\..." and nothing that reaches another machine or a device: no UNC ("\\host\..."), no
// "\\.\" or "\\?\" form, no stream colon, no control character. For paths that every user's
// shell opens, such as an icon of the all-users shortcuts.
bool IsLocalFullPath(const wchar_t* path);

// The text after the last separator; without a separator, the text after a drive prefix;
// otherwise the whole path.
const wchar_t* NamePart(const wchar_t* path);
wchar_t* NamePart(wchar_t* path);
// The last character, or the start of an empty path.
const wchar_t* LastChar(const wchar_t* path);
// Cuts off the name part and the separator before it, but never the root: C:\dir\x gives C:\dir,
// C:\x gives C:\, \x gives \ and x gives an empty text.
void CutNamePart(wchar_t* path);
// Writes name over the name part, keeping the folder part as it is spelled. False, with an empty
// path, when the result does not fit: a cut name would be another file's.
bool ReplaceNamePart(wchar_t* path, const wchar_t* name, size_t capacity);

// The whole path in the destination (which may be the path's own buffer). False, with an empty
// destination, when it does not fit: a cut path names another file.
bool CopyPath(const wchar_t* path, wchar_t* destination, size_t capacity);
template <size_t N> bool CopyPath(const wchar_t* path, wchar_t (&destination)[N]) {
    return CopyPath(path, destination, N);
}

// Appends a backslash unless the path is empty, already ends in one, or there is no room.
void AddTrailingBackslash(wchar_t* path, size_t capacity);
// folder + '\' + name, with no backslash added after one, to an empty folder or to a bare drive
// ("C:" + "x" stays "C:x"). Destination may be the folder buffer, not the name's. False, with an
// empty destination, when the joined path does not fit: a cut path names another file. The one
// way the program puts a folder and a name together as a file path.
bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* destination, size_t capacity);
template <size_t N> void AddTrailingBackslash(wchar_t (&path)[N]) {
    AddTrailingBackslash(path, N);
}
template <size_t N> bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t (&out)[N]) {
    return JoinPath(folder, name, out, N);
}
template <size_t N> bool ReplaceNamePart(wchar_t (&path)[N], const wchar_t* name) {
    return ReplaceNamePart(path, name, N);
}

// One name that Windows stores as it is, directly inside whatever folder it is joined to: not
// empty, at most 255 characters, no separator, drive colon or stream colon, wildcard, control
// character or any of < > " |, not "." or "..", no trailing dot or blank (Windows would drop
// it), and no device name such as "CON" or "nul.txt".
bool IsPlainFileName(const wchar_t* name);

// '*' or '?' anywhere after an optional leading "\\?\"; false for no path.
bool HasWildcards(const wchar_t* path);

// Windows drops a trailing "." or " " from the last component of a plain path, so such a name
// reaches the file it names only in the "\\?\" form (which it may already have): the plain
// attempt would act on another file.
bool PlainFormLosesTrailingChars(const wchar_t* path);

// The "\\?\" form of a path, for retrying a file-system call that failed with the plain form.
// A relative path is resolved against `currentFolder` (a full path, which the caller asks the
// system for; null refuses relative paths): ".\" is dropped, and "\x" is rooted on its drive.
// False when the path is empty, already in that form, or the result would not fit.
bool MakeLongPath(const wchar_t* path, const wchar_t* currentFolder, wchar_t* destination,
                  size_t capacity);
template <size_t N>
bool MakeLongPath(const wchar_t* path, const wchar_t* currentFolder, wchar_t (&destination)[N]) {
    return MakeLongPath(path, currentFolder, destination, N);
}
