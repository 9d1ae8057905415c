#include "tools/package_check/hardware_id_form.h"

#include "platform/ascii_text.h"

namespace kit {

namespace {

bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
bool isHex(char c) { return isUpperHex(c) || (c >= 'a' && c <= 'f'); }

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// `count` hex digits after `field` (found in any case), upper-cased.
std::string fieldOf(std::string_view prefix, std::string_view field, size_t count) {
  const std::string folded = platform::lowerAscii(prefix);
  const size_t at = folded.find(platform::lowerAscii(field));
  if (at == std::string::npos || prefix.size() < at + field.size() + count) return {};
  std::string digits;
  for (char c : prefix.substr(at + field.size(), count)) {
    if (!isHex(c)) return {};
    digits += upper(c);
  }
  return digits;
}

}  // namespace

std::string pciPrefixProblem(std::string_view prefix, bool& lowerCaseOnly) {
  lowerCaseOnly = false;
  if (prefix.starts_with("PCI\\\\"))
    return "it has two backslashes after PCI, Windows' IDs one (configs.txt takes a backslash as it is, with "
           "no "
           "escaping)";
  if (!platform::lowerAscii(prefix).starts_with("pci\\") &&
      !platform::lowerAscii("pci\\").starts_with(platform::lowerAscii(prefix)))
    return "it does not start with PCI\\ as every PCI hardware ID does";
  // Device Manager's "Device instance path" is the hardware ID followed by
  // the instance part ("\\6&1A2B3C4D&0&0008"): the one most often copied.
  if (const size_t instance = prefix.find('\\', 4); instance != std::string_view::npos) {
    const std::string tail(prefix.substr(instance));
    return "it ends with the device instance part '" + tail +
           "' (Device Manager's \"Device instance path\"), which no hardware ID has: delete '" + tail + "'";
  }
  if (prefix.size() > kPciIdTemplate.size())
    return "it is longer than a whole PCI hardware ID (" + std::string(kPciIdTemplate) + ")";
  std::string upperCased;
  for (char c : prefix) upperCased += upper(c);
  auto firstMismatch = [](std::string_view text) -> size_t {
    for (size_t i = 0; i < text.size(); ++i) {
      const char want = kPciIdTemplate[i];
      if (want == '#' ? !isUpperHex(text[i]) : text[i] != want) return i;
    }
    return std::string_view::npos;
  };
  const size_t at = firstMismatch(prefix);
  if (at == std::string_view::npos) return {};
  if (firstMismatch(upperCased) == std::string_view::npos) {
    lowerCaseOnly = true;
    return "it has lower-case letters, and Windows spells PCI hardware IDs in upper case ('" + upperCased +
           "')";
  }
  const size_t bad = firstMismatch(upperCased);
  const char want = kPciIdTemplate[bad];
  return "character " + std::to_string(bad + 1) + " is '" + std::string(1, prefix[bad]) +
         "' where Windows' IDs have " +
         (want == '#' ? std::string("a hex digit") : "'" + std::string(1, want) + "'") + " (" +
         std::string(kPciIdTemplate) + ")";
}

std::string vendorOf(std::string_view prefix) { return fieldOf(prefix, "VEN_", 4); }

std::string pciIdFor(std::string_view prefix, std::string_view defaultVendor, std::string_view defaultDevice,
                     std::string_view defaultSubsys) {
  auto orDefault = [](std::string value, std::string_view fallback) {
    return value.empty() ? std::string(fallback) : value;
  };
  const std::string whole = "PCI\\VEN_" + orDefault(vendorOf(prefix), defaultVendor) + "&DEV_" +
                            orDefault(fieldOf(prefix, "DEV_", 4), defaultDevice) + "&SUBSYS_" +
                            orDefault(fieldOf(prefix, "SUBSYS_", 8), defaultSubsys) + "&REV_" +
                            orDefault(fieldOf(prefix, "REV_", 2), "C1");
  // A prefix spelt as Windows spells IDs is kept whole, a part field too
  // ("SUBSYS_0A1B"): the device is one the prefix is meant to match.
  bool lowerCaseOnly = false;
  if (pciPrefixProblem(prefix, lowerCaseOnly).empty())
    return std::string(prefix) + whole.substr(prefix.size());
  return whole;
}

}  // namespace kit
