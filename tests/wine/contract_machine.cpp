// The contract tests' machine under Wine: a scratch folder named by
// OVVB_MACHINE, which the stand-ins built beside wine_tests.exe read, and a
// test key of the real registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "platform/files.h"
#include "tests/contract/machine.h"
#include "tests/wine/wine_test_support.h"

namespace contract {

constexpr const wchar_t* kTestSubkey = L"SOFTWARE\\OrvoContractTest";

struct Machine::Impl {
  winetest::TemporaryFolder root;
  winetest::ScopedMachineRoot named{root.path()};
  std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvoContractTest";
};

Machine::Machine() : impl_(std::make_unique<Impl>()) { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestSubkey); }
Machine::~Machine() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestSubkey); }

void Machine::writeMachineIni(std::string_view text) const {
  const std::string ini = "[time]\nscale = 0\n" + std::string(text);
  const platform::Error error = platform::writeFileAtomic(impl_->root.file("machine.ini"), ini);
  if (error.failed()) ADD_FAILURE() << error.operation << ": " << error.message;
}

std::string Machine::tool(std::string_view name) { return winetest::binProgram(std::string(name).c_str()); }

std::string Machine::file(std::string_view name) const { return impl_->root.file(name); }

std::vector<std::string> Machine::names(std::string_view folder) const {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(platform::win32::toWide(file(folder)), error))
    names.push_back(platform::win32::toUtf8(entry.path().filename().wstring()));
  std::sort(names.begin(), names.end());
  return names;
}

void Machine::setReadOnly(std::string_view name, bool readOnly) const {
  const DWORD attributes = readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
  if (!SetFileAttributesW(platform::win32::toWide(file(name)).c_str(), attributes))
    ADD_FAILURE() << "SetFileAttributesW " << file(name) << ": " << GetLastError();
}

std::shared_ptr<void> Machine::holdAgainstWriters(std::string_view name) const {
  HANDLE held = CreateFileW(platform::win32::toWide(file(name)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(held, INVALID_HANDLE_VALUE) << name << ": " << GetLastError();
  return std::shared_ptr<void>(held, [](void* handle) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  });
}

const std::string& Machine::registryKey() const { return impl_->key; }

void Machine::writeRawRegistryValue(std::string_view name, uint32_t type, std::string_view bytes) const {
  EXPECT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kTestSubkey, platform::win32::toWide(name).c_str(), type,
                            bytes.data(), static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
}

}  // namespace contract
