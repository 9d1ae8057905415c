// The text form of a registry value, one conversion for both registry
// backends: win32 hands it what RegQueryValueExW read, posix what a line of
// registry.reg holds, so a value reads the same on either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Value types by their Windows numbers; registry.reg spells them the same
// way (hex(2): is REG_EXPAND_SZ, hex(b): REG_QWORD).
enum class RegistryType : uint32_t {
  None = 0,
  Text = 1,            // REG_SZ
  ExpandableText = 2,  // REG_EXPAND_SZ
  Binary = 3,          // REG_BINARY
  Dword = 4,           // REG_DWORD, little-endian
  MultiText = 7,       // REG_MULTI_SZ
  Qword = 11,          // REG_QWORD, little-endian
};

// No value this program reads or writes comes near this; a larger one is
// refused instead of trusted with an allocation.
inline constexpr size_t kMaxRegistryValueBytes = 64 * 1024;

// `text` for `data` of `type` (text as UTF-16LE), or the error code
// RegistryString reports (registry.h):
//  - REG_SZ, REG_EXPAND_SZ: the text up to its first NUL, not expanded (the
//    terminating NUL is stored by most writers but not all);
//  - REG_DWORD, REG_QWORD: unsigned decimal; data of another length is
//    kErrorInvalidData;
//  - any other type (binary, multi-string: no single text form a caller
//    could compare) is kErrorUnsupportedType;
//  - data over kMaxRegistryValueBytes is kErrorInvalidData.
uint32_t registryValueText(uint32_t type, std::string_view data, std::string& text);

// "HKEY_LOCAL_MACHINE\SOFTWARE\Orvo\" -> "SOFTWARE\Orvo" (the root in any
// case, no separators around the rest). Only the machine hive is ever used,
// so false for any other root: a caller's mistake, not a missing key.
bool machineSubkey(std::string_view key, std::string_view& subkey);

}  // namespace platform
