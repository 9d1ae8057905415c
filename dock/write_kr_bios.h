// The host PCIe link restore of the closing steps: reads the link setting
// with DSTS and, unless it is Gen4 already, switches it back with DEVS.
#pragma once

#include <cstdint>

namespace dock_link {

inline constexpr int32_t kDone = 0;           // Gen4 already, or switched back
inline constexpr int32_t kNoDevice = 10;      // \\.\ZELACPI did not open
inline constexpr int32_t kSwitchFailed = 20;  // DEVS did not reply 1

}  // namespace dock_link

int32_t writeKrBIOS();
