// What the program asks of the system it runs on, and how it loads system libraries.
#pragma once
#include <windows.h>

// Takes the current directory out of the library search path (or puts it back), where the
// system offers SetDllDirectoryW; silently does nothing elsewhere.
void SetSafeDllSearch(bool excludeCurrentDirectory);

// Loads a library by its full path in the Windows system folder, never from the search path,
// so a planted copy beside the installer cannot be picked up.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

// A function that a module may or may not export (newer Windows versions), typed by the caller.
template <typename Function> Function GetExport(HMODULE module, const char* name) {
    // Through void*: FARPROC's own type does not match any real export.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A 32-bit process on 64-bit Windows.
bool RunsUnderWow64();
