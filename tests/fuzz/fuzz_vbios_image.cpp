// A VBIOS image is whatever file the package holds: read as an image, judged
// against a device, and described, it must never be read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "package/vbios_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const package::ImageReading read = package::readVbiosImage(bytes);
  if (read.ok() != read.problem.empty()) __builtin_trap();
  if (read.ok()) {
    if (read.image.codeTypes.empty() || read.image.codeTypes.size() > package::kMaxRomChainImages)
      __builtin_trap();
    package::fitImageToDevice(read.image, package::pciIdsOf("PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1"),
                              "this GPU is");
    package::describeImage(read.image);
  }
  return 0;
}
