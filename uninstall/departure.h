// The program's own departure at the end of a removal: it cannot delete itself while it runs, so
// a batch file does once this process has ended, or the next restart when no batch file can.
#pragma once
#include "common/paths.h"

// Where the run works: the program, and its folder in the two forms the steps need.
struct Installation {
    wchar_t ProgramPath[PathCapacity];
    wchar_t Folder[PathCapacity]; // full, with its trailing backslash: the list's names lie below
    // Without it, as the batch file and the restart name the folder. Taken from the program's
    // path, not from the current folder, which is still elsewhere when the folder could not be
    // entered.
    wchar_t FolderName[PathCapacity];
};

// Where the program and its folder went. With ListStays the program goes at the restart, but
// its list keeps the folder.
enum ProgramLeave { ProgramToBatch, ProgramToRestart, ProgramStays, ListStays };

// The program and its folder go once this process has ended: through the batch file, or at the
// next restart when the batch file cannot name them or cannot be made or started; the restart
// notice says when that is needed. The notice comes before the interpreter starts, which must
// find this process ended.
ProgramLeave LeaveProgramAndFolder(const Installation& at, const wchar_t* listPath,
                                   bool restartNeeded, const wchar_t* restartText,
                                   const wchar_t* restartCaption);

// What a removal cut short after its list was deleted leaves: the program alone in its folder,
// with nothing else to remove but itself.
bool OnlyProgramLeft(const Installation& at, const wchar_t* listPath);
