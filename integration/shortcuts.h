// Desktop and Start menu shortcuts and the archiver's program group.
#pragma once
#include <stddef.h>

#include "common/paths.h"
#include "integration/choices.h"

// Folder of the program group made by the last apply; empty when none was made. Start-up
// opens it in Explorer after an interactive setup.
extern wchar_t ProgramGroupPath[PathCapacity];

// The current folder of a CSIDL. When the capacity is below MAX_PATH or the shell names no
// folder, the buffer receives "unknown_folder" (cut to the capacity) and the result is false;
// that name is relative, so nothing may be made or removed under it.
bool GetShellFolder(wchar_t* buffer, size_t capacity, int csidl);

// Writes one shell link. An existing link is loaded first, so that what is not set here (hot
// key, show command, arguments) survives. Working folder, description and icon may be null; no
// icon means the target's own. COM must be initialised in the calling thread.
bool WriteShortcut(const wchar_t* target, const wchar_t* shortcut, const wchar_t* workingFolder,
                   const wchar_t* description, const wchar_t* icon);

// Creates or removes the desktop and Start menu shortcuts and the per-user and all-users program
// groups as the three link choices say; does nothing while the settings file switches
// integration off for that reach. The group folder that was made goes to groupPath (may be null).
// icon is the icon file for the archiver's own shortcuts, or null.
void UpdateShortcuts(const IntegrationSettings& settings, wchar_t* groupPath, size_t capacity,
                     const wchar_t* icon, Reach reach = Reach::AsSettingsSay);

// Removes the archiver's shortcuts whose target lies directly in `folder` (known by the file
// system's identity, however the link spells it): the desktop's "Bundlo.lnk" (the user's and all
// users'), the Start menu's, and the links of the per-user and all-users program groups, with a
// group folder that this leaves empty. Links to anything else stay: they may be another
// installation's. COM must be initialised in the calling thread.
void RemoveShortcutsInto(const wchar_t* folder);
