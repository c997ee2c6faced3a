// Undoes every registration that the integration setup made, in two steps around the deletion of
// the archiver's files, so that a removal cut short anywhere is finished by the same removal run
// again: what a re-run needs to know the installation (its record, the uninstall entry that
// deployment tools call, App Paths) goes only after the files.
#pragma once

#include "integration/record.h"

// Both steps act on what the record of the installation said when the removal began: read once,
// so that a read refused once cannot make one step take the registrations for another copy's
// and the other delete the record that gives them back.
//
// Extensions go back to their previous owners, then the shell extension, the shortcuts and the
// archiver's classes follow. False when an extension could not be given back, or the record
// could not be read: then nothing else was removed (the archiver's class, which the extension
// still names, stays with everything a later removal needs), and the removal must stop there.
bool RemoveRegistrations(InstallationRecord installation);
// The archiver's per-user and machine-wide settings, then (not with /msi, whose installer package
// owns them) App Paths and the uninstall entry, and last the record of the installation. Only
// after RemoveRegistrations has given every extension back. False when Windows refused the
// deletion of the uninstall entry or of App Paths: the record then stays, and the program must
// stay to finish the removal when run again.
bool RemoveInstallationEntries(InstallationRecord installation);
