// "Uninstall.lst", the installer's list of what it put into the program folder: one path
// relative to the folder per line, in the ANSI code page. The removal deletes what it names; the
// uninstall entry tells Windows how much that is.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "common/file.h"

const wchar_t ListName[] = L"Uninstall.lst";
const size_t ListLineCapacity = 2048; // bytes, terminator included

// Reads the list through a buffer of its own, a byte at a time: a read from the file for each
// byte would cost more than the rest of an entry's reading, on an emulated processor more than
// its deletion.
class ListReader {
  public:
    explicit ListReader(File& list) : List(list), Offset(0), Position(0), Length(0) {}
    // Goes to a byte offset of the list; false when the list cannot be read from there.
    bool Seek(int64_t offset);
    // The next byte, or EOF.
    int Get();
    // Where the next byte lies in the list.
    int64_t NextOffset() const { return Offset; }

  private:
    File& List;
    int64_t Offset;
    size_t Position;
    size_t Length;
    char Buffer[4096];
};

// One line of the list, up to its line feed, without its trailing carriage returns, blanks and
// tabs. False at the end of the list. A line too long for the buffer, or one holding a zero
// byte, comes back empty: a piece of it would name some other file.
bool ReadListLine(ListReader& list, char* line, size_t capacity);

// The full path that one list line names below `folder` (which ends in a backslash). False for a
// line that names nothing inside the folder: empty, absolute (C:\x, \x, /x, \\server\share),
// drive-relative (C:x), a stream (x:s), wildcards, or ".." climbing out; such a line comes from
// a damaged or forged list and is skipped. A folder's entry comes without a trailing backslash.
bool ListEntryPath(const wchar_t* folder, const wchar_t* line, wchar_t* entry, size_t capacity);

// The bytes of the listed files that exist below `folder` (with its trailing backslash), folders
// and links not counted. False when the list cannot be opened.
bool ListedFilesSize(const wchar_t* folder, uint64_t* bytes);
