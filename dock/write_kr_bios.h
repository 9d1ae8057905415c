// The host PCIe link restore of the closing steps: reads the link setting
// with DSTS and, unless it is Gen4 already, switches it back with DEVS.
#pragma once

#include <cstdint>

#include "common/result_codes.h"

// One of result::dock_link.
int32_t writeKrBIOS();
