// The batch file that deletes the program once this process has ended: its private folder, its
// text, and the command interpreter that runs it. What it deletes lies only in its own folder, or
// under a name drawn for it.
#pragma once
#include <windows.h>
#include <stddef.h>

#include "common/file.h"
#include "common/system.h"

// In a batch folder: the program's copy that waits for the removal to end, and the program
// itself, moved there as the removal's last step.
const wchar_t WaiterName[] = L"Uninstall.exe";
const wchar_t MovedName[] = L"Removed.exe";
// In a batch folder until the removal has removed its program folder, or found it holding
// something: a removal cut short in between leaves the folder empty for its batch file.
const wchar_t FolderMarkName[] = L"Folder";

// Writes one text as ANSI bytes, without a terminator. A text that cannot be converted whole is
// not written at all: half a path in a batch file names some other file.
void WriteBatchLine(File& file, const wchar_t* text);

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

// Starts the interpreter on the batch file in `batchFolder`, hidden, with nothing of this process
// inherited. False when it could not be started.
bool StartHiddenInterpreter(const wchar_t* batchFolder);
