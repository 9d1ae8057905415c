// The result code table held to the installer's published contract: every
// code a run can end with, written out by hand here, so that a wrong row of
// the table (which the installer's exits and the end-to-end checks both
// follow) fails rather than being agreed with.
#include "common/result_code_table.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "common/result_codes.h"

namespace {

using result::ExitPath;
using enum result::ExitPath;

struct Golden {
  int32_t code;
  ExitPath exit;
  bool removesDriver;
  bool asksRestart;  // only read for the completion exit
};

// Code, exit, the flash tool's driver removed before that exit, and whether
// the restart dialog asks to restart.
constexpr Golden kGolden[] = {
    {0, Completion, true, true},
    {1, Completion, true, false},
    {101, Failure, false, false},
    {102, Failure, false, false},
    {103, Failure, false, false},
    {104, Failure, false, false},
    {201, Failure, false, false},
    {202, Failure, false, false},
    {301, BiosRequirement, false, false},
    {302, Failure, false, false},
    {402, DriverUpdate, false, false},
    {403, DriverUpdate, false, false},
    {1001, Failure, false, false},
    {1002, Failure, false, false},
    {1003, Failure, false, false},
    {2001, Failure, true, false},
    {2002, Failure, true, false},
    {2003, Failure, true, false},
    {2004, Failure, true, false},
    {2005, DriverUpdate, false, false},
    {2006, Failure, true, false},
    {2007, Failure, true, false},
    {701, Failure, true, false},
    {702, Failure, true, false},
    {901, NoDialog, true, false},
    {902, Failure, true, false},
    {903, Failure, true, false},
    {904, Failure, true, false},
    {905, Failure, true, false},
    // The closing steps' 3000 + e + w, e in 1..5, w in 10 and 20: a
    // completion after the driver was removed. Whether it asks to restart
    // depends on whether a flash came before, which the code does not say.
    {3001, Completion, true, false},
    {3002, Completion, true, false},
    {3003, Completion, true, false},
    {3004, Completion, true, false},
    {3005, Completion, true, false},
    {3010, Completion, true, false},
    {3011, Completion, true, false},
    {3012, Completion, true, false},
    {3013, Completion, true, false},
    {3014, Completion, true, false},
    {3015, Completion, true, false},
    {3020, Completion, true, false},
    {3021, Completion, true, false},
    {3022, Completion, true, false},
    {3023, Completion, true, false},
    {3024, Completion, true, false},
    {3025, Completion, true, false},
    // The program's own: a failure it has no code for, and the driver
    // removal's codes, which are logged but never end a run.
    {-1, NoDialog, false, false},
    {1101, NotFinal, false, false},
    {1103, NotFinal, false, false},
};

TEST(ResultCodeTable, GivesEveryCodeTheExitDriverRemovalAndRestartQuestionOfTheContract) {
  std::map<int32_t, Golden> golden;
  for (const Golden& g : kGolden) ASSERT_TRUE(golden.emplace(g.code, g).second) << g.code << " twice";
  for (const auto& [code, g] : golden) {
    SCOPED_TRACE(code);
    const result::Explanation e = result::explain(code);
    ASSERT_TRUE(e.known);
    EXPECT_EQ(result::exitPathName(e.exit), result::exitPathName(g.exit));
    EXPECT_EQ(e.removesDriver, g.removesDriver);
    if (g.exit == Completion && code < result::kClosingStepsBase) {
      EXPECT_EQ(e.asksRestart, g.asksRestart);
    }
    EXPECT_FALSE(e.meaning.empty());
    EXPECT_FALSE(e.advice.empty());
  }
  // Nothing else is known, and the table's fixed rows are all above.
  for (int32_t code = -100; code < 10000; ++code)
    EXPECT_EQ(result::explain(code).known, golden.contains(code)) << code;
  for (const result::CodeInfo& info : result::codeTable())
    EXPECT_TRUE(golden.contains(info.code)) << info.code;
}

TEST(ResultCodeTable, TakesAClosingCodeApartIntoItsTwoSteps) {
  for (int32_t code : {result::kSuccess, result::kUpToDate}) {
    for (int32_t dock = 0; dock <= result::dock_ec::kVbiosFailed; ++dock) {
      for (int32_t link : {0, 10, 20}) {
        const int32_t folded = result::foldClosingResults(code, dock, link);
        const std::optional<result::ClosingParts> parts = result::closingParts(folded);
        if (dock == 0 && link == 0) {
          EXPECT_EQ(folded, code);
          EXPECT_FALSE(parts.has_value());
          continue;
        }
        ASSERT_TRUE(parts.has_value()) << folded;
        EXPECT_EQ(parts->dock, dock) << folded;
        EXPECT_EQ(parts->link, link) << folded;
      }
    }
  }
  for (int32_t code : {3000, 3006, 3009, 3026, 3030, 2999, INT32_MIN, INT32_MAX})
    EXPECT_FALSE(result::closingParts(code)) << code;
  EXPECT_NE(result::explain(3021).meaning.find("GEN item"), std::string::npos);
  EXPECT_NE(result::explain(3021).meaning.find("Gen4"), std::string::npos);
  EXPECT_EQ(result::explain(3005).meaning.find("Gen4"), std::string::npos);
  EXPECT_EQ(result::explain(3010).meaning.find("dock controller"), std::string::npos);
}

}  // namespace
