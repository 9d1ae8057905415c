// The notebook maker's platform driver behind \\.\ZELACPI on the simulated
// machine: the [acpi] section of machine.ini.
#pragma once

#include <cstdint>
#include <string_view>

namespace hardware::sim {

inline constexpr std::string_view kPlatformDevicePath = "\\\\.\\ZELACPI";

// The two device control codes the driver answers.
inline constexpr uint32_t kAcpiEvaluateCode = 0x00222404;
inline constexpr uint32_t kWmiCallCode = 0x0022240C;

// One DeviceIoControl. Every input is checked against the layouts the
// driver accepts; a layout it does not know fails with error 87, an unknown
// method or argument with error 1, as a real ACPI driver would report them.
bool platformDriverControl(uint32_t code, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                           uint32_t outputSize, uint32_t& returned, uint32_t& error);

}  // namespace hardware::sim
