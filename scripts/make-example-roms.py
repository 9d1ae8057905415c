#!/usr/bin/env python3
"""Writes the example packages' VBIOS images in the format of a real AMD VBIOS.

Each is a PCI expansion ROM: a legacy x86 image (55 AA, its size byte, the
pointer at 0x18 to the PCI data structure with the GPU's vendor and device
IDs, the pointer at 0x48 to the ATOM ROM header with the board's subsystem
IDs, a checksum byte that makes the image add up to 0 modulo 256),
optionally followed by a UEFI image in the chain. The simulated flash tool
takes the version it flashes from the VBIOS_VERSION= text inside. Only the
standard library; the output is deterministic: rerun after a change and
commit the images.

    python3 scripts/make-example-roms.py [repository root]
"""

import os
import struct
import sys

BLOCK = 512
PCIR = 0x1C0  # the PCI data structure, 4-byte aligned
ATOM = 0x200  # the ATOM ROM header
TEXT = 0x280  # the board's banner and the version text
CODE_X86, CODE_UEFI = 0, 3


def pci_data_structure(vendor, device, blocks, code_type, last, device_list=()):
    """The PCIR structure (revision 3 when it carries a device list)."""
    revision, length = (3, 0x1C) if device_list else (0, 0x18)
    pcir = bytearray(b"PCIR")
    pcir += struct.pack("<HH", vendor, device)
    pcir += struct.pack("<H", 0x20 if device_list else 0)  # device list, from the structure's start
    pcir += struct.pack("<HB", length, revision)
    pcir += bytes([0x00, 0x00, 0x03])  # class code: VGA display controller
    pcir += struct.pack("<HHBB", blocks, 0x0001, code_type, 0x80 if last else 0x00)
    pcir += struct.pack("<H", 0)  # maximum runtime image length
    pcir += bytes(0x20 - len(pcir))
    for listed in device_list:
        pcir += struct.pack("<H", listed)
    return pcir + struct.pack("<H", 0) if device_list else pcir


def legacy_image(vendor, device, ss_vendor, ss_id, version, banner, blocks, last, device_list=()):
    image = bytearray(blocks * BLOCK)
    image[0:3] = bytes([0x55, 0xAA, blocks])
    image[3:6] = bytes([0xE9, 0x8D, 0x02])  # jmp to the initialisation code
    struct.pack_into("<H", image, 0x18, PCIR)
    image[0x1E:0x21] = b"IBM"
    image[0x30:0x3A] = b" 761295520"
    struct.pack_into("<H", image, 0x48, ATOM)
    pcir = pci_data_structure(vendor, device, blocks, CODE_X86, last, device_list)
    image[PCIR : PCIR + len(pcir)] = pcir
    atom = struct.pack("<HBB", 0x24, 1, 1) + b"ATOM" + struct.pack("<8H", *([0] * 8))
    atom += struct.pack("<HH", ss_vendor, ss_id)
    image[ATOM : ATOM + len(atom)] = atom
    text = banner.encode("ascii") + b"\r\n\0VBIOS_VERSION=" + version.encode("ascii") + b"\r\n\0"
    image[TEXT : TEXT + len(text)] = text
    # Something in the code area, so the checksum is not trivially of zeros.
    for at in range(0x400, blocks * BLOCK - 1, 7):
        image[at] = (at * 31 + vendor + device) & 0xFF
    image[-1] = (-sum(image[:-1])) & 0xFF
    return image


def uefi_image(vendor, device, blocks=16):
    image = bytearray(blocks * BLOCK)
    image[0:2] = bytes([0x55, 0xAA])
    # Initialisation size, the EFI signature, a boot service driver for x64, uncompressed.
    struct.pack_into("<HIHHHxxxxxxxxH", image, 2, blocks, 0x0EF1, 0x000B, 0x8664, 0, 0x60)
    struct.pack_into("<H", image, 0x18, PCIR)
    pcir = pci_data_structure(vendor, device, blocks, CODE_UEFI, True)
    image[PCIR : PCIR + len(pcir)] = pcir
    image[0x60:0x62] = b"MZ"
    return image


def rom(vendor, device, subsys, version, banner, uefi=False, device_list=(), blocks=64):
    """`subsys` as Windows spells SUBSYS_: the subsystem ID, then its vendor."""
    ss_id, ss_vendor = subsys >> 16, subsys & 0xFFFF
    data = legacy_image(vendor, device, ss_vendor, ss_id, version, banner, blocks, not uefi, device_list)
    return bytes(data + (uefi_image(vendor, device) if uefi else b""))


RX6700 = dict(vendor=0x1002, device=0x73DF)
VERSION = "020.001.000.038.016300"
# The broken packages' entries name 73EF, 73FF and 7340 for other lessons;
# their image lists those devices, so it teaches only what each package is for.
BROKEN_IMAGE = rom(**RX6700, subsys=0x3A2F6A3D, version=VERSION, banner="KESTREL RX 6700M",
                   device_list=(0x73EF, 0x73FF, 0x7340), blocks=16)


def images():
    yield "packages/amd-dock/kestrel_rx6700.rom", rom(
        **RX6700, subsys=0x3A2F6A3D, version=VERSION, banner="KESTREL RX 6700M 12GB", uefi=True)
    yield "packages/amd-two-boards/kestrel_0a1b.rom", rom(
        **RX6700, subsys=0x0A1B1D6A, version=VERSION, banner="KESTREL RX 6700M board 0A1B")
    yield "packages/amd-two-boards/kestrel_0a1c.rom", rom(
        **RX6700, subsys=0x0A1C1D6A, version="020.001.000.038.016210", banner="KESTREL RX 6700M board 0A1C")
    for package in ("bad-bios-number", "board-bios-order", "ec-config-amd", "encodings", "entry-numbers",
                    "hwid-prefixes", "no-config", "no-match", "starts-at-one", "typos", "utf16-no-mark",
                    "versions-and-switches", "wrong-type"):
        yield f"broken-packages/{package}/kestrel.rom", BROKEN_IMAGE
    yield "broken-packages/missing-files/Kestrel_B.ROM", BROKEN_IMAGE
    # One image per way an image can be wrong for its entry.
    images = "broken-packages/rom-images/"
    yield images + "empty.rom", b""
    damaged = bytearray(rom(**RX6700, subsys=0x3A2F6A3D, version=VERSION, banner="KESTREL RX 6700M", blocks=16))
    damaged[0x1234] ^= 0x10
    yield images + "damaged.rom", bytes(damaged)
    yield images + "rx6800.rom", rom(vendor=0x1002, device=0x73BF, subsys=0x3A2F6A3D, version=VERSION,
                                     banner="KESTREL RX 6800M", blocks=16)
    yield images + "rtx3060.rom", rom(vendor=0x10DE, device=0x2520, subsys=0x3A2F6A3D, version=VERSION,
                                      banner="KESTREL RTX 3060", blocks=16)
    yield images + "board_0a1b.rom", rom(**RX6700, subsys=0x0A1B1D6A, version=VERSION,
                                         banner="KESTREL RX 6700M board 0A1B", blocks=16)
    yield images + "board_0a1d.rom", rom(**RX6700, subsys=0x0A1D1D6A, version=VERSION,
                                         banner="KESTREL RX 6700M board 0A1D", blocks=16)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    for relative, data in images():
        path = os.path.join(root, "examples", relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
        print(f"{len(data):7d}  examples/{relative}")


if __name__ == "__main__":
    main()
