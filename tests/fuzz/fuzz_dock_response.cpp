// A dock controller's response report, which is whatever the device (or a
// device pretending to be the controller) returns: decoded as the block
// group and as the text group, re-encoded as the write frames a following
// write would send, and read through every decoder mode with lengths and
// offsets taken from the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "dock/dock_controller_client.h"
#include "dock/dock_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t response[kDockResponseSize] = {};
  std::memcpy(response, data, size < sizeof response ? size : sizeof response);

  STRUCT_GC_CONFIG config;
  decodeBlockGroup(response, config);
  if (config.item[kSlot4PARTID].size() != 16) __builtin_trap();
  if (config.item[kSlotGEN].size() > 1) __builtin_trap();
  if (!config.item[kSlotVBIOS].empty() && config.item[kSlotVBIOS].size() != 15) __builtin_trap();
  if (config.item[kSlotINDEX3].size() != 768) __builtin_trap();
  decodeTextGroup(response, config);
  for (const std::string& item : config.item) {
    if (item.size() > 768) __builtin_trap();
  }

  STRUCT_COMMAND_FORMAT command;
  buildBlockWriteFrame(command, config);
  if (command.length != 67) __builtin_trap();
  buildTextWriteFrame(command, config);
  if (command.length > 255 || command.data[command.length - 1] != 0x00) __builtin_trap();

  if (size >= sizeof response + 9) {
    const uint8_t* tail = data + sizeof response;
    int32_t mode = tail[0] % 6;
    if (mode == 3) mode = 2;  // mode 3 prints; its range is that of mode 2
    int32_t length = 0;
    int32_t base = 0;
    std::memcpy(&length, tail + 1, sizeof length);
    std::memcpy(&base, tail + 5, sizeof base);
    COrvoDIvivazuv::DecodeDataToString(response, mode, length, base);
  }
  return 0;
}
