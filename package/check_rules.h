// The decisions of the target checks as plain functions of their inputs:
// the check operations make them on the machine's values, and the package
// checker makes them on the package's values ahead of any machine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace package {

// "AMD" and "KRAMD" take the AMD path in every step; every other type, also
// a misspelt one, takes the NVIDIA path.
bool isAmdPackageType(std::string_view type);

// The device search's test: the hardware ID starts with the entry's prefix,
// case-sensitively. An empty prefix would match every device and so prove
// nothing about which GPU is in the dock; it matches none.
bool hardwareIdMatches(std::string_view hardwareId, std::string_view prefix);

struct DriverVersionDecision {
  int32_t code = 0;             // 0, 402 or 403
  bool formatMismatch = false;  // 402 because the component counts differ
  std::string problem;          // 403: which component is not a number
};

// checkTargetVGA's decision for a requirement other than "0.0.0.0".
DriverVersionDecision decideDriverVersion(std::string_view required, std::string_view installed);

struct UptodateDecision {
  int32_t code = 0;     // 1 up to date, 0 flash, 701 formats differ, 702 not comparable
  bool newer = false;   // AMD: the GPU's version is above the package's
  std::string problem;  // 702: why
};

// checkUptodate's decision: AMD types compare dotted versions component by
// component, every other type compares one 64-bit integer.
UptodateDecision decideUptodate(bool amdType, std::string_view current, std::string_view package);

}  // namespace package
