// COrvoDIvivazuv: the client of the Kestrel dock controller's configuration
// service. The constructor finds the controller among the HID interfaces
// and greets it; each write is a read-modify-write of the item's group.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dock/dock_frames.h"
#include "dock/usb.h"

class COrvoDIvivazuv {
 public:
  static constexpr int kReadOk = 0;
  static constexpr int kNoResponse = 3;
  static constexpr int kWriteOk = 0;
  static constexpr int kNotWritten = 4;
  static constexpr int kAttempts = 5;
  static constexpr uint32_t kGreetingPauseMs = 250;
  static constexpr uint32_t kRetryPauseMs = 1000;

  // Prints "Open device fail" for a matching device that does not open and
  // "Initial fail or DIvivazuv not found!" when no controller was greeted.
  COrvoDIvivazuv();
  ~COrvoDIvivazuv() = default;
  COrvoDIvivazuv(const COrvoDIvivazuv&) = delete;
  COrvoDIvivazuv& operator=(const COrvoDIvivazuv&) = delete;

  bool Initial();
  int32_t ReadGcConfigs(std::string ConfigName);                    // 0 read, 3 no response
  int32_t WriteGcConfig(std::string ConfigName, std::string data);  // 0 written, 4 not written
  // Deletes the transport and ends the process with exit status 0.
  [[noreturn]] void Close();

  // mode 1: DataLen bytes from offset 3 as hex digits; 2: DataLen bytes from
  // offset base + 3 as they stand; 3: the one byte at base + 3 (its value is
  // printed); 4: " %02X" of bytes 0 to 255; other: the text from offset 3 to
  // its NUL. Every range is bounded by the 300-byte response.
  static std::string DecodeDataToString(const uint8_t (&Data)[kDockResponseSize], int32_t mode,
                                        int32_t DataLen, int32_t base);
  // ceil(count / 2) bytes from pairs of hex digits; a character that is not
  // a hex digit counts with its own code. With an odd count the last pair's
  // second character is pChar[count] (the terminating NUL), so pChar must
  // hold count + 1 characters then.
  static uint32_t CharToByte(const char* pChar, uint8_t* pByte, int32_t count);

  uint8_t response[kDockResponseSize] = {};
  STRUCT_GC_CONFIG config;
  std::unique_ptr<USB> transport;
  STRUCT_COMMAND_FORMAT command;
};
