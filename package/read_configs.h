// The parsing half of readConfigs, apart from the file and the log so that
// it can be fed text directly (tests, fuzzing).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "package/config_line.h"
#include "package/vbios_configs.h"

namespace package {

inline constexpr const char* kBiosRegistryKey = "HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS";

// Applies every key=value line of configs.txt (already decoded) to
// `configs`, in file order. Returns 0, or 102 when a BIOS requirement or an
// entry number cannot be taken; then `problem` says which line and why, and
// the lines before it stay applied. An entry number that is not a number is
// handed to `unparsableEntryNumber` and its line is skipped.
int32_t applyConfigText(VBiosConfigs& configs, std::string_view text, std::string_view boardName,
                        std::string& problem,
                        const std::function<void(std::string_view)>& unparsableEntryNumber = {});

// One Applied test of readConfigLine, done to `configs`.
void applyConfigTest(VBiosConfigs& configs, const ConfigTestHit& hit);

// The entries the device search is offered: from entry 0 up to the first
// without a hardware ID.
int32_t countRomEntries(const VBiosConfigs& configs);

// The mandatory keys still at their initial value after a complete read;
// any of them makes the read fail with 103.
std::vector<std::string_view> missingMandatoryData(const VBiosConfigs& configs);

}  // namespace package
