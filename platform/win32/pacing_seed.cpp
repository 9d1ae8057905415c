#include <windows.h>

#include <cstdint>

#include "platform/system.h"

namespace platform {

uint64_t pacingSeed() {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return static_cast<uint64_t>(counter.QuadPart);
}

}  // namespace platform
