// App Paths, the entry in the list of installed programs, and the settings-file import.
#pragma once

// Imports "Bundlo.ini" from the folder of the installer that started the setup.
void ImportSettingsFile();
