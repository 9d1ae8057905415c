// A device reached by its device path and DeviceIoControl, such as the
// platform driver's \\.\ZELACPI. The client logic (layouts, control codes,
// what a reply means) lives in dock/; this layer only reaches the OS.
//
// win32: CreateFileW and DeviceIoControl. sim: the [acpi] platform-driver
// emulator of machine.ini.
#pragma once

#include <cstdint>
#include <string_view>

#include "hardware/native_owner.h"

namespace hardware::device_io {

// CreateFileW's desired access and share mode.
inline constexpr uint32_t kAccessReadWrite = 0xC0000000u;  // GENERIC_READ | GENERIC_WRITE
inline constexpr uint32_t kShareReadWrite = 3;             // FILE_SHARE_READ | FILE_SHARE_WRITE

// An open device (a file HANDLE on win32). Move-only; closed exactly once.
void closeDevice(void* native) noexcept;  // backend: CloseHandle
using Device = NativeOwner<closeDevice>;

// CreateFileW(path, access, share, no security, OPEN_EXISTING, no special
// attributes, no template). On failure the result is not valid and `error`
// holds GetLastError.
Device open(std::string_view path, uint32_t access, uint32_t share, uint32_t& error);

// DeviceIoControl(device, code, input, inputSize, output, outputSize,
// &returned, no overlapped record). `returned` is the driver's byte count,
// never more than `outputSize`. On failure `error` holds GetLastError.
bool control(const Device& device, uint32_t code, const void* input, uint32_t inputSize, void* output,
             uint32_t outputSize, uint32_t& returned, uint32_t& error);

}  // namespace hardware::device_io
