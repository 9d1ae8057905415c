// AC line status of the notebook.
#pragma once

#include <cstdint>

namespace hardware {

inline constexpr int kAcOffline = 0;
inline constexpr int kAcOnline = 1;
inline constexpr int kAcUnknown = 255;

int acLineStatus();

}  // namespace hardware
