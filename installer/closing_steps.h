// What the completion exit does before its state line, once the flash
// tool's driver is gone: run the configured closing steps and wait a moment.
#pragma once

#include <cstdint>

#include "common/log.h"
#include "package/vbios_configs.h"

// Returns the final result code of the completion exit: any failure of a
// step replaces 0 or 1 by 3000 + e + w.
int32_t runClosingSteps(int32_t code, VBiosConfigs& cfg, LogWriter& w);
