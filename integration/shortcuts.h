// Desktop and Start menu shortcuts and the archiver's program group.
#pragma once
#include "common/paths.h"

// Folder of the program group made by the last apply; empty when none was made. Start-up
// opens it in Explorer after an interactive setup.
extern wchar_t ProgramGroupPath[PathCapacity];
