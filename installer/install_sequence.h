// The entry routine: one forward pass through the nine steps, ended by
// exactly one exit path, returning the result code that becomes the exit code.
#pragma once

#include <cstdint>

int32_t runInstallation();
