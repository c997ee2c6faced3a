#include "uninstall/uninstall_run.h"

// The uninstall run comes with the uninstaller; until then nothing is removed.
void RunUninstall() {}
