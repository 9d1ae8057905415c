// Arbitrary configs.txt bytes through the package checker's whole path (the
// same bytes as a ROM image too):
// the installer's line reading, every check and both outputs; and the
// rehearsal's check of an author's machine.ini keys.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/package_check/check_output.h"
#include "tools/package_check/package_check.h"
#include "tools/rehearse/machine_keys_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kit::PackageFolder folder;
  folder.configBytes.assign(reinterpret_cast<const char*>(data), size);
  folder.configSize = size;
  folder.files = {"configs.txt", "kestrel.rom", "amdvbflash.exe", "Devcon64.exe", "flash.exe"};
  folder.toolFiles = {"vendorflash.exe"};
  folder.images["kestrel.rom"] = folder.configBytes;  // and as the image an AMD entry may name
  const kit::CheckReport report = kit::checkPackage(folder);
  if (report.exitCode() < 0 || report.exitCode() > 2) __builtin_trap();
  kit::formatText(report, "p");
  kit::formatJson(report, "p");
  // The same bytes as an author's machine.ini for the rehearsal's key check.
  if (kit::unknownMachineKeys(folder.configBytes).size() > 20) __builtin_trap();
  return 0;
}
