// The dock controller configuration update of the closing steps: writes GEN
// "3" and the first NVIDIA GPU's VBIOS version text to the dock controller.
#pragma once

#include <cstdint>

namespace dock_ec {

inline constexpr int32_t kWritten = 0;
inline constexpr int32_t kGenFailed = 1;
inline constexpr int32_t kNvapiInitializeFailed = 2;
inline constexpr int32_t kNvapiEnumFailed = 3;
inline constexpr int32_t kNvapiVersionFailed = 4;
inline constexpr int32_t kVbiosFailed = 5;

}  // namespace dock_ec

// 0 both items written; 1 GEN not written (nothing written); 2 to 5 GEN
// written, VBIOS not (NVAPI Initialize, EnumPhysicalGPUs, the version text,
// the write itself).
int32_t writeKrEC();
