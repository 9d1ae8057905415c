// VBIOS images for tests, laid out as scripts/make-example-roms.py lays out
// the examples': a legacy x86 image with its PCI data structure, an ATOM ROM
// header and the stand-in flash tool's VBIOS_VERSION= text, optionally
// followed by a UEFI image. Each field can be set wrong on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_rom {

struct RomLayout {
  uint16_t vendor = 0x1002, device = 0x73DF;
  uint16_t subsystemVendor = 0x6A3D, subsystem = 0x3A2F;
  std::string version = "020.001.000.038.016300";
  std::vector<uint16_t> deviceList;  // PCI data structure revision 3 when not empty
  bool uefi = false;                 // a second image in the chain
  uint8_t codeType = 0;
  size_t blocks = 8;  // the legacy image's size in 512-byte blocks
};

inline void putWord(std::string& rom, size_t at, uint16_t value) {
  rom[at] = static_cast<char>(value & 0xFF);
  rom[at + 1] = static_cast<char>(value >> 8);
}

inline constexpr size_t kPcir = 0x1C0, kAtom = 0x200, kVersionText = 0x300;

// One image: 55 AA, the PCI data structure at kPcir, `last` in its indicator.
inline std::string romImage(const RomLayout& layout, size_t blocks, uint8_t codeType, bool last) {
  std::string rom(blocks * 512, '\0');
  rom[0] = '\x55';
  rom[1] = '\xAA';
  putWord(rom, 0x18, kPcir);
  rom.replace(kPcir, 4, "PCIR");
  putWord(rom, kPcir + 4, layout.vendor);
  putWord(rom, kPcir + 6, layout.device);
  putWord(rom, kPcir + 0x0A, layout.deviceList.empty() ? 0x18 : 0x1C);
  rom[kPcir + 0x0C] = layout.deviceList.empty() ? 0 : 3;
  rom[kPcir + 0x0F] = 0x03;  // class code: display controller
  putWord(rom, kPcir + 0x10, static_cast<uint16_t>(blocks));
  rom[kPcir + 0x14] = static_cast<char>(codeType);
  rom[kPcir + 0x15] = last ? '\x80' : '\0';
  if (!layout.deviceList.empty()) {
    putWord(rom, kPcir + 8, 0x20);
    for (size_t i = 0; i < layout.deviceList.size(); ++i)
      putWord(rom, kPcir + 0x20 + 2 * i, layout.deviceList[i]);
  }
  return rom;
}

// Makes the first `bytes` of `rom` add up to 0 modulo 256 through its last byte.
inline void fixChecksum(std::string& rom, size_t bytes) {
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < bytes; ++i) sum += static_cast<uint8_t>(rom[i]);
  rom[bytes - 1] = static_cast<char>((256 - sum % 256) % 256);
}

inline std::string makeRom(const RomLayout& layout = {}) {
  std::string rom = romImage(layout, layout.blocks, layout.codeType, !layout.uefi);
  rom[2] = static_cast<char>(layout.blocks);
  putWord(rom, 0x48, kAtom);
  putWord(rom, kAtom, 0x24);
  rom.replace(kAtom + 4, 4, "ATOM");
  putWord(rom, kAtom + 24, layout.subsystemVendor);
  putWord(rom, kAtom + 26, layout.subsystem);
  const std::string text = "VBIOS_VERSION=" + layout.version + "\r\n";
  rom.replace(kVersionText, text.size(), text);
  fixChecksum(rom, layout.blocks * 512);
  if (layout.uefi) rom += romImage(layout, 4, 3, true);
  return rom;
}

}  // namespace testing_rom
