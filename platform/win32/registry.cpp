#include "platform/registry.h"

#include <windows.h>

#include <cstring>
#include <new>
#include <string>

#include "platform/ascii_text.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

// No value this program reads or writes comes near this; a larger one is
// refused instead of trusted with an allocation.
constexpr DWORD kMaxValueBytes = 64 * 1024;

constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";

// "HKEY_LOCAL_MACHINE\SOFTWARE\Orvo" -> L"SOFTWARE\Orvo". Only the machine
// hive is ever used, so any other root is a caller's mistake.
bool subkeyOf(std::string_view key, std::wstring& subkey) {
  if (key.size() < kRootName.size() || !equalsIgnoringAsciiCase(key.substr(0, kRootName.size()), kRootName)) {
    return false;
  }
  std::string_view rest = key.substr(kRootName.size());
  if (!rest.empty() && rest.front() != '\\') return false;
  while (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
  while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
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

// The text of REG_SZ data; the terminating NUL is stored by most writers but
// not all, and an odd trailing byte cannot be part of a UTF-16 text.
std::string textOf(const std::wstring& data) {
  std::wstring_view text(data);
  if (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
  return win32::toUtf8(text);
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
    std::wstring data;
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    // The value may change between asking for its size and reading it; a
    // few rounds settle that, an endlessly growing value is a failure.
    for (int round = 0;; ++round) {
      status = RegQueryValueExW(handle.get(), valueName.c_str(), nullptr, &type, nullptr, &bytes);
      if (status == ERROR_SUCCESS) {
        if (bytes > kMaxValueBytes) {
          result.error = makeError(kErrorInvalidData, describe("RegQueryValueExW", key, name));
          return result;
        }
        // Whole UTF-16 units, plus one spare so the buffer is never empty.
        data.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD capacity = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        status = RegQueryValueExW(handle.get(), valueName.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &capacity);
        if (status == ERROR_SUCCESS) {
          bytes = capacity;
          break;
        }
      }
      if (status == ERROR_FILE_NOT_FOUND) {
        result.status = RegistryStatus::ValueMissing;
        return result;
      }
      if (status != ERROR_MORE_DATA || round >= 3) {
        result.error = makeError(static_cast<uint32_t>(status), describe("RegQueryValueExW", key, name));
        return result;
      }
    }

    switch (type) {
      case REG_SZ:
      case REG_EXPAND_SZ:
        data.resize(bytes / sizeof(wchar_t));
        result.value = textOf(data);
        break;
      case REG_DWORD: {
        if (bytes != sizeof(DWORD)) {
          result.error = makeError(kErrorInvalidData, describe("RegQueryValueExW", key, name));
          return result;
        }
        DWORD number = 0;
        memcpy(&number, data.data(), sizeof number);
        result.value = std::to_string(number);
        break;
      }
      case REG_QWORD: {
        if (bytes != sizeof(unsigned long long)) {
          result.error = makeError(kErrorInvalidData, describe("RegQueryValueExW", key, name));
          return result;
        }
        unsigned long long number = 0;
        memcpy(&number, data.data(), sizeof number);
        result.value = std::to_string(number);
        break;
      }
      default:
        // Binary and multi-string data have no single text form the callers
        // could compare; reporting it beats inventing one.
        result.error = makeError(kErrorInvalidData, describe("RegQueryValueExW", key, name));
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
    if (bytes > kMaxValueBytes)
      return makeError(kErrorInvalidParameter, describe("RegSetValueExW", key, name));
    return writeValue(key, name, REG_SZ, data.c_str(), static_cast<DWORD>(bytes));
  } catch (const std::bad_alloc&) {
    return makeError(ERROR_NOT_ENOUGH_MEMORY, "RegSetValueExW");
  }
}

}  // namespace platform
