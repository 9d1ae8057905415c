// A device reached by its path and DeviceIoControl (the platform driver).
#include "hardware/device_io.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace hardware::device_io {

void closeDevice(void* native) noexcept { CloseHandle(static_cast<HANDLE>(native)); }

Device open(std::string_view path, uint32_t access, uint32_t share, uint32_t& error) {
  const std::wstring wide = platform::win32::toWide(path);
  HANDLE handle = CreateFileW(wide.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return Device();
  }
  error = 0;
  return Device(handle);
}

bool control(const Device& device, uint32_t code, const void* input, uint32_t inputSize, void* output,
             uint32_t outputSize, uint32_t& returned, uint32_t& error) {
  DWORD count = 0;
  // DeviceIoControl does not write to the input; its prototype is not const.
  const BOOL ok = DeviceIoControl(static_cast<HANDLE>(device.native()), code, const_cast<void*>(input),
                                  inputSize, output, outputSize, &count, nullptr);
  // A driver may claim more than the caller's buffer holds; never pass that on.
  returned = count > outputSize ? outputSize : count;
  error = ok ? 0 : GetLastError();
  return ok != FALSE;
}

}  // namespace hardware::device_io
