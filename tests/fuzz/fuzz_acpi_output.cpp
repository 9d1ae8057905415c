// An ACPI evaluation output buffer, whose argument count and lengths come
// from the platform driver: every argument index picked from it, into a
// destination exactly as large as the input says. Both buffers are heap
// blocks of their exact size, so a read or write past either is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "dock/zelacpi_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t index = data[0] % 16;
  const uint32_t destinationSize = static_cast<uint32_t>(data[1] | data[2] << 8) % 1024;
  data += 3;
  size -= 3;
  auto output = std::make_unique<uint8_t[]>(kAcpiOutputSize);
  std::memcpy(output.get(), data, size < kAcpiOutputSize ? size : kAcpiOutputSize);
  auto destination = std::make_unique<uint8_t[]>(destinationSize + 1);
  if (GetAcpiArgument(output.get(), destination.get(), index, destinationSize)) {
    // What was copied is the argument at its place: type and length first.
    uint16_t length = 0;
    std::memcpy(&length, destination.get() + 2, sizeof length);
    const uint32_t occupied = length > 4 ? 4u + length : 8u;
    if (occupied > destinationSize) __builtin_trap();
  }
  return 0;
}
