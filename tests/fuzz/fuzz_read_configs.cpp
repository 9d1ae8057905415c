// configs.txt as a package author (or an attacker who swapped the package)
// might write it: any bytes, any encoding mark, any line ends.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/log.h"
#include "package/config_text.h"
#include "package/read_configs.h"
#include "package/vbios_configs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxConfigFileBytes) return 0;  // readConfigs refuses these before parsing
  static LogWriter unopened;                 // applyConfigText never logs; nothing reaches the disk
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::string text = package::decodeText(bytes);
  // The decoded text must be valid UTF-8 whatever came in: it goes into the
  // log and, on Windows, through UTF-16 conversions.
  // (Re-decoded behind a letter, so that a U+FEFF it begins with is not
  // taken for a byte-order mark.)
  if (package::decodeText("a" + text) != "a" + text) __builtin_trap();

  VBiosConfigs configs(unopened);
  std::string problem;
  size_t unparsable = 0;
  const int32_t code =
      package::applyConfigText(configs, text, "Kestrel15", problem, [&](std::string_view) { ++unparsable; });
  if (code != 0 && code != 102) __builtin_trap();
  if (code == 102 && problem.empty()) __builtin_trap();
  if (configs.VbCount != 0) __builtin_trap();  // counting belongs to readConfigs
  return 0;
}
