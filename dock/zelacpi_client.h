// The client of the platform driver \\.\ZELACPI: ACPI method evaluation
// (control code 0x00222404) and WMI method calls (0x0022240C). All layouts
// are little-endian; method names are four ASCII characters, the first in
// the lowest byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hardware/device_io.h"

inline constexpr const char* kZelAcpiDevicePath = "\\\\.\\ZELACPI";
inline constexpr uint32_t kIoctlAcpiEvaluate = 0x00222404;  // device type 0x22, function 0x901, buffered
inline constexpr uint32_t kIoctlWmiMethod = 0x0022240C;     // function 0x903

inline constexpr uint32_t methodName(const char (&name)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(name[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(name[3])) << 24;
}

// Input layouts, as the driver reads them.
inline constexpr size_t kAcpiInputBuffer64Size = 144;  // _ORVO_ACPI_INPUT_BUFFER64: inline arguments
inline constexpr size_t kAcpiInputSent = 24;           // what a call with one integer argument sends
inline constexpr size_t kAcpiInputBufferSize = 24;     // _ORVO_ACPI_INPUT_BUFFER: argument address
inline constexpr uint32_t kAcpiOutputSize = 768;       // _ACPI_EVAL_OUTPUT_BUFFER as the caller supplies it
inline constexpr uint32_t kWmiOutputSize = 1024;
inline constexpr uint32_t kAcpiRequestWithoutArguments = 1;
inline constexpr uint32_t kAcpiRequestWithArguments = 2;
inline constexpr size_t kAcpiArgumentDestination = 100;

// The process-wide device record.
struct _ORVO_ACPIDEVICE_INFO {
  hardware::device_io::Device device;  // not open until InitializeZELACPIDevice
  int32_t inlineArguments = 0;         // 1: ACPI methods with arguments use the inline layout
};
extern _ORVO_ACPIDEVICE_INFO ZelAcpiDevice;

bool InitializeZELACPIDevice();
bool UninitializeZELACPIDevice();

// The ACPI calls: value receives argument 0 of the output as a 32-bit value,
// or 0. The result is the control call's success (non-zero) or 0.
int32_t One_Method_INT(uint32_t method, uint32_t argument, uint32_t* value);
int32_t None_Method(uint32_t method, uint32_t* value);

// The WMI calls: on success value receives the first 4 output bytes (0 when
// fewer came back) and the result is 1; on failure 0, value unchanged.
int32_t Two_WMIMethod_INT(uint32_t method, uint32_t argument0, uint32_t argument1, uint32_t* value);
int32_t One_WMIMethod_INT(uint32_t method, uint32_t argument, uint32_t* value);
int32_t None_WMIMethod(uint32_t method, uint32_t* value);
int32_t General_WMIMethod_INT(uint32_t method, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                              uint32_t* outputSize);

// The transport of every WMI call: copies at most *outputSize bytes, never
// more than the driver returned, and stores the count in *outputSize.
int32_t ControlWMIMethod(uint32_t methodId, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                         uint32_t* outputSize);

// Copies argument `index` (type, length and data) of a 768-byte ACPI output
// buffer to `destination`. False when the output has no such argument, when
// it does not fit `destinationSize`, or when the counts and lengths in the
// output would lead past its 768 bytes.
bool GetAcpiArgument(const uint8_t* output, uint8_t* destination, uint32_t index, uint32_t destinationSize);
