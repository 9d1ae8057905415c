// A platform driver of our own: it evaluates DSTS and calls DEVS as [acpi]
// of machine.ini says, and refuses every input whose layout is not one the
// real driver documents, so a client fault shows up as a failed call.
#include "hardware/sim/platform_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/error.h"
#include "simulated/machine.h"

namespace hardware::sim {
namespace {

constexpr uint32_t kMethodDsts = 0x53545344;  // "DSTS"
constexpr uint32_t kMethodDevs = 0x53564544;  // "DEVS"
constexpr uint32_t kHostPcieLink = 0x0006005B;
constexpr uint32_t kGen4 = 0x00010004;
constexpr uint32_t kSwitchToGen4 = 4;

constexpr uint32_t kAcpiInputSize = 24;
constexpr uint32_t kAcpiOutputSize = 768;
constexpr uint32_t kWmiOutputSize = 1024;
constexpr uint32_t kRequestWithoutArguments = 1;
constexpr uint32_t kRequestWithArguments = 2;
constexpr uint32_t kEvalOutputSignature = 0x426F6541;  // "AeoB", ACPI_EVAL_OUTPUT_BUFFER_SIGNATURE
constexpr uint32_t kEvalOutputHeader = 12;
constexpr uint32_t kIntegerArgumentSize = 8;

uint32_t u32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint16_t u16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

void putU32(uint8_t* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// An integer argument: type 0, data length 4, then the value.
bool integerArgument(const uint8_t* argument, uint32_t& value) {
  if (u16(argument) != 0 || u16(argument + 2) != 4) return false;
  value = u32(argument + 4);
  return true;
}

// The one argument of a request with arguments, inline or by address.
bool requestArgument(const uint8_t* input, uint32_t& value) {
  if (u32(input + 8) != 1 || u32(input + 12) != kIntegerArgumentSize) return false;
  if (integerArgument(input + 16, value)) return true;
  // Not an inline integer: the address layout, whose 8 bytes at offset 16
  // point to the argument block. Only this process's own client sends it,
  // so the block is readable here as it would be for the driver.
  uint64_t address = 0;
  std::memcpy(&address, input + 16, sizeof address);
  if (address == 0) return false;
  uint8_t block[kIntegerArgumentSize];
  std::memcpy(block, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), sizeof block);
  return integerArgument(block, value);
}

bool evaluateAcpi(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t outputSize,
                  uint32_t& returned, uint32_t& error) {
  error = platform::kErrorInvalidParameter;
  if (inputSize != kAcpiInputSize || outputSize != kAcpiOutputSize) return false;
  const uint32_t kind = u32(input);
  const uint32_t method = u32(input + 4);
  uint32_t argument = 0;
  if (kind == kRequestWithArguments) {
    if (!requestArgument(input, argument)) return false;
  } else if (kind == kRequestWithoutArguments) {
    uint8_t zeros[12] = {};
    if (std::memcmp(input + 8, zeros, sizeof zeros) != 0) return false;
  } else {
    return false;
  }
  error = platform::kErrorInvalidFunction;
  if (method != kMethodDsts || kind != kRequestWithArguments || argument != kHostPcieLink) return false;

  const simulated::MachineIni ini = simulated::MachineIni::load();
  const uint32_t status = static_cast<uint32_t>(ini.getInt("acpi", "dsts", 0x00010003));
  const long long maxArguments = (kAcpiOutputSize - kEvalOutputHeader) / kIntegerArgumentSize;
  const auto count = static_cast<uint32_t>(std::clamp(ini.getInt("acpi", "dsts_args", 1), 0LL, maxArguments));
  returned = kEvalOutputHeader + count * kIntegerArgumentSize;
  std::memset(output, 0, outputSize);
  putU32(output, kEvalOutputSignature);
  putU32(output + 4, returned);
  putU32(output + 8, count);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* argumentAt = output + kEvalOutputHeader + i * kIntegerArgumentSize;
    argumentAt[2] = 4;  // type 0 (integer), data length 4
    putU32(argumentAt + 4, i == 0 ? status : 0);
  }
  error = 0;
  return true;
}

bool callWmi(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t outputSize,
             uint32_t& returned, uint32_t& error) {
  error = platform::kErrorInvalidParameter;
  if (inputSize < 8 || outputSize != kWmiOutputSize || u32(input + 4) != inputSize - 8) return false;
  error = platform::kErrorInvalidFunction;
  if (u32(input) != kMethodDevs || inputSize != 16 || u32(input + 8) != kHostPcieLink ||
      u32(input + 12) != kSwitchToGen4) {
    return false;
  }
  const simulated::MachineIni ini = simulated::MachineIni::load();
  const auto reply = static_cast<uint32_t>(ini.getInt("acpi", "devs_reply", 1));
  returned = static_cast<uint32_t>(std::clamp(ini.getInt("acpi", "devs_reply_bytes", 4), 0LL, 1024LL));
  std::memset(output, 0, outputSize);
  uint8_t replyBytes[4];
  putU32(replyBytes, reply);
  std::memcpy(output, replyBytes, std::min<uint32_t>(returned, 4));
  if (reply == 1) {
    char gen4[16];
    std::snprintf(gen4, sizeof gen4, "0x%08X", kGen4);
    simulated::MachineIni::update("acpi", "dsts", gen4);
  }
  error = 0;
  return true;
}

}  // namespace

bool platformDriverControl(uint32_t code, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                           uint32_t outputSize, uint32_t& returned, uint32_t& error) {
  returned = 0;
  if (input == nullptr || output == nullptr) {
    error = platform::kErrorInvalidParameter;
    return false;
  }
  if (code == kAcpiEvaluateCode) return evaluateAcpi(input, inputSize, output, outputSize, returned, error);
  if (code == kWmiCallCode) return callWmi(input, inputSize, output, outputSize, returned, error);
  error = platform::kErrorInvalidFunction;
  return false;
}

}  // namespace hardware::sim
