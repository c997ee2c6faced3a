#include "common/files.h"

#include <windows.h>

// The retry with the long-path form comes with the rest of the file layer.
bool FileExists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}
