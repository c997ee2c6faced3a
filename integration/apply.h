// Turns one record of integration choices into registrations and shortcuts, in a fixed order.
#pragma once
#include <stddef.h>

#include "integration/choices.h"

// False when it stopped at a refused machine-wide write (App Paths, or the archiver's first
// class key): nothing after that point was changed.
bool ApplyIntegration(const IntegrationSettings& settings, wchar_t* groupPath, size_t capacity);
