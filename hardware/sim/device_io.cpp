// Devices reached by DeviceIoControl on the simulated machine: the platform
// driver's \\.\ZELACPI when [acpi] is present. Every control call is traced
// with its code, its input and, when it succeeded, the bytes returned.
#include "hardware/device_io.h"

#include <cstdio>
#include <string>

#include "hardware/sim/hex_bytes.h"
#include "hardware/sim/platform_driver.h"
#include "platform/ascii_text.h"
#include "platform/error.h"
#include "simulated/machine.h"

namespace hardware::device_io {
namespace {

// The one device there is; its handle is the address of this marker.
int platformDevice = 0;

std::string hexCode(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", code);
  return text;
}

}  // namespace

// The one device is a static marker: nothing to release.
void closeDevice(void*) noexcept {}

Device open(std::string_view path, uint32_t, uint32_t, uint32_t& error) {
  if (platform::lowerAscii(path) == platform::lowerAscii(sim::kPlatformDevicePath) &&
      simulated::MachineIni::load().present("acpi")) {
    error = 0;
    return Device(&platformDevice);
  }
  error = platform::kErrorFileNotFound;
  return Device();
}

bool control(const Device& device, uint32_t code, const void* input, uint32_t inputSize, void* output,
             uint32_t outputSize, uint32_t& returned, uint32_t& error) {
  returned = 0;
  if (device.native() != &platformDevice) {
    error = platform::kErrorInvalidHandle;
    return false;
  }
  const auto* in = static_cast<const uint8_t*>(input);
  auto* out = static_cast<uint8_t*>(output);
  const bool ok = sim::platformDriverControl(code, in, inputSize, out, outputSize, returned, error);
  simulated::Trace trace("acpi.control");
  trace.str("code", hexCode(code))
      .str("input", in == nullptr ? "" : sim::hexBytes(in, inputSize))
      .boolean("ok", ok);
  if (ok) trace.str("output", sim::hexBytes(out, returned));
  trace.write();
  return ok;
}

}  // namespace hardware::device_io
