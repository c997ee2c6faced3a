#include "integration/shortcuts.h"

wchar_t ProgramGroupPath[PathCapacity];
