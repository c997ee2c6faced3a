// Removes the archiver: registrations, listed files, and finally the program and its folder.
#pragma once
#include <stddef.h>

#include "common/file.h"
#include "common/system.h"
#include "integration/listfile.h"

// The whole run: confirmation, registrations, the listed files, and the batch file that deletes
// the program once this process has ended. With MsiMode it stops after the registrations, and
// needs no list: the installer package removes the files. Without a list it removes nothing,
// unless the program is alone in its folder (a removal cut short after its list went). Sets
// ExitCode: 1 when cancelled, when the list is missing, or when a file in use could not even be
// scheduled or the program not be moved for the batch file; RestartExitCode when anything was
// left for the next restart.
void RunUninstall();

// Writes one text as ANSI bytes, without a terminator. A text that cannot be converted whole is
// not written at all: half a path in a batch file names some other file.
void WriteBatchLine(File& file, const wchar_t* text);

// The steps of the run, one by one, so that each can be tried on real files.

// The folder of the program: the path up to its last backslash, or the drive's root with its
// backslash (C:\). False when the path has no backslash.
bool ProgramFolderOf(const wchar_t* programPath, wchar_t* folder, size_t capacity);

struct ListRemoval {
    unsigned Passes;      // readings of the list, the last one deleting nothing
    bool RestartNeeded;   // some entry was left for deletion at the next restart
    unsigned Deleted;     // entries deleted now
    unsigned Moved;       // files in use moved to a free name, which is scheduled
    unsigned Scheduled;   // files in use scheduled under their own name
    unsigned Unscheduled; // files in use that Windows would not even schedule: they stay
};

// Deletes what the list names, reading it again while a reading still deletes something, since
// folders may come before their contents. A later reading takes only the lines the one before
// left open (a folder not empty yet, an entry behind a link or that failed without being
// scheduled); what was removed, gone, scheduled or never inside the folder is not looked at
// again. A file in use is moved to a free "<name>.<n>.tmp" and that name is scheduled for
// deletion at restart; the program itself (by its name) and "Uninstall.lst" are never moved,
// this run still needs them. Nothing behind a link below the folder is touched (HeldFolders).
// A plain file goes with one deletion once its folders are examined; a read-only one has its
// attributes cleared first; any other entry is examined before anything is done to it.
ListRemoval RemoveListedEntries(File& list, const wchar_t* folder, const wchar_t* programPath);

// Moves an entry in use out of the way and schedules it for deletion at the next restart (under
// its own name when it cannot be moved). `scheduled` receives the name that was scheduled; false
// when Windows refused the scheduling.
bool ScheduleForRestart(const wchar_t* entry, wchar_t* scheduled, size_t capacity);

// The code pages BatchPathText checks a path with: the ANSI one the batch file is written in and
// the OEM one the command interpreter reads it in; 0 means the system's (CP_ACP, CP_OEMCP). A
// test seam for the code pages this Wine cannot be set to (UTF-8 as the system's code page);
// production code never sets it.
struct BatchCodePages {
    unsigned Ansi;
    unsigned Oem;
};
extern BatchCodePages BatchCodePagesOverride;

// A path as the batch file must spell it: the command interpreter reads the file in the OEM code
// page, so a path whose ANSI bytes read back differently is given in its short form where that
// one reads back unchanged; and '%' is doubled, since the interpreter expands it. False, with an
// empty text, when neither form reads back exactly: a '?' put in for a character would be a
// wildcard to "del".
bool BatchPathText(const wchar_t* path, wchar_t* text, size_t capacity);

// Whether the batch file can name the program and its folder exactly, and so is the one to
// delete them. When it cannot, both are left for the next restart instead.
bool LeaveProgramToBatch(const wchar_t* programPath, const wchar_t* folder);

// Creates the batch file "Uninstall_Bdl.Bat" in a new private folder (MakePrivateFolder): below
// the system's temporary folder and writable by administrators only when elevated, since the
// elevated interpreter reads it line by line while the user's unelevated programs run; below the
// user's own temporary folder otherwise. `folder` receives the folder; false, with it empty and
// nothing left behind, when no folder or file could be made. Left open in `file`, which deletes
// it again unless it is closed.
bool CreateBatchFile(File& file, bool elevated, wchar_t* folder, size_t capacity);

// The batch lines, for the removal's last steps (the list deleted, the program moved into the
// batch's folder as "Removed.exe", or to `beside` when it cannot go there, the folder removed when
// empty): wait, through the program's copy "Uninstall.exe" in the batch's folder run with
// "/wait=<id>:<start>", until the removal has ended; delete the moved program, and the folder
// when empty if the removal ended before it could (its mark "Folder" still there); where it went
// beside itself, delete it (five tries) and then its folder when empty, or show the warning
// (warning = not silent); remove the batch and its folder. Nothing it deletes is named by a name
// a later installation uses. Writes nothing and answers false when the names cannot be spelled
// exactly (BatchPathText); a batch folder that cannot be is given as the interpreter's "%~dp0.".
bool WriteUninstallBatch(File& file, const wchar_t* beside, const wchar_t* folder,
                         const wchar_t* batchFolder, const ProcessStamp& removal, bool warning);

// The command line that runs the batch file from the folder that holds its private folder: the
// command interpreter of the system folder, whatever COMSPEC names (the unelevated user sets
// it), without the user's AutoRun commands (/d) and without delayed expansion (/v:off), and the
// batch by the relative names the program made ("Bdl-<hex>\Uninstall_Bdl.Bat"), so that no
// path, and no "%" in it, reaches the command line. `interpreter` receives the interpreter's
// path. False, with both texts empty, when either does not fit or the folder's name is not one
// the program makes.
bool InterpreterCommand(const wchar_t* batchFolderName, wchar_t* interpreter,
                        size_t interpreterCapacity, wchar_t* command, size_t commandCapacity);

// Test seam: stands in for CreateProcessW when the batch's interpreter is started (one that
// fails, say). The program never sets it.
extern decltype(&CreateProcessW) CreateProcessOverride;
