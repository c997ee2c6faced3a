// Undoes every registration that the integration setup made, before the uninstaller deletes the
// archiver's files.
#pragma once

// Extensions go back to their previous owners, then the shell extension, the shortcuts, the
// archiver's classes and per-user settings follow; the uninstall entry and App Paths stay with
// /msi, whose installer package owns them.
void RemoveRegistrations();
