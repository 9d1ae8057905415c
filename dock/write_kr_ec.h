// The dock controller configuration update of the closing steps: writes GEN
// "3" and the first NVIDIA GPU's VBIOS version text to the dock controller.
#pragma once

#include <cstdint>

#include "common/result_codes.h"

// One of result::dock_ec.
int32_t writeKrEC();
