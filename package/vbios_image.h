// What a VBIOS image file says about itself: a PCI expansion ROM, its chain
// of images, the GPU its first image is for, and whether it is intact. The
// AMD flash step forces the flash tool past its own check, so this is the
// one look at the file before it is written to the GPU; the package checker
// reads the package's images with the same rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace package {

// Real VBIOS images are a few hundred KiB; a flash chip holds a few MiB.
inline constexpr size_t kMaxVbiosImageBytes = size_t{16} << 20;
// Real chains hold two or three (legacy x86, UEFI, sometimes a second BIOS).
inline constexpr size_t kMaxRomChainImages = 8;
inline constexpr const char* kImageTooLarge = "is larger than the 16 MiB of any VBIOS image";

// The IDs a PCI hardware ID names, as Windows spells it
// ("PCI\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1"); a field that is missing
// or cut short in a prefix is not named.
struct PciIds {
  std::optional<uint16_t> vendor, device;
  std::optional<uint32_t> subsystem;  // as SUBSYS_ spells it: subsystem ID << 16 | subsystem vendor ID
};
PciIds pciIdsOf(std::string_view hardwareId);

struct VbiosImage {
  uint16_t vendor = 0, device = 0;   // of the first image
  std::vector<uint16_t> deviceList;  // the first image's further devices (PCI data structure revision 3)
  uint16_t subsystemVendor = 0, subsystem = 0;  // in the ATOM ROM header
  std::vector<uint8_t> codeTypes;               // one per image of the chain, in order
};

struct ImageReading {
  // Why the file is not a VBIOS image that may be flashed, worded to follow
  // the file's name ("is not a PCI expansion ROM: ..."); empty when it is.
  std::string problem;
  VbiosImage image;  // as far as it was read
  bool ok() const { return problem.empty(); }
};

// Reads `bytes` as a whole file. Every offset is checked against the file
// before it is read.
ImageReading readVbiosImage(std::string_view bytes);

struct ImageFit {
  // Worded to follow the file's name, e.g. "is for device 1002:73FF; this
  // GPU is 1002:73DF"; empty when the image fits what `device` names.
  std::string refusal;
  // The image names another subsystem than `device` does: a package may
  // move a board to a new subsystem on purpose, so this only warns.
  std::string subsystemWarning;
};

// Judges a readable image against what `device` names; a field it does not
// name is not judged. `deviceIs` words the device: "this GPU is",
// "VBiosHWID_0 names".
ImageFit fitImageToDevice(const VbiosImage& image, const PciIds& device, std::string_view deviceIs);

// "1002:73DF", "SUBSYS_0A1B1D6A", and the whole image in a few words:
// "1002:73DF (also 73E0), SUBSYS_0A1B1D6A, 2 images in the chain (x86, UEFI)".
std::string pciPair(uint16_t vendor, uint16_t device);
std::string subsysText(uint32_t subsystem);
std::string describeImage(const VbiosImage& image);

}  // namespace package
