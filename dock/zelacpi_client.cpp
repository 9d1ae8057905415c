#include "dock/zelacpi_client.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace device_io = hardware::device_io;

_ORVO_ACPIDEVICE_INFO ZelAcpiDevice;

namespace {

constexpr uint32_t kWmiHeaderSize = 8;  // method ID and argument byte count
constexpr uint32_t kEvalArgumentsAt = 12;
constexpr uint32_t kIntegerArgumentBlock = 8;  // type, length, 4 data bytes

void putU16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void putU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void putU64(uint8_t* at, uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t getU16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }

uint32_t getU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

bool deviceOpen() { return ZelAcpiDevice.device.valid(); }

// The data area of an argument is at least 4 bytes.
uint32_t occupancy(uint16_t dataLength) { return dataLength > 4 ? 4u + dataLength : 8u; }

// Sends one ACPI evaluation and takes argument 0 of the reply as the value.
int32_t evaluate(const uint8_t* input, uint32_t* value) {
  uint8_t output[kAcpiOutputSize] = {};
  uint32_t returned = 0;
  uint32_t error = 0;
  const bool ok = device_io::control(ZelAcpiDevice.device, kIoctlAcpiEvaluate, input, kAcpiInputSent, output,
                                     sizeof output, returned, error);
  uint32_t result = 0;
  uint8_t argument[kAcpiArgumentDestination] = {};
  if (ok && GetAcpiArgument(output, argument, 0, sizeof argument)) result = getU32(argument + 4);
  if (value != nullptr) *value = result;
  return ok ? 1 : 0;
}

// A WMI call with 32-bit arguments whose reply is one 32-bit value.
int32_t wmiInteger(uint32_t method, const uint32_t* arguments, uint32_t argumentCount, uint32_t* value) {
  if (!deviceOpen()) return 0;
  uint8_t input[8] = {};
  for (uint32_t i = 0; i < argumentCount; ++i) putU32(input + 4 * i, arguments[i]);
  uint8_t output[kWmiOutputSize] = {};
  uint32_t outputSize = sizeof output;
  if (!ControlWMIMethod(method, input, 4 * argumentCount, output, &outputSize)) return 0;
  if (value != nullptr) *value = outputSize >= 4 ? getU32(output) : 0;
  return 1;
}

}  // namespace

bool InitializeZELACPIDevice() {
  ZelAcpiDevice.inlineArguments = 1;
  uint32_t error = 0;
  ZelAcpiDevice.device =
      device_io::open(kZelAcpiDevicePath, device_io::kAccessReadWrite, device_io::kShareReadWrite, error);
  return ZelAcpiDevice.device.valid();
}

bool UninitializeZELACPIDevice() {
  if (!deviceOpen()) return false;
  ZelAcpiDevice.device.reset();
  return true;
}

int32_t One_Method_INT(uint32_t method, uint32_t argument, uint32_t* value) {
  if (!deviceOpen()) return 0;
  uint8_t input[kAcpiInputBuffer64Size] = {};
  putU32(input, kAcpiRequestWithArguments);
  putU32(input + 4, method);
  putU32(input + 8, 1);
  putU32(input + 12, kIntegerArgumentBlock);
  // The argument block the address layout points to; it outlives the call.
  uint8_t block[kIntegerArgumentBlock] = {};
  if (ZelAcpiDevice.inlineArguments == 1) {
    putU16(input + 16, 0);  // integer
    putU16(input + 18, 4);
    putU32(input + 20, argument);
  } else {
    putU16(block, 0);
    putU16(block + 2, 4);
    putU32(block + 4, argument);
    putU64(input + 16, reinterpret_cast<uintptr_t>(block));
  }
  return evaluate(input, value);
}

int32_t None_Method(uint32_t method, uint32_t* value) {
  if (!deviceOpen()) return 0;
  uint8_t input[kAcpiInputBufferSize] = {};
  putU32(input, kAcpiRequestWithoutArguments);
  putU32(input + 4, method);
  return evaluate(input, value);  // count, size and address stay 0
}

int32_t Two_WMIMethod_INT(uint32_t method, uint32_t argument0, uint32_t argument1, uint32_t* value) {
  const uint32_t arguments[] = {argument0, argument1};
  return wmiInteger(method, arguments, 2, value);
}

int32_t One_WMIMethod_INT(uint32_t method, uint32_t argument, uint32_t* value) {
  return wmiInteger(method, &argument, 1, value);
}

int32_t None_WMIMethod(uint32_t method, uint32_t* value) {
  const uint32_t zero = 0;
  return wmiInteger(method, &zero, 1, value);
}

int32_t General_WMIMethod_INT(uint32_t method, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                              uint32_t* outputSize) {
  if (!deviceOpen()) return 0;
  return ControlWMIMethod(method, input, inputSize, output, outputSize);
}

int32_t ControlWMIMethod(uint32_t methodId, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                         uint32_t* outputSize) {
  if (!deviceOpen()) return 0;
  if (inputSize > std::numeric_limits<uint32_t>::max() - kWmiHeaderSize ||
      (input == nullptr && inputSize > 0)) {
    return 0;
  }
  std::vector<uint8_t> buffer(inputSize + kWmiHeaderSize);
  putU32(buffer.data(), methodId);
  putU32(buffer.data() + 4, inputSize);
  if (inputSize > 0) std::memcpy(buffer.data() + kWmiHeaderSize, input, inputSize);

  uint8_t received[kWmiOutputSize] = {};
  uint32_t returned = 0;
  uint32_t error = 0;
  const bool ok =
      device_io::control(ZelAcpiDevice.device, kIoctlWmiMethod, buffer.data(),
                         static_cast<uint32_t>(buffer.size()), received, sizeof received, returned, error);
  if (!ok) return 0;
  if (outputSize != nullptr) {
    // A driver that claims more than the receive area is believed only as
    // far as the area goes.
    const uint32_t count = std::min({*outputSize, returned, kWmiOutputSize});
    if (output != nullptr && count > 0) std::memcpy(output, received, count);
    *outputSize = output != nullptr ? count : 0;
  }
  return 1;
}

bool GetAcpiArgument(const uint8_t* output, uint8_t* destination, uint32_t index, uint32_t destinationSize) {
  if (index >= getU32(output + 8)) return false;
  uint32_t offset = kEvalArgumentsAt;
  for (uint32_t skipped = 0; skipped < index; ++skipped) {
    if (offset + 4 > kAcpiOutputSize) return false;
    offset += occupancy(getU16(output + offset + 2));
  }
  if (offset + 4 > kAcpiOutputSize) return false;
  const uint32_t size = occupancy(getU16(output + offset + 2));
  if (size > destinationSize || offset + size > kAcpiOutputSize) return false;
  std::memcpy(destination, output + offset, size);
  return true;
}
