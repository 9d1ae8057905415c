#include "dock/dock_frames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dock/dock_controller_client.h"
#include "platform/system.h"

namespace {

constexpr size_t kPartIdField = 16;
constexpr size_t kGenField = 16;
constexpr size_t kVbiosField = 32;
constexpr size_t kGenTextMax = kGenField - 4;
constexpr size_t kVbiosTextMax = kVbiosField - 4;

// Response offsets of the block group's length bytes and texts.
constexpr int kGenLengthAt = 22;
constexpr int kVbiosLengthAt = 38;

void appendFill(STRUCT_COMMAND_FORMAT& command, size_t count) {
  for (size_t i = 0; i < count; ++i) command.append(0xFF);
}

// "GEN" or "VER", the text's length and the text, 0xFF to the field's end;
// a text that is empty or does not fit leaves the whole field erased.
void appendTaggedField(STRUCT_COMMAND_FORMAT& command, const char* tag, const std::string& text,
                       size_t field) {
  const size_t textMax = field - 4;
  if (text.empty() || text.size() > textMax) {
    appendFill(command, field);
    return;
  }
  for (int i = 0; i < 3; ++i) command.append(static_cast<uint8_t>(tag[i]));
  command.append(static_cast<uint8_t>(text.size()));
  for (const char c : text) command.append(static_cast<uint8_t>(c));
  appendFill(command, textMax - text.size());
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return static_cast<unsigned char>(c);
}

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

void STRUCT_GC_CONFIG::clear() {
  for (std::string& value : item) value.clear();
}

int STRUCT_GC_CONFIG::slotOf(std::string_view name) {
  for (int slot = 0; slot < kItems; ++slot) {
    if (name == kNames[slot]) return slot;
  }
  return -1;
}

bool STRUCT_GC_CONFIG::inBlockGroup(std::string_view name) {
  return name == "4PARTID" || name == "GEN" || name == "VBIOS" || name == "INDEX3";
}

// Built when needed rather than kept as one literal, so the controller's
// unlock text does not stand in the program file as a plain string.
std::string dockGreeting() {
  static constexpr char kFirst[] = {'D', 'o', 'c', 'k', 'C', 'f', 'g'};
  static constexpr char kSecond[] = {'-', 'U', 'n', 'l', 'o', 'c', 'k'};
  std::string greeting(kFirst, sizeof kFirst);
  greeting.append(kSecond, sizeof kSecond);
  return greeting;
}

void buildGreetingFrame(STRUCT_COMMAND_FORMAT& command) {
  command.clear();
  command.append(kDockReportId);
  for (const char c : dockGreeting()) command.append(static_cast<uint8_t>(c));
  command.append(0x00);
}

void buildReadRequest(STRUCT_COMMAND_FORMAT& command, uint8_t group) {
  command.clear();
  command.append(kDockReportId);
  command.append(kDockReadCommand);
  command.append(group);
}

void buildBlockWriteFrame(STRUCT_COMMAND_FORMAT& command, const STRUCT_GC_CONFIG& config) {
  command.clear();
  command.append(kDockReportId);
  command.append(kDockWriteCommand);
  command.append(kDockBlockGroup);

  // At most 16 bytes, so at most 32 digits are converted.
  const std::string& partId = config.item[kSlot4PARTID];
  uint8_t bytes[kPartIdField] = {};
  const auto digits = static_cast<int32_t>(std::min(partId.size(), kPartIdField * 2));
  const uint32_t n = COrvoDIvivazuv::CharToByte(partId.c_str(), bytes, digits);
  for (uint32_t i = 0; i < n; ++i) command.append(bytes[i]);
  if (n < kPartIdField) {
    command.append(0x00);
    appendFill(command, kPartIdField - 1 - n);
  }
  appendTaggedField(command, "GEN", config.item[kSlotGEN], kGenField);
  appendTaggedField(command, "VER", config.item[kSlotVBIOS], kVbiosField);
}

void buildTextWriteFrame(STRUCT_COMMAND_FORMAT& command, const STRUCT_GC_CONFIG& config) {
  std::string text = "MB:" + config.item[kSlotMBSN] + ";SN:" + config.item[kSlotSSN] +
                     ";PRO:" + config.item[kSlotPROJECT] + ";PNUM:" + config.item[kSlotPARTNUMBER] + ";";
  if (text.size() > kDockTextMax) text.resize(kDockTextMax);
  command.clear();
  command.append(kDockReportId);
  command.append(kDockWriteCommand);
  command.append(kDockTextGroup);
  for (const char c : text) command.append(static_cast<uint8_t>(c));
  command.append(0x00);
}

void decodeBlockGroup(const uint8_t (&response)[kDockResponseSize], STRUCT_GC_CONFIG& config) {
  config.item[kSlot4PARTID] = COrvoDIvivazuv::DecodeDataToString(response, 1, 8, 0);
  config.item[kSlotGEN] = response[kGenLengthAt] > kGenTextMax
                              ? std::string()
                              : COrvoDIvivazuv::DecodeDataToString(response, 2, 1, 20);
  config.item[kSlotVBIOS] = response[kVbiosLengthAt] > kVbiosTextMax
                                ? std::string()
                                : COrvoDIvivazuv::DecodeDataToString(response, 2, 15, 36);
  config.item[kSlotINDEX3] = COrvoDIvivazuv::DecodeDataToString(response, 4, 0, 0);
}

void decodeTextGroup(const uint8_t (&response)[kDockResponseSize], STRUCT_GC_CONFIG& config) {
  std::vector<std::string> pieces;
  SplitString(COrvoDIvivazuv::DecodeDataToString(response, 0, 0, 0), pieces, ";");
  for (const std::string& piece : pieces) {
    std::vector<std::string> parts;
    SplitString(piece, parts, ":");
    if (parts.size() < 2) continue;
    const std::string& label = parts[0];
    const std::string& value = parts[1];
    if (contains(label, "MB")) {
      config.item[kSlotMBSN] = value;
    } else if (contains(label, "SN")) {
      config.item[kSlotSSN] = value;
    } else if (contains(label, "PRO")) {
      config.item[kSlotPROJECT] = value;
    } else if (contains(label, "PNUM")) {
      config.item[kSlotPARTNUMBER] = value;
    }
  }
}

void SplitString(const std::string& s, std::vector<std::string>& v, const std::string& c) {
  if (c.empty()) {
    if (!s.empty()) v.push_back(s);
    return;
  }
  size_t start = 0;
  for (size_t at = s.find(c); at != std::string::npos; at = s.find(c, start)) {
    v.push_back(s.substr(start, at - start));
    start = at + c.size();
  }
  if (start < s.size()) v.push_back(s.substr(start));
}

uint32_t COrvoDIvivazuv::CharToByte(const char* pChar, uint8_t* pByte, int32_t count) {
  if (count <= 0) return 0;
  const auto bytes = static_cast<uint32_t>((count + 1) / 2);
  for (uint32_t i = 0; i < bytes; ++i) {
    const int high = hexValue(pChar[2 * i]);
    const int low = hexValue(pChar[2 * i + 1]);
    pByte[i] = static_cast<uint8_t>((high * 16 + low) % 256);
  }
  return bytes;
}

std::string COrvoDIvivazuv::DecodeDataToString(const uint8_t (&Data)[kDockResponseSize], int32_t mode,
                                               int32_t DataLen, int32_t base) {
  // [from, from + count) cut to the response.
  const auto bytesAt = [&Data](long long from, long long count) {
    if (from < 0 || count <= 0 || from >= kDockResponseSize) return std::string();
    const long long end = std::min<long long>(from + count, kDockResponseSize);
    return std::string(reinterpret_cast<const char*>(Data) + from, static_cast<size_t>(end - from));
  };
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  switch (mode) {
    case 1:
      for (const char c : bytesAt(3, DataLen)) {
        const auto byte = static_cast<unsigned char>(c);
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
      }
      return text;
    case 2:
      return bytesAt(3LL + base, DataLen);
    case 3: {
      text = bytesAt(3LL + base, 1);
      if (!text.empty()) {
        char printed[16];
        std::snprintf(printed, sizeof printed, "%d", static_cast<unsigned char>(text[0]));
        platform::writeStandardOutput(printed);
      }
      return text;
    }
    case 4:
      for (int i = 0; i < 256; ++i) {
        text += ' ';
        text += kDigits[Data[i] >> 4];
        text += kDigits[Data[i] & 0x0F];
      }
      return text;
    default: {
      const auto* start = reinterpret_cast<const char*>(Data) + 3;
      return std::string(start, strnlen(start, kDockResponseSize - 3));
    }
  }
}
