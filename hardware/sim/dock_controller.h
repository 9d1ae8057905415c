// The Kestrel dock controller on the simulated HID bus: firmware of our own
// that keeps the configuration items in [dock] of machine.ini.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "simulated/machine.h"

namespace hardware::sim {

inline constexpr std::string_view kDockDefaultPath =
    "\\\\?\\hid#vid_6a3d&pid_1c58&mi_01#8&2f1e0a7&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
inline constexpr uint16_t kDockVendorId = 0x6A3D;
inline constexpr uint16_t kDockProductId = 0x1C58;
inline constexpr uint16_t kDockReportLength = 64;  // input and output reports

// [dock] path, or the default.
std::string dockPath(const simulated::MachineIni& ini);
// [dock] feature_report_length, bounded to what HIDP_CAPS can carry.
uint16_t dockFeatureReportLength(const simulated::MachineIni& ini);

// One feature report to and from the controller, `length` bytes from the
// report ID on. False with a Windows error code when the controller or the
// class driver refuses it.
bool dockSetFeature(std::string_view path, const uint8_t* report, uint32_t length, uint32_t& error);
bool dockGetFeature(std::string_view path, uint8_t* report, uint32_t length, uint32_t& error);

}  // namespace hardware::sim
