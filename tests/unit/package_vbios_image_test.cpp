// What the flash step and the package checker read from a VBIOS image: every
// malformed file refused with its reason, never read out of bounds.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "package/vbios_image.h"
#include "tests/helpers/rom_image.h"

namespace {

using testing_rom::kPcir;
using testing_rom::makeRom;
using testing_rom::putWord;
using testing_rom::RomLayout;

TEST(VbiosImage, ReadsWhatTheImageSays) {
  RomLayout layout;
  layout.uefi = true;
  layout.deviceList = {0x73E0, 0x73E1};
  const package::ImageReading read = package::readVbiosImage(makeRom(layout));
  ASSERT_TRUE(read.ok()) << read.problem;
  EXPECT_EQ(package::describeImage(read.image),
            "1002:73DF (also 73E0 73E1), SUBSYS_3A2F6A3D, 2 images in the chain (x86, UEFI)");
}

TEST(VbiosImage, RefusesEachMalformedFileWithItsReason) {
  const std::string good = makeRom();
  auto changed = [&](const std::function<void(std::string&)>& change, const RomLayout& layout = {}) {
    std::string rom = makeRom(layout);
    change(rom);
    return rom;
  };
  RomLayout uefiFirst;
  uefiFirst.codeType = 3;
  RomLayout chained;
  chained.uefi = true;
  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"empty", "", "it has 0 bytes, fewer than the 512"},
      {"text", std::string(600, 'x') + "VBIOS_VERSION=1.2.3.4.5\n", "starts with 78 78, not 55 AA"},
      {"one byte short of an image", good.substr(0, 511), "511 bytes"},
      {"pointer not aligned", changed([](std::string& r) { putWord(r, 0x18, 0x1C2); }), "not 4-byte aligned"},
      {"pointer to the end", changed([](std::string& r) { putWord(r, 0x18, 0xFFFC); }),
       "past the end of the file"},
      {"no PCIR", changed([](std::string& r) { r[kPcir] = 'X'; }), "no PCIR signature"},
      {"structure length 0", changed([](std::string& r) { putWord(r, kPcir + 0x0A, 0); }), "length of 0"},
      {"image length 0", changed([](std::string& r) { putWord(r, kPcir + 0x10, 0); }), "image length is 0"},
      {"image longer than the file", changed([](std::string& r) { putWord(r, kPcir + 0x10, 0xFFFF); }),
       "past the end of the file"},
      {"a chain cut short", makeRom(chained).substr(0, good.size() + 512), "image 2 of its chain ends"},
      {"a second image without 55 AA", changed([&](std::string& r) { r[good.size()] = 0; }, chained),
       "image 2 of the chain, at 0x1000: it starts with 00 AA"},
      {"a chain of nine images", changed([](std::string& r) {
         r[kPcir + 0x15] = 0;
         std::string next = r.substr(0, 512);
         putWord(next, kPcir + 0x10, 1);
         for (int i = 0; i < 8; ++i) r += next;
       }),
       "past 8 images"},
      {"a device list without its 0", changed([](std::string& r) {
         r[kPcir + 0x0C] = 3;
         putWord(r, kPcir + 8, static_cast<uint16_t>(r.size() - kPcir - 4));
         putWord(r, r.size() - 4, 0x73E0);
         putWord(r, r.size() - 2, 0x73E1);
       }),
       "without the 0 that ends it"},
      {"UEFI first", makeRom(uefiFirst), "its first image is UEFI, not x86 code"},
      {"no ATOM", changed([](std::string& r) { r[testing_rom::kAtom + 4] = 'a'; }), "no ATOM ROM header"},
      {"ATOM header pointer to the end", changed([](std::string& r) { putWord(r, 0x48, 0xFFF0); }),
       "no ATOM ROM header"},
      {"damaged byte", changed([](std::string& r) { r[0x400] ^= 1; }), "a checksum mismatch"},
      {"size byte 0", changed([](std::string& r) { r[2] = 0; }), "size byte says 0 bytes"},
      {"size byte past the end", changed([](std::string& r) { r[2] = 9; }), "size byte says 4608 bytes"},
      {"over 16 MiB", changed([](std::string& r) { r.resize(package::kMaxVbiosImageBytes + 1); }),
       "larger than the 16 MiB"},
  };
  for (const Case& c : cases) {
    const package::ImageReading read = package::readVbiosImage(c.bytes);
    EXPECT_NE(read.problem.find(c.reason), std::string::npos) << c.name << ": " << read.problem;
  }
  // Cut at every byte, an image is refused; whole, it is read.
  for (size_t size = 0; size < good.size(); ++size)
    ASSERT_FALSE(package::readVbiosImage(std::string_view(good).substr(0, size)).ok()) << size;
  EXPECT_TRUE(package::readVbiosImage(good).ok());
}

RomLayout ids(uint16_t vendor, uint16_t device, uint16_t subsystemVendor = 0x6A3D,
              uint16_t subsystem = 0x3A2F) {
  RomLayout layout;
  layout.vendor = vendor;
  layout.device = device;
  layout.subsystemVendor = subsystemVendor;
  layout.subsystem = subsystem;
  return layout;
}

TEST(VbiosImage, FitsOnlyTheDeviceItNames) {
  RomLayout listed;
  listed.deviceList = {0x73E0};
  const char* gpu = "PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1";
  struct Case {
    const char* name;
    RomLayout layout;
    std::string device;
    std::string refusal, warning;
  } cases[] = {
      {"the same device", ids(0x1002, 0x73DF), gpu, "", ""},
      {"another device", ids(0x1002, 0x73FF), gpu, "is for device 1002:73FF; this GPU is 1002:73DF", ""},
      {"the other vendor", ids(0x10DE, 0x2520), gpu, "is for device 10DE:2520; this GPU is 1002:73DF", ""},
      {"a device in its list", listed, "PCI\\VEN_1002&DEV_73E0&SUBSYS_3A2F6A3D", "", ""},
      {"a device not in its list", listed, "PCI\\VEN_1002&DEV_73E1",
       "is for device 1002:73DF and the devices its list names; this GPU is 1002:73E1", ""},
      {"another subsystem", ids(0x1002, 0x73DF, 0x1D6A, 0x0A1B), gpu, "",
       "is for SUBSYS_0A1B1D6A; this GPU is SUBSYS_3A2F6A3D"},
      {"no subsystem in the image", ids(0x1002, 0x73DF, 0, 0), gpu, "", ""},
      {"a prefix without the device judges the vendor alone", ids(0x1002, 0x73FF), "PCI\\VEN_1002", "", ""},
  };
  for (const Case& c : cases) {
    const package::ImageReading read = package::readVbiosImage(makeRom(c.layout));
    ASSERT_TRUE(read.ok()) << c.name << ": " << read.problem;
    const package::ImageFit fit =
        package::fitImageToDevice(read.image, package::pciIdsOf(c.device), "this GPU is");
    EXPECT_EQ(fit.refusal, c.refusal) << c.name;
    EXPECT_EQ(fit.subsystemWarning, c.warning) << c.name;
  }
}

}  // namespace
