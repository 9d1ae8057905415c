// The program's folder and its environment through the real API (files:
// tests/contract/files_contract_test.cpp).
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/files.h"
#include "tests/wine/wine_test_support.h"

namespace {

TEST(Paths, ProgramFolderAndEnvironment) {
  const std::string folder = platform::programFolder();
  ASSERT_GE(folder.size(), 3u);
  EXPECT_EQ(folder[1], ':') << folder;
  EXPECT_NE(folder.back(), '\\');
  EXPECT_TRUE(platform::directoryExists(folder));
  EXPECT_TRUE(platform::fileExists(winetest::binProgram("echo_args.exe")));

  // Longer than any first guess of a buffer, and not ASCII.
  const std::string value = std::string(3000, 'p') + "ß日";
  {
    winetest::ScopedEnvironment set("OVVB_WINE_TEST_VALUE", value);
    EXPECT_EQ(platform::environmentVariable("OVVB_WINE_TEST_VALUE"), value);
  }
  EXPECT_EQ(platform::environmentVariable("OVVB_WINE_TEST_VALUE"), "");
}

}  // namespace
