// File-system operations that every path of the program goes through.
#pragma once

// True when a file or folder of that name exists.
bool FileExists(const wchar_t* path);
