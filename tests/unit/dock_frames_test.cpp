// The dock controller's frames byte by byte, and the decoding of its
// responses, without a device.
#include "dock/dock_frames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dock/dock_controller_client.h"

namespace {

std::vector<uint8_t> frameBytes(const STRUCT_COMMAND_FORMAT& command, size_t from, size_t to) {
  return std::vector<uint8_t>(command.data + from, command.data + to);
}

std::vector<uint8_t> fill(size_t count) { return std::vector<uint8_t>(count, 0xFF); }

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

STRUCT_COMMAND_FORMAT blockFrame(const std::string& partId, const std::string& gen,
                                 const std::string& vbios) {
  STRUCT_GC_CONFIG config;
  config.item[kSlot4PARTID] = partId;
  config.item[kSlotGEN] = gen;
  config.item[kSlotVBIOS] = vbios;
  STRUCT_COMMAND_FORMAT command;
  buildBlockWriteFrame(command, config);
  return command;
}

// A block response holding the fields of a block write frame at the same
// offsets, as the controller returns what it was sent.
void responseFromFrame(const STRUCT_COMMAND_FORMAT& frame, uint8_t (&response)[kDockResponseSize]) {
  std::memset(response, 0xFF, sizeof response);
  std::memcpy(response, frame.data, frame.length);
  response[1] = kDockReadCommand;
}

TEST(DockFrames, GreetingAndReadRequests) {
  STRUCT_COMMAND_FORMAT command;
  buildGreetingFrame(command);
  ASSERT_EQ(command.length, 16);
  EXPECT_EQ(command.data[0], 0x5E);
  EXPECT_EQ(command.data[15], 0x00);
  const std::string greeting(reinterpret_cast<const char*>(command.data + 1), 14);
  EXPECT_EQ(greeting, dockGreeting());
  for (const char c : greeting) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << greeting;

  buildReadRequest(command, kDockBlockGroup);
  EXPECT_EQ(frameBytes(command, 0, command.length), (std::vector<uint8_t>{0x5E, 0xCE, 0x03}));
  buildReadRequest(command, kDockTextGroup);
  EXPECT_EQ(frameBytes(command, 0, command.length), (std::vector<uint8_t>{0x5E, 0xCE, 0x01}));
}

TEST(DockFrames, BlockWriteFields) {
  struct Case {
    const char* name;
    std::string partId, gen, vbios;
    std::vector<uint8_t> partIdField, genField, vbiosField;
  };
  const std::vector<uint8_t> erasedPartId = concat({0x00}, fill(15));
  const Case cases[] = {
      {"GEN 3", "", "3", "", erasedPartId, concat({0x47, 0x45, 0x4E, 0x01, 0x33}, fill(11)), fill(32)},
      {"GEN of 12 bytes fits", "", "ABCDEFGHIJKL", "", erasedPartId,
       concat({0x47, 0x45, 0x4E, 12},
              std::vector<uint8_t>{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L'}),
       fill(32)},
      {"GEN of 13 bytes is erased", "", "ABCDEFGHIJKLM", "", erasedPartId, fill(16), fill(32)},
      {"VBIOS of 29 bytes is erased", "", "", std::string(29, 'v'), erasedPartId, fill(16), fill(32)},
      {"VBIOS", "", "", "86.04", erasedPartId, fill(16),
       concat({0x56, 0x45, 0x52, 5, '8', '6', '.', '0', '4'}, fill(23))},
      {"4PARTID of 16 bytes has no terminator",
       "0123456789ABCDEF0123456789abcdef",
       "",
       "",
       {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF},
       fill(16),
       fill(32)},
      {"4PARTID beyond 32 digits is cut", std::string(40, '1'), "", "", std::vector<uint8_t>(16, 0x11),
       fill(16), fill(32)},
      {"4PARTID with an odd count pairs its last digit with the NUL", "ABC", "", "",
       concat({0xAB, 0xC0, 0x00}, fill(13)), fill(16), fill(32)},
  };
  for (const Case& c : cases) {
    const STRUCT_COMMAND_FORMAT frame = blockFrame(c.partId, c.gen, c.vbios);
    ASSERT_EQ(frame.length, 67) << c.name;
    EXPECT_EQ(frameBytes(frame, 0, 3), (std::vector<uint8_t>{0x5E, 0xCF, 0x03})) << c.name;
    EXPECT_EQ(frameBytes(frame, 3, 19), c.partIdField) << c.name;
    EXPECT_EQ(frameBytes(frame, 19, 35), c.genField) << c.name;
    EXPECT_EQ(frameBytes(frame, 35, 67), c.vbiosField) << c.name;
  }
  EXPECT_EQ(frameBytes(blockFrame("0123456789ABCDEF", "", ""), 3, 19),
            concat({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x00}, fill(7)));
}

TEST(DockFrames, BlockResponsesDecode) {
  struct Case {
    const char* name;
    STRUCT_COMMAND_FORMAT stored;
    std::string partId, gen, vbios;
  };
  const Case cases[] = {
      {"4PARTID round trip", blockFrame("0123456789ABCDEF", "3", ""), "0123456789ABCDEF", "3", ""},
      {"erased 4PARTID field", blockFrame("", "", ""), "00FFFFFFFFFFFFFF", "", ""},
      {"14-character VBIOS reads its first fill byte as the 15th", blockFrame("", "", "86.04.0F.00.01"),
       "00FFFFFFFFFFFFFF", "", "86.04.0F.00.01\xFF"},
      {"long VBIOS reads back its first 15 bytes", blockFrame("", "", "0123456789abcdefghij"),
       "00FFFFFFFFFFFFFF", "", "0123456789abcde"},
      {"long GEN reads back one character", blockFrame("", "Gen3", ""), "00FFFFFFFFFFFFFF", "G", ""},
  };
  for (const Case& c : cases) {
    uint8_t response[kDockResponseSize];
    responseFromFrame(c.stored, response);
    STRUCT_GC_CONFIG config;
    config.item[kSlotMBSN] = "kept";
    decodeBlockGroup(response, config);
    EXPECT_EQ(config.item[kSlot4PARTID], c.partId) << c.name;
    EXPECT_EQ(config.item[kSlotGEN], c.gen) << c.name;
    EXPECT_EQ(config.item[kSlotVBIOS], c.vbios) << c.name;
    EXPECT_EQ(config.item[kSlotINDEX3].size(), 768u) << c.name;
    EXPECT_EQ(config.item[kSlotINDEX3].substr(0, 9), " 5E CE 03") << c.name;
    EXPECT_EQ(config.item[kSlotMBSN], "kept") << c.name;  // text slots are not decoded from a block
  }
}

TEST(DockFrames, TextResponseSetsOnlyLabelledPieces) {
  uint8_t response[kDockResponseSize] = {0x5E, 0xCE, 0x01};
  const char text[] = ";MB:A1;SN:B2:x;PNUM;";
  std::memcpy(response + 3, text, sizeof text);
  STRUCT_GC_CONFIG config;
  decodeTextGroup(response, config);
  EXPECT_EQ(config.item[kSlotMBSN], "A1");
  EXPECT_EQ(config.item[kSlotSSN], "B2");
  for (const int slot : {kSlot4PARTID, kSlotPROJECT, kSlotPARTNUMBER, kSlotGEN, kSlotVBIOS, kSlotINDEX3}) {
    EXPECT_EQ(config.item[slot], "") << STRUCT_GC_CONFIG::kNames[slot];
  }

  // A text without its NUL ends with the response.
  std::memset(response + 3, 'x', sizeof response - 3);
  std::memcpy(response + 3, "PRO:", 4);
  decodeTextGroup(response, config);
  EXPECT_EQ(config.item[kSlotPROJECT], std::string(297 - 4, 'x'));
}

TEST(DockFrames, TextWriteFrame) {
  STRUCT_GC_CONFIG config;
  config.item[kSlotMBSN] = "A1";
  config.item[kSlotPARTNUMBER] = "P9";
  STRUCT_COMMAND_FORMAT command;
  buildTextWriteFrame(command, config);
  const std::string text = "MB:A1;SN:;PRO:;PNUM:P9;";
  ASSERT_EQ(command.length, 4 + text.size());
  EXPECT_EQ(frameBytes(command, 0, 3), (std::vector<uint8_t>{0x5E, 0xCF, 0x01}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(command.data + 3), text.size()), text);
  EXPECT_EQ(command.data[command.length - 1], 0x00);

  config.item[kSlotPROJECT] = std::string(400, 'p');
  buildTextWriteFrame(command, config);
  EXPECT_EQ(command.length, 255);  // 251 bytes of text
  EXPECT_EQ(command.data[254], 0x00);
}

TEST(DockFrames, SplitString) {
  struct Case {
    std::string s, c;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"a;;b;", ";", {"a", "", "b"}}, {";a", ";", {"", "a"}}, {"abc", ";", {"abc"}}, {"", ";", {}},
      {"a::b::", "::", {"a", "b"}},   {"a", "", {"a"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> v = {"kept"};
    SplitString(c.s, v, c.c);
    std::vector<std::string> expected = {"kept"};
    expected.insert(expected.end(), c.pieces.begin(), c.pieces.end());
    EXPECT_EQ(v, expected) << c.s;
  }
}

TEST(DockFrames, CharToByte) {
  struct Case {
    const char* text;
    int32_t count;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"0123456789abcdefABCDEF", 22, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}},
      {"F", 1, {0xF0}},  // the NUL is the second digit
      {"", 0, {}},
      {"12", -3, {}},
      // 'G' counts as 71: (71 * 16 + 1) mod 256 = 0x71.
      {"G1", 2, {0x71}},
      {"1Z", 2, {static_cast<uint8_t>((1 * 16 + 'Z') % 256)}},
  };
  for (const Case& c : cases) {
    uint8_t bytes[16] = {};
    const uint32_t n = COrvoDIvivazuv::CharToByte(c.text, bytes, c.count);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + n), c.bytes) << c.text;
  }
}

TEST(DockFrames, DecodeStaysInsideTheResponse) {
  uint8_t data[kDockResponseSize];
  for (int i = 0; i < kDockResponseSize; ++i) data[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(COrvoDIvivazuv::DecodeDataToString(data, 1, 2, 0), "0304");
  EXPECT_EQ(COrvoDIvivazuv::DecodeDataToString(data, 1, 1000, 0).size(), 2u * 297);
  EXPECT_EQ(COrvoDIvivazuv::DecodeDataToString(data, 2, 3, 20), "\x17\x18\x19");
  EXPECT_EQ(COrvoDIvivazuv::DecodeDataToString(data, 2, 10, 290), "\x25\x26\x27\x28\x29\x2A\x2B");
  EXPECT_EQ(COrvoDIvivazuv::DecodeDataToString(data, 2, 10, 400), "");
  EXPECT_EQ(COrvoDIvivazuv::DecodeDataToString(data, 2, 10, -10), "");
  EXPECT_EQ(COrvoDIvivazuv::DecodeDataToString(data, 2, -1, 0), "");
  EXPECT_EQ(COrvoDIvivazuv::DecodeDataToString(data, 4, 0, 0).substr(0, 9), " 00 01 02");
}

}  // namespace
