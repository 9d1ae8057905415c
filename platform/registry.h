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

// What both backends give, with the codes RegGetValue would:
//  - Ok: `value` is the text of REG_SZ or REG_EXPAND_SZ (not expanded), or a
//    REG_DWORD or REG_QWORD as unsigned decimal (platform/registry_value.h);
//  - KeyMissing, ValueMissing: kErrorFileNotFound;
//  - Failed: a key outside HKEY_LOCAL_MACHINE is kErrorInvalidParameter, a
//    binary or multi-string value kErrorUnsupportedType, malformed data or a
//    value over 64 KiB kErrorInvalidData, or what the system said.
// `error` is set whenever the status is not Ok; `value` is empty then.
struct RegistryString {
  RegistryStatus status = RegistryStatus::Failed;
  std::string value;
  Error error;
};

// Names of keys and values are matched ignoring case, as Windows does.
RegistryString readRegistryString(std::string_view key, std::string_view name);

// Create the key when it is missing; other keys and values are kept. A key
// outside HKEY_LOCAL_MACHINE, or a text over 64 KiB as UTF-16, is refused
// with kErrorInvalidParameter.
Error writeRegistryDword(std::string_view key, std::string_view name, uint32_t value);
Error writeRegistryString(std::string_view key, std::string_view name, std::string_view value);

}  // namespace platform
