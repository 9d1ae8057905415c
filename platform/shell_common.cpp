#include "platform/shell.h"

namespace platform {

std::string shellSafeAddress(std::string_view address) {
  std::string safe;
  safe.reserve(address.size());
  for (char c : address) {
    if (c == '"') {
      safe += "%22";
    } else {
      safe += c;
    }
  }
  return safe;
}

}  // namespace platform
