// What a run's exit must look like, read from the result code table rather
// than restated per test: the one form its exit path ends with, the flash
// tool's driver removed exactly where the table says (only AMD packages
// install it), the state line and record, and the completion's restart question.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/result_code_table.h"
#include "common/result_codes.h"
#include "tests/e2e/installer_run.h"

namespace e2e {

inline bool shown(const InstallerRun& r, const std::string& form) {
  for (const auto& e : r.events("dialog.show"))
    if (e.get("form") == form) return true;
  return false;
}

// Matched on the event's text as written, escapes and field names included.
inline int started(const InstallerRun& r, const std::string& program, const std::string& arguments) {
  int count = 0;
  for (const auto& line : r.trace("process.start"))
    if (line.find(program) != std::string::npos && line.find(arguments) != std::string::npos) ++count;
  return count;
}

// The dialogs a run can end with, one per exit path that shows one.
inline constexpr const char* kExitForms[] = {"InstallFail", "SupportSiteForm", "BiosCheckForm",
                                             "RestartForm"};

inline std::string exitForm(result::ExitPath exit) {
  using enum result::ExitPath;
  return exit == Completion        ? "RestartForm"
         : exit == Failure         ? "InstallFail"
         : exit == DriverUpdate    ? "SupportSiteForm"
         : exit == BiosRequirement ? "BiosCheckForm"
                                   : "";
}

inline void expectExitAsTheTableSays(const InstallerRun& r, int32_t code, bool amdPackage) {
  const result::Explanation e = result::explain(code);
  ASSERT_TRUE(e.known) << code;
  EXPECT_EQ(r.logMessages().back(), "state " + std::to_string(code));
  EXPECT_EQ(r.stateValue("State"), dword(code));
  for (const char* form : kExitForms)
    EXPECT_EQ(shown(r, form), form == exitForm(e.exit)) << form << " after " << code;
  EXPECT_EQ(started(r, "devcon64.exe", "remove") > 0, e.removesDriver && amdPackage) << code;
  if (e.exit == result::ExitPath::DriverUpdate) {
    bool waited = false;
    for (const auto& e : r.events("sleep")) waited = waited || e.number("ms", 0) == 5000;
    EXPECT_TRUE(waited) << "the driver update exit waits five seconds before its state line";
  }
  const bool completed = e.exit == result::ExitPath::Completion;
  EXPECT_EQ(r.stateValue("DisplayVersion").empty(), !completed) << code;
  // A closing steps' code does not tell whether the VBIOS was flashed.
  if (!completed || code >= result::kClosingStepsBase) return;
  bool asked = false;
  for (const auto& e : r.events("dialog.show"))
    asked = asked || (e.get("form") == "RestartForm" && e.get("buttons.button3") == "Yes");
  EXPECT_EQ(asked, e.asksRestart) << code;
}

}  // namespace e2e
