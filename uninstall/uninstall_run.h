// Removes the archiver: registrations, listed files, and finally the program and its folder.
#pragma once
#include <stddef.h>

// The whole run: confirmation, registrations, the listed files, and the batch file that deletes
// the program once this process has ended. With MsiMode it stops after the registrations, and
// needs no list: the installer package removes the files. Without a list it removes nothing,
// unless the program is alone in its folder (a removal cut short after its list went). Sets
// ExitCode: 1 when cancelled, when the list is missing, or when a file in use could not even be
// scheduled or the program not be moved for the batch file; RestartExitCode when anything was
// left for the next restart.
void RunUninstall();

// The folder of the program: the path up to its last backslash, or the drive's root with its
// backslash (C:\). False when the path has no backslash or does not fit.
bool ProgramFolderOf(const wchar_t* programPath, wchar_t* folder, size_t capacity);
