// The log explainer's reader on logs the installer could not have written
// cleanly: cut off, damaged, split at any byte, with foreign lines around.
#include "tools/log_explain/log_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kTwoRuns =
    "garbage from another tool\r\n"
    "[12/7/2026 9:48:52 PM] \r\n"
    "[12/7/2026 9:48:52 PM]=== VBIOS Installer ===\r\n"
    "[12/7/2026 9:48:52 PM]STEP1: read configs\r\n"
    "[12/7/2026 9:48:52 PM]ERROR problem reading configs.txt \r\n"
    "[12/7/2026 9:48:52 PM]VBiosConfigs.readConfigs: configs.txt line 4: '3O0' is not a number\r\n"
    "   untimed continuation of the detail\r\n"
    "[12/7/2026 9:48:52 PM] \r\n"
    "[12/7/2026 9:48:52 PM]state 102\r\n"
    "[07.12.2026 21:50:01] \n"
    "[07.12.2026 21:50:01]=== VBIOS Installer ===\r"
    "[07.12.2026 21:50:01]STEP1: read configs\r\n"
    "[07.12.2026 21:50:02]STEP2: check HWID and set target device\r\n"
    "[07.12.2026 21:50:02]STEP9: Install VBIOS\r\n"
    "[07.12.2026 21:50:03]VbFlashProcess is run";

TEST(LogReader, SplitsRunsAndKeepsWhatSupportNeeds) {
  const kit::LogSummary summary = kit::readInstallationLog(kTwoRuns);
  EXPECT_EQ(summary.lines, 15u);
  EXPECT_EQ(summary.linesBeforeFirstRun, 1u);
  ASSERT_EQ(summary.runs.size(), 2u);

  const kit::LogRun& first = summary.runs[0];
  EXPECT_EQ(first.firstLine, 2u);
  EXPECT_EQ(first.lastLine, 9u);
  EXPECT_EQ(first.started, "12/7/2026 9:48:52 PM");
  EXPECT_EQ(first.finalCode, 102);
  EXPECT_EQ(first.problems, std::vector<std::string>{"ERROR problem reading configs.txt "});

  const kit::LogRun& second = summary.runs[1];
  EXPECT_EQ(second.firstLine, 10u);
  EXPECT_EQ(second.started, "07.12.2026 21:50:01");
  EXPECT_EQ(second.steps.size(), 3u);
  EXPECT_FALSE(second.finalCode.has_value());
  EXPECT_TRUE(second.partialLastLine);
}

TEST(LogReader, ReadsTheSameWhateverPiecesItIsFedIn) {
  const kit::LogSummary whole = kit::readInstallationLog(kTwoRuns);
  for (size_t piece : {1u, 2u, 3u, 7u, 64u}) {
    kit::LogReader reader;
    for (size_t at = 0; at < kTwoRuns.size(); at += piece)
      reader.feed(std::string_view(kTwoRuns).substr(at, piece));
    const kit::LogSummary pieces = reader.finish();
    EXPECT_EQ(kit::explainLog(pieces), kit::explainLog(whole)) << "pieces of " << piece;
  }
}

TEST(LogReader, LongAndDamagedLinesAreBoundedAndVisible) {
  std::string log = "[1/1/2026 1:00:00 AM]=== VBIOS Installer ===\r\n[1/1/2026 1:00:00 AM]ERROR ";
  log += std::string(100000, 'x') + "\r\n[1/1/2026 1:00:00 AM]ERROR bad \xFF\x01 byte\r\n";
  log += "[1/1/2026 1:00:00 AM]state 3021\r\n";
  const kit::LogSummary summary = kit::readInstallationLog(log);
  ASSERT_EQ(summary.runs.size(), 1u);
  const kit::LogRun& run = summary.runs[0];
  ASSERT_EQ(run.problems.size(), 2u);
  EXPECT_EQ(run.problems[0].size(), kit::LogReader::kMaxKeptLine + 3);
  EXPECT_EQ(run.problems[1], "ERROR bad \xEF\xBF\xBD\\x01 byte");
  EXPECT_EQ(run.finalCode, 3021);
}

}  // namespace
