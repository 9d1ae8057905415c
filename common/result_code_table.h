// What every result code means, which exit it takes and what support staff
// can do about it. The installer's exit follows this one table, and the log
// explainer, the rehearsal and the package authors' guide all read it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace result {

enum class ExitPath {
  Completion,       // the closing steps, then the restart dialog
  Failure,          // failure dialog
  DriverUpdate,     // driver update dialog
  BiosRequirement,  // BIOS requirement dialog before the state line, no dialog after it
  NoDialog,         // the state line and the record, no dialog
  NotFinal,         // logged, never a run's final code
};

struct CodeInfo {
  int32_t code;
  std::string_view setBy;    // the operation or step that returns it
  std::string_view meaning;  // what happened
  ExitPath exit;
  // The flash tool's driver (installed for AMD packages only) is removed
  // before that exit: every code reached after it was installed.
  bool removesDriver;
  std::string_view advice;  // what to do about it, for the people who support users
  // The completion dialog asks to restart; false where nothing was flashed.
  bool asksRestart = true;
};

// Every fixed code, in the order a run can reach them. The 3000 range is
// described by explain(), which takes it apart.
std::span<const CodeInfo> codeTable();

struct Explanation {
  bool known = false;
  int32_t code = 0;
  std::string setBy;
  std::string meaning;
  ExitPath exit = ExitPath::Failure;
  bool removesDriver = false;
  std::string advice;
  bool asksRestart = true;  // of the closing steps' codes, only those after a flash ask
};

// The meaning of any code a run may end with, the closing steps' 3000 + e + w
// included; `known` is false for a number no run produces.
Explanation explain(int32_t code);

// "completion", "failure", "driver update", "BIOS requirement", "plain", "not final":
// the words the guides, the reports and the log explainer have always printed.
std::string_view exitPathName(ExitPath exit);

}  // namespace result
