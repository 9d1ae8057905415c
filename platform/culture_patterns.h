// The general date/time pattern of the seventeen cultures the dialogs speak,
// for platforms without Windows' culture data. Unknown LCIDs use en-US.
#pragma once

#include <cstdint>
#include <string>

#include "platform/system.h"

namespace platform {

std::string formatGeneralDateTime(const LocalTime& time, uint32_t lcid);

}  // namespace platform
