#include "platform/registry_value.h"

#include "platform/ascii_text.h"
#include "platform/error.h"
#include "platform/unicode_text.h"

namespace platform {

namespace {

// A little-endian number of exactly `size` bytes.
bool littleEndian(std::string_view data, size_t size, uint64_t& number) {
  if (data.size() != size) return false;
  number = 0;
  for (size_t i = size; i-- > 0;) number = number << 8 | static_cast<unsigned char>(data[i]);
  return true;
}

}  // namespace

uint32_t registryValueText(uint32_t type, std::string_view data, std::string& text) {
  text.clear();
  if (data.size() > kMaxRegistryValueBytes) return kErrorInvalidData;
  uint64_t number = 0;
  switch (static_cast<RegistryType>(type)) {
    case RegistryType::Text:
    case RegistryType::ExpandableText: {
      size_t units = data.size() / 2;  // an odd trailing byte cannot be part of the text
      for (size_t i = 0; i < units; ++i) {
        if (data[2 * i] == '\0' && data[2 * i + 1] == '\0') units = i;
      }
      decodeUtf16(data.substr(0, units * 2), false, text);
      return 0;
    }
    case RegistryType::Dword:
      if (!littleEndian(data, 4, number)) return kErrorInvalidData;
      text = std::to_string(number);
      return 0;
    case RegistryType::Qword:
      if (!littleEndian(data, 8, number)) return kErrorInvalidData;
      text = std::to_string(number);
      return 0;
    default:
      return kErrorUnsupportedType;
  }
}

bool machineSubkey(std::string_view key, std::string_view& subkey) {
  constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";
  if (key.size() < kRoot.size() || !equalsIgnoringAsciiCase(key.substr(0, kRoot.size()), kRoot)) return false;
  std::string_view rest = key.substr(kRoot.size());
  if (!rest.empty() && rest.front() != '\\') return false;
  while (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
  while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  subkey = rest;
  return true;
}

}  // namespace platform
