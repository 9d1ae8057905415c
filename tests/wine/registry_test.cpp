// What the win32 registry backend stores, as the system's own tools read it
// (what every backend promises is tests/contract/registry_contract_test.cpp).
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "tests/contract/machine.h"

namespace {

// Stored as REG_SZ with its terminating NUL, as the system's tools expect.
TEST(Registry, TextIsStoredAsTerminatedRegSz) {
  contract::Machine machine;
  ASSERT_FALSE(platform::writeRegistryString(machine.registryKey(), "ToolVersion", "9.2").failed());
  wchar_t data[16] = {};
  DWORD type = 0;
  DWORD bytes = sizeof data;
  ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OrvoContractTest", L"ToolVersion",
                         RRF_RT_ANY | RRF_NOEXPAND, &type, data, &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, 4 * sizeof(wchar_t));
}

}  // namespace
