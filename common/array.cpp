#include "common/array.h"

void MemoryExit() {
    throw BDL_EXIT_NO_MEMORY;
}
