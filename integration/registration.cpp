#include "integration/registration.h"

// Comes with the uninstall entry and App Paths support; until then nothing is imported.
void ImportSettingsFile() {}
