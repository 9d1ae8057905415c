// What the process contract test needs from the build it runs in: a
// simulated machine that the stand-in tools read for the length of one test,
// and the Windows paths of those tools. One implementation per test program
// (tests/unit natively, tests/wine under Wine).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace contract {

class ToolMachine {
 public:
  ToolMachine();  // a fresh, empty machine, named to children by OVVB_MACHINE
  ~ToolMachine();
  ToolMachine(const ToolMachine&) = delete;
  ToolMachine& operator=(const ToolMachine&) = delete;

  // machine.ini: no scaled waiting, then `text`.
  void writeMachineIni(std::string_view text) const;

  // The Windows path of a stand-in tool ("devcon64.exe") of this build.
  static std::string tool(std::string_view name);

  // A program path in an existing folder, with no file there.
  std::string missingProgram() const;

  // The Windows path of a file in the machine root, where the stand-ins'
  // helpers write.
  std::string file(std::string_view name) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace contract
