// Firmware of our own for the simulated dock controller. It speaks the
// configuration protocol of the dock client: feature report 0x5E, a greeting
// that unlocks it, read requests (0xCE) and group writes (0xCF) for the
// block group (0x03) and the text group (0x01). Its items live in [dock]
// block and [dock] text of machine.ini and are written back atomically.
//
// It is deliberately strict: a frame whose layout or 0xFF fill is not what
// the client must send is refused, so a test sees a transport or client
// fault as a failed exchange rather than as silently stored garbage.
#include "hardware/sim/dock_controller.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "hardware/sim/hex_bytes.h"
#include "platform/ascii_text.h"
#include "platform/error.h"

namespace hardware::sim {
namespace {

constexpr uint8_t kReportId = 0x5E;
constexpr uint8_t kReadCommand = 0xCE;
constexpr uint8_t kWriteCommand = 0xCF;
constexpr uint8_t kBlockGroup = 0x03;
constexpr uint8_t kTextGroup = 0x01;
constexpr size_t kBlockSize = 64;   // offsets 3..66 of the frames
constexpr size_t kFieldsStart = 3;  // first byte after report ID, command and group

// The unlock text this firmware expects after the report ID.
constexpr char kGreeting[] = "DockCfg-Unlock";
constexpr size_t kGreetingLength = sizeof kGreeting - 1;

// A stalled control transfer: what the class driver reports when the
// device refuses a report.
constexpr uint32_t kDeviceRefused = platform::kErrorGenericFailure;

// What the firmware keeps in RAM: cleared by power-on, which for the
// simulated machine means a new machine root or a new process.
struct Ram {
  bool greeted = false;
  std::vector<uint8_t> response;  // the report a get returns, report ID first
};

std::mutex ramMutex;
std::map<std::string, Ram> ramByDevice;

Ram& ramOf(std::string_view path) {
  return ramByDevice[simulated::machineRoot() + '\n' + platform::lowerAscii(path)];
}

bool allFill(const uint8_t* bytes, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (bytes[i] != 0xFF) return false;
  }
  return true;
}

// Counts one of the next N failures down and writes the rest back; true
// when this exchange is to fail.
bool takeFailure(const simulated::MachineIni& ini, const char* key) {
  const long long left = ini.getInt("dock", key, 0);
  if (left <= 0) return false;
  simulated::MachineIni::update("dock", key, std::to_string(left - 1));
  return true;
}

std::vector<uint8_t> storedBlock(const simulated::MachineIni& ini) {
  std::vector<uint8_t> block = parseHexBytes(ini.get("dock", "block", ""));
  block.resize(kBlockSize, 0xFF);  // an empty or short block reads as erased
  return block;
}

// A text that machine.ini would read back unchanged is kept as it is;
// anything else (blanks at an end, a comment character after a blank,
// control bytes) as "hex:" and its bytes.
bool keepsLiterally(std::string_view text) {
  if (text.empty()) return true;
  if (text.front() == ' ' || text.back() == ' ' || text.front() == ';' || text.front() == '#') return false;
  if (text.substr(0, 4) == "hex:") return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F || c == '\t') return false;
    if ((c == ';' || c == '#') && text[i - 1] == ' ') return false;
  }
  return true;
}

std::string encodeText(std::string_view text) {
  if (keepsLiterally(text)) return std::string(text);
  return "hex:" + hexBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string storedText(const simulated::MachineIni& ini) {
  const std::string value = ini.get("dock", "text", "");
  if (value.substr(0, 4) != "hex:") return value;
  const std::vector<uint8_t> bytes = parseHexBytes(std::string_view(value).substr(4));
  return std::string(bytes.begin(), bytes.end());
}

// A GEN or VBIOS field is either erased (all 0xFF) or its tag, a length
// within the field, the text and 0xFF up to the field's end.
bool validTaggedField(const uint8_t* field, size_t size, const char* tag) {
  if (allFill(field, 0, size)) return true;
  if (std::memcmp(field, tag, 3) != 0) return false;
  const size_t length = field[3];
  if (length < 1 || length > size - 4) return false;
  return allFill(field, 4 + length, size);
}

bool validBlock(const uint8_t* block) {
  return validTaggedField(block + 16, 16, "GEN") && validTaggedField(block + 32, 32, "VER");
}

std::vector<uint8_t> responseFor(uint8_t group, const simulated::MachineIni& ini, size_t reportLength) {
  std::vector<uint8_t> response(reportLength, 0xFF);
  const uint8_t head[] = {kReportId, kReadCommand, group};
  std::copy_n(head, std::min(sizeof head, reportLength), response.begin());
  if (reportLength <= kFieldsStart) return response;
  const size_t room = reportLength - kFieldsStart;
  if (group == kBlockGroup) {
    const std::vector<uint8_t> block = storedBlock(ini);
    std::copy_n(block.begin(), std::min(block.size(), room), response.begin() + kFieldsStart);
  } else {
    // The text and its NUL, cut where the report ends.
    std::string text = storedText(ini);
    text.push_back('\0');
    std::copy_n(text.begin(), std::min(text.size(), room), response.begin() + kFieldsStart);
  }
  return response;
}

bool isGreeting(const uint8_t* frame, size_t length) {
  if (length < kGreetingLength + 2) return false;
  return std::memcmp(frame + 1, kGreeting, kGreetingLength) == 0 && frame[kGreetingLength + 1] == 0x00 &&
         allFill(frame, kGreetingLength + 2, length);
}

bool storeBlock(const uint8_t* frame, size_t length) {
  // A block cut short by a small report would leave the controller with
  // half an old and half a new block: refused.
  if (length < kFieldsStart + kBlockSize) return false;
  const uint8_t* block = frame + kFieldsStart;
  if (!validBlock(block) || !allFill(frame, kFieldsStart + kBlockSize, length)) return false;
  return simulated::MachineIni::update("dock", "block", hexBytes(block, kBlockSize));
}

bool storeText(const uint8_t* frame, size_t length) {
  const auto* text = reinterpret_cast<const char*>(frame + kFieldsStart);
  const size_t room = length - kFieldsStart;
  const size_t textLength = strnlen(text, room);
  if (textLength < room && !allFill(frame, kFieldsStart + textLength + 1, length)) return false;
  return simulated::MachineIni::update("dock", "text", encodeText(std::string_view(text, textLength)));
}

// One command frame of `length` bytes from an unlocked controller.
bool runCommand(const uint8_t* frame, size_t length, const simulated::MachineIni& ini, Ram& ram) {
  if (length < 3) return false;
  const uint8_t command = frame[1];
  const uint8_t group = frame[2];
  if (group != kBlockGroup && group != kTextGroup) return false;
  if (command == kReadCommand) {
    if (!allFill(frame, 3, length)) return false;
    ram.response = responseFor(group, ini, length);
    return true;
  }
  if (command != kWriteCommand) return false;
  // [dock] writes_left: a controller that takes only so many more writes
  // (counts down, written back; absent or negative means no limit).
  const long long writesLeft = ini.getInt("dock", "writes_left", -1);
  if (writesLeft == 0) return false;
  const bool stored = group == kBlockGroup ? storeBlock(frame, length) : storeText(frame, length);
  if (stored && writesLeft > 0)
    simulated::MachineIni::update("dock", "writes_left", std::to_string(writesLeft - 1));
  return stored;
}

// The class driver's checks (the device has feature report 0x5E only, and
// the caller's buffer must hold the whole report), then a configured
// failure. On the way on, `error` holds what a refusal by the device gives.
bool passesClassDriver(const simulated::MachineIni& ini, const char* failKey, const uint8_t* report,
                       uint32_t length, uint16_t reportLength, uint32_t& error) {
  if (reportLength == 0 || length < reportLength || report[0] != kReportId) {
    error = platform::kErrorInvalidParameter;
    return false;
  }
  error = kDeviceRefused;
  return !takeFailure(ini, failKey);
}

}  // namespace

std::string dockPath(const simulated::MachineIni& ini) {
  return ini.get("dock", "path", std::string(kDockDefaultPath));
}

uint16_t dockFeatureReportLength(const simulated::MachineIni& ini) {
  const long long length = ini.getInt("dock", "feature_report_length", 300);
  return static_cast<uint16_t>(std::clamp(length, 0LL, 0xFFFFLL));
}

bool dockSetFeature(std::string_view path, const uint8_t* report, uint32_t length, uint32_t& error) {
  const simulated::MachineIni ini = simulated::MachineIni::load();
  const uint16_t reportLength = dockFeatureReportLength(ini);
  if (!passesClassDriver(ini, "fail_sets", report, length, reportLength, error)) return false;

  const std::lock_guard<std::mutex> lock(ramMutex);
  Ram& ram = ramOf(path);
  if (isGreeting(report, reportLength)) {
    if (platform::lowerAscii(ini.get("dock", "greeting", "accept")) == "reject") return false;
    ram.greeted = true;
    error = 0;
    return true;
  }
  if (!ram.greeted || !runCommand(report, reportLength, ini, ram)) return false;
  error = 0;
  return true;
}

bool dockGetFeature(std::string_view path, uint8_t* report, uint32_t length, uint32_t& error) {
  const simulated::MachineIni ini = simulated::MachineIni::load();
  const uint16_t reportLength = dockFeatureReportLength(ini);
  if (!passesClassDriver(ini, "fail_gets", report, length, reportLength, error)) return false;

  const std::lock_guard<std::mutex> lock(ramMutex);
  Ram& ram = ramOf(path);
  if (!ram.greeted) return false;
  // Before any read request the controller answers with an empty report.
  std::vector<uint8_t> response = ram.response;
  response.resize(reportLength, 0x00);
  response[0] = kReportId;
  std::copy(response.begin(), response.end(), report);
  error = 0;
  return true;
}

}  // namespace hardware::sim
