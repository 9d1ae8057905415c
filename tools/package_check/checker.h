// The package checker's working state, shared by its topic files: text and
// encoding (check_text.cpp), entries and hardware IDs (check_entries.cpp),
// tools and files (check_files.cpp).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"
#include "package/config_line.h"
#include "package/vbios_configs.h"
#include "tools/package_check/package_check.h"

namespace kit {

std::string quoted(std::string_view text);
std::string_view trimmed(std::string_view text);

// A line whose key may be a notebook's board product name with a number:
// on that board it sets the BIOS requirement.
struct BoardLine {
  std::string board;
  size_t line = 0;
  int32_t number = 0;
};

class Checker {
 public:
  explicit Checker(const PackageFolder& folder) : folder_(folder), configs_(unopenedLog_) {}

  CheckReport run();

 private:
  void addFinding(std::string file, size_t line, Rule rule, std::string message,
                  std::optional<Severity> severity = std::nullopt) {
    const CheckRule& row = ruleOf(rule);
    report_.findings.push_back({std::move(file), line, severity.value_or(row.severity), rule,
                                std::string(row.id), std::move(message)});
  }
  // A finding about configs.txt; line 0 is the file as a whole.
  void addConfigFinding(size_t line, Rule rule, std::string message, std::optional<Severity> severity = {}) {
    addFinding("configs.txt", line, rule, std::move(message), severity);
  }
  size_t lineOf(const std::string& field) const {
    const auto it = lastSetBy_.find(field);
    return it == lastSetBy_.end() ? 0 : it->second;
  }

  // check_text.cpp
  bool checkEncoding(std::string_view decoded);
  void readLines(std::string_view text);
  // Adds the findings one key's effect calls for, and returns how the line
  // reads to the installer.
  std::string checkHit(const package::ConfigTestHit& hit, size_t line, std::string_view value);
  void checkUnknownKey(size_t line, std::string_view key, std::string_view value);
  void checkBoardLines();
  // check_entries.cpp
  void checkEntries();
  bool checkPrefix(int i, size_t line);
  void checkEntryVersion(int i);
  void checkVersionOrder(int i);
  void checkDriverRequirement();
  // check_files.cpp
  void checkPackageCopy();
  void checkSignature();
  void checkRom(int i);
  void checkImage(int i, const std::string& file);
  void checkBoardImages();
  void checkTypeAndTools();
  void checkUnusedFiles();

  void summarise();

  const PackageFolder& folder_;
  LogWriter unopenedLog_;  // the checker writes no installation log
  VBiosConfigs configs_;
  CheckReport report_;
  std::map<std::string, size_t> lastSetBy_;  // field -> the line that set it last
  std::vector<BoardLine> boardLines_;
  bool ecSwitchedOn_ = false, wmiSwitchedOn_ = false;
};

}  // namespace kit
