// HKEY_LOCAL_MACHINE values, 64-bit view. Keys are full paths such as
// "HKEY_LOCAL_MACHINE\SOFTWARE\Orvo\VBIOS". posix keeps them in the
// machine root's registry.reg.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

enum class RegistryStatus { Ok, ValueMissing, KeyMissing, Failed };

struct RegistryString {
  RegistryStatus status = RegistryStatus::Failed;
  std::string value;  // the text when Ok (REG_SZ or REG_EXPAND_SZ; a DWORD as decimal)
  Error error;        // set when KeyMissing or Failed
};

RegistryString readRegistryString(std::string_view key, std::string_view name);

// Create the key when it is missing; other keys and values are kept.
Error writeRegistryDword(std::string_view key, std::string_view name, uint32_t value);
Error writeRegistryString(std::string_view key, std::string_view name, std::string_view value);

}  // namespace platform
