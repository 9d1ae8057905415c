// An NVIDIA VBIOS version in the two forms people meet it: the dotted text
// NVIDIA's tools print ("86.04.0F.00.02": four revision bytes and the OEM
// revision, in hex) and the one integer the installer compares
// (revision * 256 + OEM revision).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kit {

std::optional<uint64_t> nvidiaIntegerOfDotted(std::string_view dotted);

// The dotted form of an integer the installer could hold, or "" when the
// integer is larger than a 32-bit revision and an 8-bit OEM revision.
std::string nvidiaDottedOfInteger(uint64_t value);

}  // namespace kit
