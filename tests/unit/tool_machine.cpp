// The process contract test's machine, natively: a TestMachine and the
// stand-ins of the linux build, seen through the Z: drive.
#include "tests/contract/tool_machine.h"

#include <filesystem>

#include "tests/unit/test_machine.h"

namespace contract {

struct ToolMachine::Impl {
  testing_machine::TestMachine machine;
};

ToolMachine::ToolMachine() : impl_(std::make_unique<Impl>()) {}
ToolMachine::~ToolMachine() = default;

void ToolMachine::writeMachineIni(std::string_view text) const {
  impl_->machine.writeMachineIni("[time]\nscale = 0\n" + std::string(text));
}

std::string ToolMachine::tool(std::string_view name) {
  return testing_machine::TestMachine::windowsPath(std::filesystem::path(OVVB_BIN_DIR) / name);
}

std::string ToolMachine::missingProgram() const {
  return testing_machine::TestMachine::windowsPath(impl_->machine.root() / "missing.exe");
}

std::string ToolMachine::file(std::string_view name) const {
  return testing_machine::TestMachine::windowsPath(impl_->machine.root() / name);
}

}  // namespace contract
