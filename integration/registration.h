// What makes the installed archiver known to Windows: the App Paths entry, the entry in the list
// of installed programs, and the settings file shipped beside the installer.
#pragma once
#include <stddef.h>

#include "common/registry.h"

const wchar_t AppPathsKey[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Bundlo.exe";
const wchar_t UninstallKey[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bundlo archiver";

// The archiver's product key in the machine's registry, named absolutely: machine state that no
// settings file serves.
const wchar_t MachineProductKey[] = L"\\Software\\Bundlo";

// App Paths for Bundlo.exe (in both registry views on 64-bit Windows) and "exe32"; nothing when
// the archiver's path is unknown or does not fit. False only when the first machine-wide write
// is refused with ERROR_ACCESS_DENIED.
bool RegisterAppPaths();
// The entry in the list of installed programs, with what the deployment tools read:
// QuietUninstallString ("<program>" /S), EstimatedSize (KiB of the listed files that exist),
// InstallDate (yyyymmdd of the first setup, kept by later ones) and URLInfoAbout (the built-in
// home page).
void RegisterUninstallEntry();
// App Paths in every view. False when Windows refused a deletion.
bool RemoveAppPaths(Reach reach);
// The uninstall entry in this build's view, and in the other view when it is this copy's: its
// InstallLocation is this copy's folder, or its command runs this copy's program (each known by
// the file system's identity, however it is spelled). False when Windows refused a deletion.
bool RemoveUninstallEntries(Reach reach);
// What the removal of a copy whose record is another installation's still takes, since it names
// this copy alone: the uninstall entry in either view whose command (UninstallString or
// QuietUninstallString) runs this copy's program, and App Paths and "exe32" in either view that
// name the archiver in this copy's folder. Whatever names the other installation stays. False
// when Windows refused the deletion of the entry or of App Paths.
bool RemoveEntriesOfThisCopy(Reach reach);
// Appends " 6.11 (32-bit)" (string 5141; 5142, "64-bit", in the 64-bit build), with no
// leading blank to an empty text.
void AppendVersionText(wchar_t* text, size_t capacity);
// Copies the settings file of that name from the installer's folder ("sfxname") into the
// program folder, unless the program already has one. False when the installer's folder holds
// none.
bool ImportSettingsFile(const wchar_t* name);
