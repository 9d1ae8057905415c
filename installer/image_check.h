// The AMD flash step forces the flash tool past its own check that the image
// belongs to the adapter; this is the check it skips, made on the working
// copy the tool is about to write.
#pragma once

#include <cstdint>
#include <string>

#include "common/log.h"
#include "package/vbios_configs.h"

// Reads the working copy at `copy` and returns 0 when it is an intact VBIOS
// image for the target device (logging one WARNING line when it names
// another subsystem), or 905 having logged why not.
int32_t checkImageBeforeFlash(const VBiosConfigs& cfg, const std::string& copy, LogWriter& w);
