#include "uninstall/departure.h"

#include <windows.h>

#include "common/diagnostics.h"
#include "common/file.h"
#include "common/files.h"
#include "common/log.h"
#include "common/system.h"
#include "common/text.h"
#include "integration/listfile.h"
#include "uninstall/batch_file.h"
#include "uninstall/listed_files.h"
#include "uninstall/startup.h"

namespace {

const uint32_t MaxProgramBytes = 64u << 20;

// The list goes before the program leaves: a list left behind once the program has gone would
// keep the folder for good, with no program left to finish the removal. A read-only list (as
// files copied from a disc are) goes too, through a handle, so that only the plain file itself
// does; one that a run cut short already deleted is gone.
bool RemoveList(const wchar_t* listPath) {
    if (TryRemoveFile(listPath))
        return true;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return true;
    if (error == ERROR_ACCESS_DENIED) {
        HandleRemoval removed = RemoveFileThroughHandle(listPath);
        if (removed == RemovedThroughHandle)
            return true;
        if (removed == RemovalFailed)
            return false; // reported
    }
    ReportFailure(L"delete file", listPath, error);
    return false;
}

// When no batch file can take them: the program, moved to a free name first so that the
// restart deletes nothing a later installation puts under its own name, and its folder, which
// Windows removes only when empty by then, go at the next restart, which the exit code asks for.
// The list goes once that is arranged; an unelevated run cannot schedule anything, and all stays
// for the same removal run again. A list that cannot go now goes at the restart too, before its
// folder; one that not even the restart would delete keeps the folder, which is no success.
ProgramLeave LeaveProgramToRestart(const Installation& at, const wchar_t* listPath) {
    ReportFailure(L"leave the program and its folder for the restart", at.ProgramPath,
                  ERROR_CAN_NOT_COMPLETE);
    wchar_t scheduled[PathCapacity];
    if (!ScheduleForRestart(at.ProgramPath, scheduled, PathCapacity))
        return ProgramStays;
    wchar_t listScheduled[PathCapacity];
    if (!RemoveList(listPath)) {
        if (!ScheduleForRestart(listPath, listScheduled, PathCapacity)) {
            LogFormat(L"Left in place, not even scheduled for the restart: %s", listPath);
            return ListStays;
        }
        LogFormat(L"Left for the restart: %s (as %s)", listPath, NamePart(listScheduled));
    }
    ScheduleDeletion(at.FolderName);
    LogFormat(L"Left for the restart: %s (as %s) and its folder", at.ProgramPath,
              NamePart(scheduled));
    return ProgramToRestart;
}

// The batch file, made and written, in its private folder with the program's copy that waits
// for this process; `beside` receives the free name the program takes beside itself when it
// cannot move into that folder. False when any of it failed, and then nothing of it is left.
bool PrepareBatch(const Installation& at, wchar_t* batchFolder, wchar_t* beside) {
    File batch;
    ProcessStamp self;
    if (!OwnProcessStamp(self) || !DrawTemporaryName(at.ProgramPath, beside, PathCapacity) ||
        !CreateBatchFile(batch, IsElevated(), batchFolder, PathCapacity))
        return false;
    wchar_t waiter[PathCapacity];
    wchar_t mark[PathCapacity];
    File marked;
    if (JoinPath(batchFolder, FolderMarkName, mark) && marked.Create(mark, File::CreateNewOnly) &&
        marked.Close() && JoinPath(batchFolder, WaiterName, waiter) &&
        CopyPlainFile(at.ProgramPath, waiter, MaxProgramBytes) &&
        WriteUninstallBatch(batch, beside, at.FolderName, batchFolder, self, !Silent) &&
        batch.Close())
        return true;
    batch.Close();
    DeleteFolderTree(batchFolder);
    return false;
}

// The removal's last steps, once the batch runs: the list, then the program out of its folder,
// then the folder when nothing else is left in it. From here on the folder's names are free for
// a later installation: what the batch deletes is only in its own folder, or under a name drawn
// for it. A run cut before the program has moved finds it alone in its folder, and finishes. A
// list that cannot be deleted keeps the program in place for the same removal run again; the
// batch then finds nothing of the folder's to delete.
ProgramLeave DepartProgram(const Installation& at, const wchar_t* listPath,
                           const wchar_t* batchFolder, const wchar_t* beside) {
    if (!RemoveList(listPath)) {
        LogFormat(L"Left in place, the list could not be deleted: %s", at.ProgramPath);
        return ProgramStays;
    }
    wchar_t moved[PathCapacity];
    if (!(JoinPath(batchFolder, MovedName, moved) && MoveEntry(at.ProgramPath, moved, 0)) &&
        !MoveEntry(at.ProgramPath, beside, 0)) {
        LogFormat(L"Left in place, could not be moved for the batch file: %s", at.ProgramPath);
        return ProgramStays;
    }
    bool removed = RemoveFolder(at.FolderName);
    // Held by another program (as its current folder, say), an empty folder is left to the
    // batch file, which tries once this process has ended; one that holds something stays.
    if (removed || GetLastError() == ERROR_DIR_NOT_EMPTY) {
        wchar_t mark[PathCapacity];
        if (JoinPath(batchFolder, FolderMarkName, mark))
            RemoveFile(mark);
    }
    if (removed)
        LogFormat(L"Removal step: the program folder %s", at.FolderName);
    LogFormat(L"Removal step: the program is left to the batch file in %s", batchFolder);
    return ProgramToBatch;
}

} // namespace

// The program and its folder go once this process has ended: through the batch file, or at the
// next restart when the batch file cannot name them or cannot be made or started; the restart
// notice says when that is needed. The notice comes before the interpreter starts, which must
// find this process ended.
ProgramLeave LeaveProgramAndFolder(const Installation& at, const wchar_t* listPath,
                                   bool restartNeeded, const wchar_t* restartText,
                                   const wchar_t* restartCaption) {
    wchar_t batchFolder[PathCapacity];
    wchar_t beside[PathCapacity];
    bool batchReady = false;
    if (!LeaveProgramToBatch(at.ProgramPath, at.FolderName))
        LogFormat(L"No batch file: it cannot name %s or its folder", at.ProgramPath);
    else
        batchReady = PrepareBatch(at, batchFolder, beside);
    bool noticeShown = false;
    if ((restartNeeded || !batchReady) && !Silent) {
        ShowMessageBox(nullptr, restartText, restartCaption, MB_ICONINFORMATION | MB_SETFOREGROUND);
        noticeShown = true;
        // Only a folder of the archiver's own name: the program may have been placed in a
        // folder that holds other things.
        if (batchReady && CompareNoCase(NamePart(at.FolderName), L"Bundlo") == 0 &&
            ScheduleDeletion(at.FolderName))
            LogFormat(L"Left for the restart: %s, once it is empty", at.FolderName);
    }
    if (batchReady) {
        if (StartHiddenInterpreter(batchFolder))
            return DepartProgram(at, listPath, batchFolder, beside);
        DeleteFolderTree(batchFolder);
    }
    ProgramLeave leave = LeaveProgramToRestart(at, listPath);
    if (!noticeShown && !Silent)
        ShowMessageBox(nullptr, restartText, restartCaption, MB_ICONINFORMATION | MB_SETFOREGROUND);
    return leave;
}

// What a removal cut short after its list was deleted leaves: the program alone in its folder,
// with nothing else to remove but itself.
bool OnlyProgramLeft(const Installation& at, const wchar_t* listPath) {
    if (FileExists(listPath))
        return false;
    wchar_t mask[PathCapacity];
    if (!JoinPath(at.FolderName, L"*", mask))
        return false;
    DirScan scan;
    scan.SetMask(mask);
    ScanEntry entry;
    unsigned entries = 0;
    while (scan.Next(&entry))
        if (++entries > 1 || entry.IsDirectory || entry.IsReparsePoint ||
            CompareNoCase(NamePart(entry.Name), NamePart(at.ProgramPath)) != 0)
            return false;
    return entries == 1;
}
