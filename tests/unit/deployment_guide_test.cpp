// DEPLOYMENT.md against the result table it is made from: every final code
// is entered exactly once, with the table's meaning, and the detection script,
// the paths and the posix statuses say what the installer really does.
#include "tools/dist/deployment_guide.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/result_code_table.h"
#include "common/result_codes.h"
#include "installer/state_record.h"

namespace {

// A Markdown table row's cells, trimmed, with \| and \\ read back.
std::vector<std::string> cells(const std::string& row) {
  std::vector<std::string> out;
  std::string cell;
  for (size_t i = 1; i < row.size(); ++i) {
    if (row[i] == '\\' && i + 1 < row.size()) {
      cell += row[++i];
    } else if (row[i] == '|') {
      const size_t first = cell.find_first_not_of(' ');
      out.push_back(first == std::string::npos ? ""
                                               : cell.substr(first, cell.find_last_not_of(' ') - first + 1));
      cell.clear();
    } else {
      cell += row[i];
    }
  }
  return out;
}

std::vector<int32_t> numbers(const std::string& list) {
  std::vector<int32_t> out;
  std::istringstream in(list);
  std::string item;
  while (std::getline(in, item, ',')) out.push_back(std::stoi(item));
  return out;
}

// The rows of the Markdown table whose header starts with `header`.
std::vector<std::vector<std::string>> table(const std::string& text, const std::string& header) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.starts_with(header)) {
      inside = true;
      std::getline(in, line);  // |---|
      continue;
    }
    if (!inside) continue;
    if (!line.starts_with("|")) break;
    rows.push_back(cells(line));
  }
  return rows;
}

TEST(DeploymentGuide, EntersEveryFinalCodeOnceWithTheTablesMeaning) {
  std::set<int32_t> final;
  for (int32_t code = -1; code < result::kClosingStepsBase + 100; ++code) {
    const result::Explanation e = result::explain(code);
    if (e.known && e.exit != result::ExitPath::NotFinal) final.insert(code);
  }
  const std::string guide = kit::deploymentGuide();

  std::map<int32_t, std::string> kindOf;
  for (const auto& row : table(guide, "| Intune | Configuration Manager | codes |")) {
    ASSERT_EQ(row.size(), 4u);
    for (int32_t code : numbers(row[2])) EXPECT_TRUE(kindOf.emplace(code, row[0]).second) << code << " twice";
  }
  std::set<int32_t> entered;
  for (const auto& [code, kind] : kindOf) entered.insert(code);
  EXPECT_EQ(entered, final);

  const auto rows = table(guide, "| code | enter as | meaning |");
  EXPECT_EQ(rows.size(), final.size());
  for (const auto& row : rows) {
    const int32_t code = std::stoi(row[0]);
    SCOPED_TRACE(code);
    EXPECT_EQ(row[1], kindOf[code]);
    EXPECT_EQ(row[2], result::explain(code).meaning);
  }
  // The calls an administrator most needs right; 3010 is both tools' own
  // default for a soft reboot and must be changed.
  EXPECT_EQ(kindOf[result::kSuccess], "Soft reboot");
  EXPECT_EQ(kindOf[result::kUpToDate], "Success");
  EXPECT_EQ(kindOf[result::kPowerStop], "Retry");
  EXPECT_EQ(kindOf[3010], "Failed");
  EXPECT_EQ(kindOf[-1], "Failed");
  EXPECT_NE(guide.find("**Change 0 to Soft reboot**"), std::string::npos);
  EXPECT_NE(guide.find("**Change 3010 to Failed**"), std::string::npos);
}

TEST(DeploymentGuide, NamesTheInstallersOwnKeyLogAndSuccessCodes) {
  const std::string guide = kit::deploymentGuide();
  EXPECT_NE(guide.find("Registry::" + std::string(kStateKey) + "'"), std::string::npos);
  EXPECT_NE(guide.find("reg export \"" + std::string(kStateKey) + "\""), std::string::npos);
  EXPECT_NE(guide.find(std::string("`") + kLogPath + "`"), std::string::npos);
  EXPECT_NE(guide.find("@(0, 1) -contains [int]$record.State"), std::string::npos);

  for (const auto& row : table(guide, "| code | exit status |")) {
    const int32_t code = std::stoi(row[0]);
    EXPECT_TRUE(code > 255 || code < 0) << code;
    EXPECT_EQ(std::stoi(row[1]), code & 0xFF) << code;
  }
  // 2001 and 3025 both leave 209: the sheet says so.
  EXPECT_NE(guide.find("209 is 2001, 3025"), std::string::npos);
}

// The copy the README links is the generated one.
TEST(DeploymentGuide, CommittedCopyIsTheGeneratedOne) {
  std::ifstream in(std::string(OVVB_SOURCE_DIR) + "/docs/DEPLOYMENT.md", std::ios::binary);
  const std::string committed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(committed == kit::deploymentGuide())
      << "docs/DEPLOYMENT.md is stale: build/linux/bin/deployment_guide > docs/DEPLOYMENT.md";
}

}  // namespace
