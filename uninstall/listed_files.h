// The passes over "Uninstall.lst": what it names inside the program folder is deleted, or moved
// aside and left for the next restart when it is in use.
#pragma once
#include <stddef.h>

#include "common/file.h"

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
