#include "platform/registry.h"

#include <windows.h>

#include <new>
#include <string>

#include "platform/registry_value.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

// "HKEY_LOCAL_MACHINE\SOFTWARE\Orvo" -> L"SOFTWARE\Orvo".
bool subkeyOf(std::string_view key, std::wstring& subkey) {
  std::string_view rest;
  if (!machineSubkey(key, rest)) return false;
  subkey = win32::toWide(rest);
  return true;
}

std::string describe(const char* function, std::string_view key, std::string_view name) {
  std::string text(function);
  text += ' ';
  text += key;
  if (!name.empty()) {
    text += " \"";
    text += name;
    text += '"';
  }
  return text;
}

Error writeValue(std::string_view key, std::string_view name, DWORD type, const void* data, DWORD bytes) {
  std::wstring subkey;
  if (!subkeyOf(key, subkey)) return makeError(kErrorInvalidParameter, describe("RegCreateKeyExW", key, {}));
  win32::ScopedRegistryKey handle;
  LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, handle.receive(), nullptr);
  if (status != ERROR_SUCCESS)
    return makeError(static_cast<uint32_t>(status), describe("RegCreateKeyExW", key, {}));
  status = RegSetValueExW(handle.get(), win32::toWide(name).c_str(), 0, type, static_cast<const BYTE*>(data),
                          bytes);
  if (status != ERROR_SUCCESS)
    return makeError(static_cast<uint32_t>(status), describe("RegSetValueExW", key, name));
  return {};
}

}  // namespace

RegistryString readRegistryString(std::string_view key, std::string_view name) {
  RegistryString result;
  try {
    std::wstring subkey;
    if (!subkeyOf(key, subkey)) {
      result.error = makeError(kErrorInvalidParameter, describe("RegOpenKeyExW", key, {}));
      return result;
    }
    win32::ScopedRegistryKey handle;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                                   handle.receive());
    if (status != ERROR_SUCCESS) {
      result.status = status == ERROR_FILE_NOT_FOUND ? RegistryStatus::KeyMissing : RegistryStatus::Failed;
      result.error = makeError(static_cast<uint32_t>(status), describe("RegOpenKeyExW", key, {}));
      return result;
    }

    const std::wstring valueName = win32::toWide(name);
    std::string data;
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    // The value may change between asking for its size and reading it; a
    // few rounds settle that, an endlessly growing value is a failure.
    for (int round = 0;; ++round) {
      status = RegQueryValueExW(handle.get(), valueName.c_str(), nullptr, &type, nullptr, &bytes);
      if (status == ERROR_SUCCESS) {
        if (bytes > kMaxRegistryValueBytes) {
          result.error = makeError(kErrorInvalidData, describe("RegQueryValueExW", key, name));
          return result;
        }
        // One spare byte so the buffer is never empty.
        data.assign(bytes + 1, '\0');
        DWORD capacity = static_cast<DWORD>(data.size());
        status = RegQueryValueExW(handle.get(), valueName.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &capacity);
        if (status == ERROR_SUCCESS) {
          data.resize(capacity);
          break;
        }
      }
      if (status == ERROR_FILE_NOT_FOUND) {
        result.status = RegistryStatus::ValueMissing;
        result.error = makeError(kErrorFileNotFound, describe("RegQueryValueExW", key, name));
        return result;
      }
      if (status != ERROR_MORE_DATA || round >= 3) {
        result.error = makeError(static_cast<uint32_t>(status), describe("RegQueryValueExW", key, name));
        return result;
      }
    }

    if (const uint32_t code = registryValueText(type, data, result.value); code != 0) {
      result.error = makeError(code, describe("RegQueryValueExW", key, name));
      return result;
    }
    result.status = RegistryStatus::Ok;
    return result;
  } catch (const std::bad_alloc&) {
    result = RegistryString{};
    result.error.code = ERROR_NOT_ENOUGH_MEMORY;
    return result;
  }
}

Error writeRegistryDword(std::string_view key, std::string_view name, uint32_t value) {
  try {
    const DWORD data = value;
    return writeValue(key, name, REG_DWORD, &data, sizeof data);
  } catch (const std::bad_alloc&) {
    return makeError(ERROR_NOT_ENOUGH_MEMORY, "RegSetValueExW");
  }
}

Error writeRegistryString(std::string_view key, std::string_view name, std::string_view value) {
  try {
    const std::wstring data = win32::toWide(value);
    // Stored with its terminating NUL, as the system's own writers do.
    const size_t bytes = (data.size() + 1) * sizeof(wchar_t);
    if (bytes > kMaxRegistryValueBytes)
      return makeError(kErrorInvalidParameter, describe("RegSetValueExW", key, name));
    return writeValue(key, name, REG_SZ, data.c_str(), static_cast<DWORD>(bytes));
  } catch (const std::bad_alloc&) {
    return makeError(ERROR_NOT_ENOUGH_MEMORY, "RegSetValueExW");
  }
}

}  // namespace platform
