#include "package/vbios_image.h"

#include <cstdio>

namespace package {

namespace {

constexpr size_t kRomUnit = 512;  // image and legacy sizes count in these
constexpr size_t kPcirPointer = 0x18;
constexpr size_t kPcirMinLength = 0x18;  // through the indicator byte
constexpr size_t kAtomHeaderPointer = 0x48;
constexpr size_t kAtomSubsystemEnd = 28;  // the subsystem IDs end 28 bytes into the ATOM ROM header
constexpr uint8_t kLastImageBit = 0x80;
constexpr uint8_t kCodeTypeX86 = 0;

std::string hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

std::string offset(size_t at) { return "0x" + hex(static_cast<uint32_t>(at), 2); }

// Each read is bounded by its caller's check; these only assemble bytes.
uint8_t byteAt(std::string_view bytes, size_t at) { return static_cast<uint8_t>(bytes[at]); }
uint16_t word(std::string_view bytes, size_t at) {
  return static_cast<uint16_t>(byteAt(bytes, at) | byteAt(bytes, at + 1) << 8);
}

std::string codeTypeName(uint8_t type) {
  switch (type) {
    case 0:
      return "x86";
    case 1:
      return "Open Firmware";
    case 2:
      return "PA-RISC";
    case 3:
      return "UEFI";
  }
  return "code type " + std::to_string(type);
}

std::optional<uint32_t> hexField(std::string_view id, std::string_view field, size_t digits) {
  const size_t at = id.find(field);
  if (at == std::string_view::npos || id.size() < at + field.size() + digits) return std::nullopt;
  uint32_t value = 0;
  for (char c : id.substr(at + field.size(), digits)) {
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  return value;
}

class ChainReader {
 public:
  explicit ChainReader(std::string_view bytes) : bytes_(bytes) {}

  ImageReading read() {
    ImageReading out;
    out.problem = readChain(out.image);
    if (out.problem.empty()) out.problem = readFirstImage(out.image);
    return out;
  }

 private:
  std::string notRom(const std::string& why) const { return "is not a PCI expansion ROM: " + why; }

  // The PCI data structure of the image at `start`, checked; its offset, or
  // a problem.
  std::string readHeader(size_t start, size_t index, size_t& pcir) const {
    const std::string which =
        index == 0 ? "" : "image " + std::to_string(index + 1) + " of the chain, at " + offset(start) + ": ";
    const size_t left = bytes_.size() - start;
    if (left < kRomUnit)
      return notRom(which + (index == 0 ? "it has " : "it has only ") + std::to_string(left) +
                    " bytes, fewer than the 512 of the smallest image");
    if (byteAt(bytes_, start) != 0x55 || byteAt(bytes_, start + 1) != 0xAA)
      return notRom(which + "it starts with " + hex(byteAt(bytes_, start), 2) + " " +
                    hex(byteAt(bytes_, start + 1), 2) + ", not 55 AA");
    const size_t pointer = word(bytes_, start + kPcirPointer);
    if (pointer % 4 != 0)
      return notRom(which + "its pointer to the PCI data structure (" + offset(pointer) +
                    ") is not 4-byte aligned");
    if (pointer > left - kPcirMinLength)
      return notRom(which + "its pointer to the PCI data structure (" + offset(pointer) +
                    ") leads past the end of the file");
    pcir = start + pointer;
    if (bytes_.substr(pcir, 4) != "PCIR")
      return notRom(which + "no PCIR signature where its pointer leads (" + offset(pointer) + ")");
    if (word(bytes_, pcir + 0x0A) == 0) return notRom(which + "its PCI data structure has a length of 0");
    if (word(bytes_, pcir + 0x10) == 0) return notRom(which + "its image length is 0");
    return {};
  }

  // Each next image starts where the previous one ends. Image lengths are
  // never 0 here, so every step moves forward: the chain cannot loop, and
  // in 64-bit arithmetic 8 steps of at most 32 MiB cannot overflow.
  std::string readChain(VbiosImage& image) {
    if (bytes_.size() > kMaxVbiosImageBytes) return kImageTooLarge;
    uint64_t start = 0;
    for (size_t index = 0;; ++index) {
      if (index == kMaxRomChainImages)
        return notRom("its chain goes on past " + std::to_string(kMaxRomChainImages) + " images");
      size_t pcir = 0;
      if (std::string problem = readHeader(static_cast<size_t>(start), index, pcir); !problem.empty())
        return problem;
      if (index == 0) {
        pcir_ = pcir;
        firstLength_ = uint64_t{word(bytes_, pcir + 0x10)} * kRomUnit;
      }
      image.codeTypes.push_back(byteAt(bytes_, pcir + 0x14));
      const uint64_t end = start + uint64_t{word(bytes_, pcir + 0x10)} * kRomUnit;
      if (end > bytes_.size())
        return notRom("image " + std::to_string(index + 1) + " of its chain ends at " + std::to_string(end) +
                      " bytes, past the end of the file (" + std::to_string(bytes_.size()) +
                      " bytes): the file is cut short");
      if (byteAt(bytes_, pcir + 0x15) & kLastImageBit) return {};
      start = end;
    }
  }

  std::string readDeviceList(VbiosImage& image) const {
    const size_t listOffset = word(bytes_, pcir_ + 0x08);
    if (byteAt(bytes_, pcir_ + 0x0C) < 3 || listOffset == 0) return {};
    // Within the first image, which the chain has proved is in the file.
    for (size_t at = pcir_ + listOffset;; at += 2) {
      if (at + 2 > firstLength_)
        return notRom("its device list (at " + offset(pcir_ + listOffset) +
                      ") runs past the end of its image without the 0 that ends it");
      const uint16_t id = word(bytes_, at);
      if (id == 0) return {};
      image.deviceList.push_back(id);
    }
  }

  std::string readFirstImage(VbiosImage& image) const {
    image.vendor = word(bytes_, pcir_ + 0x04);
    image.device = word(bytes_, pcir_ + 0x06);
    if (std::string problem = readDeviceList(image); !problem.empty()) return problem;
    if (image.codeTypes.front() != kCodeTypeX86)
      return "is not an AMD VBIOS: its first image is " + codeTypeName(image.codeTypes.front()) +
             ", not x86 code";
    const size_t atom = word(bytes_, kAtomHeaderPointer);
    if (atom + kAtomSubsystemEnd > firstLength_ || bytes_.substr(atom + 4, 4) != "ATOM")
      return "is not an AMD VBIOS: no ATOM ROM header where the pointer at 0x48 leads (" + offset(atom) + ")";
    image.subsystemVendor = word(bytes_, atom + 24);
    image.subsystem = word(bytes_, atom + 26);
    const size_t legacy = size_t{byteAt(bytes_, 2)} * kRomUnit;
    if (legacy == 0 || legacy > bytes_.size())
      return "is damaged: its size byte says " + std::to_string(legacy) + " bytes, and the file has " +
             std::to_string(bytes_.size());
    unsigned sum = 0;
    for (size_t at = 0; at < legacy; ++at) sum += byteAt(bytes_, at);
    if (sum % 256 != 0)
      return "is damaged: its first " + std::to_string(legacy) + " bytes add up to " + hex(sum % 256, 2) +
             " modulo 256, not 00 (a checksum mismatch)";
    return {};
  }

  std::string_view bytes_;
  size_t pcir_ = 0;
  uint64_t firstLength_ = 0;
};

}  // namespace

PciIds pciIdsOf(std::string_view hardwareId) {
  PciIds ids;
  if (auto v = hexField(hardwareId, "VEN_", 4)) ids.vendor = static_cast<uint16_t>(*v);
  if (auto d = hexField(hardwareId, "&DEV_", 4)) ids.device = static_cast<uint16_t>(*d);
  ids.subsystem = hexField(hardwareId, "&SUBSYS_", 8);
  return ids;
}

ImageReading readVbiosImage(std::string_view bytes) { return ChainReader(bytes).read(); }

std::string pciPair(uint16_t vendor, uint16_t device) { return hex(vendor, 4) + ":" + hex(device, 4); }

std::string subsysText(uint32_t subsystem) { return "SUBSYS_" + hex(subsystem, 8); }

ImageFit fitImageToDevice(const VbiosImage& image, const PciIds& device, std::string_view deviceIs) {
  ImageFit fit;
  const std::string is(deviceIs);
  if (device.vendor && *device.vendor != image.vendor) {
    fit.refusal =
        "is for device " + pciPair(image.vendor, image.device) + "; " + is + " " +
        (device.device ? pciPair(*device.vendor, *device.device) : "vendor " + hex(*device.vendor, 4));
    return fit;
  }
  if (device.device && *device.device != image.device) {
    bool listed = false;
    for (uint16_t id : image.deviceList) listed = listed || id == *device.device;
    if (!listed) {
      fit.refusal = "is for device " + pciPair(image.vendor, image.device) +
                    (image.deviceList.empty() ? "" : " and the devices its list names") + "; " + is + " " +
                    pciPair(device.vendor.value_or(image.vendor), *device.device);
      return fit;
    }
  }
  const uint32_t own = uint32_t{image.subsystem} << 16 | image.subsystemVendor;
  if (device.subsystem && own != 0 && own != *device.subsystem)
    fit.subsystemWarning = "is for " + subsysText(own) + "; " + is + " " + subsysText(*device.subsystem);
  return fit;
}

std::string describeImage(const VbiosImage& image) {
  std::string text = pciPair(image.vendor, image.device);
  if (!image.deviceList.empty()) {
    text += " (also";
    for (uint16_t id : image.deviceList) text += " " + hex(id, 4);
    text += ")";
  }
  text += ", " + subsysText(uint32_t{image.subsystem} << 16 | image.subsystemVendor);
  const size_t n = image.codeTypes.size();
  text += ", " + std::to_string(n) + (n == 1 ? " image" : " images") + " in the chain (";
  for (size_t i = 0; i < n; ++i) text += (i ? ", " : "") + codeTypeName(image.codeTypes[i]);
  return text + ")";
}

}  // namespace package
