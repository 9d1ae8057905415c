// The dock controller's configuration items and the frames that carry them:
// every frame is the payload of feature report 0x5E, offsets counted from
// the report ID. Building and decoding live here, apart from the client
// that sends them, so both can be tested (and fuzzed) without a device.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The eight items, in slot order. The text group (MBSN, SSN, PROJECT,
// PARTNUMBER) travels as "label:value;" pieces, the block group (4PARTID,
// GEN, VBIOS) as one 64-byte block; INDEX3 is a read-only dump of the block
// response.
enum GcSlot : int {
  kSlotMBSN,
  kSlotSSN,
  kSlot4PARTID,
  kSlotPROJECT,
  kSlotPARTNUMBER,
  kSlotGEN,
  kSlotVBIOS,
  kSlotINDEX3
};

struct STRUCT_GC_CONFIG {
  static constexpr int kItems = 8;
  static constexpr const char* kNames[kItems] = {"MBSN",       "SSN", "4PARTID", "PROJECT",
                                                 "PARTNUMBER", "GEN", "VBIOS",   "INDEX3"};
  std::string item[kItems];

  void clear();
  // The slot named exactly (case-sensitive) `name`, or -1.
  static int slotOf(std::string_view name);
  // True for the names whose group is the block group (INDEX3 included).
  static bool inBlockGroup(std::string_view name);
};

// A frame under construction: a byte count and room for 300 bytes. No
// frame is longer than 255 bytes; append beyond that is ignored.
struct STRUCT_COMMAND_FORMAT {
  uint8_t length = 0;
  uint8_t data[300] = {};

  void clear() { length = 0; }
  void append(uint8_t byte) {
    if (length < 255) data[length++] = byte;
  }
};

inline constexpr uint8_t kDockReportId = 0x5E;
inline constexpr uint8_t kDockReadCommand = 0xCE;
inline constexpr uint8_t kDockWriteCommand = 0xCF;
inline constexpr uint8_t kDockBlockGroup = 0x03;
inline constexpr uint8_t kDockTextGroup = 0x01;
inline constexpr int kDockResponseSize = 300;
inline constexpr size_t kDockGreetingLength = 14;
inline constexpr size_t kDockTextMax = 251;

// The controller's unlock text: 14 printable characters.
std::string dockGreeting();

void buildGreetingFrame(STRUCT_COMMAND_FORMAT& command);
void buildReadRequest(STRUCT_COMMAND_FORMAT& command, uint8_t group);
void buildBlockWriteFrame(STRUCT_COMMAND_FORMAT& command, const STRUCT_GC_CONFIG& config);
void buildTextWriteFrame(STRUCT_COMMAND_FORMAT& command, const STRUCT_GC_CONFIG& config);

// Responses are the 300 bytes of report 0x5E as fetched.
void decodeBlockGroup(const uint8_t (&response)[kDockResponseSize], STRUCT_GC_CONFIG& config);
void decodeTextGroup(const uint8_t (&response)[kDockResponseSize], STRUCT_GC_CONFIG& config);

// Appends to `v` the pieces of `s` that end at each occurrence of `c`, and
// the remainder when it is not empty. An empty separator splits nothing.
void SplitString(const std::string& s, std::vector<std::string>& v, const std::string& c);
