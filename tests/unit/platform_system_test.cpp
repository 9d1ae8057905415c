#include <gtest/gtest.h>

#include <chrono>

#include "platform/system.h"
#include "tests/unit/test_machine.h"

namespace {

using testing_machine::TestMachine;

TEST(SleepMs, RecordsTheRequestAndWaitsTheScaledTime) {
  TestMachine machine;
  machine.writeMachineIni("[time]\nscale = 0\n");
  auto started = std::chrono::steady_clock::now();
  platform::sleepMs(90000);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
  machine.writeMachineIni("[time]\nscale = 0.5\n");
  started = std::chrono::steady_clock::now();
  platform::sleepMs(100);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(50));
  const auto trace = machine.traceLines();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0], "{\"event\":\"sleep\",\"ms\":90000}");
  EXPECT_EQ(trace[1], "{\"event\":\"sleep\",\"ms\":100}");
}

TEST(UserCulture, ComesFromTheMachineAndPicksTheLogStamp) {
  TestMachine machine;
  EXPECT_EQ(platform::userLcid(), 1033u);
  machine.writeMachineIni("[user]\nlcid = 1031\n");
  EXPECT_EQ(platform::userLcid(), 1031u);
  EXPECT_EQ(platform::logTimestamp({2026, 12, 7, 21, 48, 52}), "07.12.2026 21:48:52");
  machine.writeMachineIni("[user]\nlcid = 0x0411\n");
  EXPECT_EQ(platform::userLcid(), 1041u);
  machine.writeMachineIni("[user]\nlcid = german\n");
  EXPECT_EQ(platform::userLcid(), 1033u);
  const platform::LocalTime now = platform::localNow();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31 && now.hour < 24);
}

}  // namespace
