// The machines a package is rehearsed on, made from the package itself:
// each ROM entry's GPU with an older, equal and newer VBIOS, drivers and
// system BIOSes either side of the package's requirements, battery power,
// a failing and a hanging flash tool, the dock and platform driver missing
// when the package asks for them, and a notebook without a matching GPU.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "package/vbios_configs.h"
#include "package/vbios_image.h"

namespace kit {

struct RehearsalMachine {
  std::string name;        // what varies, e.g. "entry 0, older VBIOS"
  std::string machineIni;  // the whole machine.ini
  std::string registryReg;
  int expectedCode = -1;  // what the installer's rules give here; -1 when the matrix cannot tell
  bool slow = false;      // waits for a time-out: started first, so the others run beside it
  int entry = -1;         // the ROM entry whose GPU it carries; -1 for an author's machine
};

// A board the package names in a BIOS line of its own, with the requirement
// the installer reads for it (line order honoured); `readResult` is what
// readConfigs returns on that board (102 when the board's value stops it).
struct NamedBoard {
  std::string name;
  int32_t bios = 1;
  int32_t readResult = 0;
};

// `configs` as readConfigs leaves it for the package on a board it does not
// name; `boards` the boards it names; `images` what an AMD package's images
// say, by entry number. A machine's GPU is the one its entry's prefix names,
// with the fields the prefix leaves open taken from the entry's image; where
// the prefix leaves the device open, one more machine has a GPU the image
// does not fit.
std::vector<RehearsalMachine> defaultMatrix(const VBiosConfigs& configs,
                                            const std::vector<NamedBoard>& boards,
                                            const std::map<int, package::ImageReading>& images = {});

// A version one step below or above `version` in the package type's form
// (AMD: the last non-zero dotted component, keeping its width; NVIDIA: the
// integer). Empty when the text is not a number the installer can compare.
std::string versionBelow(const std::string& version, bool amd);
std::string versionAbove(const std::string& version, bool amd);

}  // namespace kit
