// Windows path texts in fixed buffers (capacity in characters, terminator included; 2048 for
// every full path of the program).
#pragma once
#include <stddef.h>

const size_t PathCapacity = 2048;

bool IsSlash(wchar_t c);
// A letter A to Z in either case followed by ':'.
bool IsDriveLetterColon(const wchar_t* path);
// Appends a backslash unless the path is empty, already ends in one, or there is no room.
void AddTrailingBackslash(wchar_t* path, size_t capacity);
// folder + '\' + name; "C:" + "x" stays "C:x". Destination may be the folder buffer.
void JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* destination, size_t capacity);
