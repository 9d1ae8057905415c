// The process contract test's machine under Wine: a scratch folder named by
// OVVB_MACHINE, which the stand-ins built beside wine_tests.exe read.
#include "tests/contract/tool_machine.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/wine/wine_test_support.h"

namespace contract {

struct ToolMachine::Impl {
  winetest::TemporaryFolder root;
  winetest::ScopedEnvironment named{"OVVB_MACHINE", root.path()};
};

ToolMachine::ToolMachine() : impl_(std::make_unique<Impl>()) {}
ToolMachine::~ToolMachine() = default;

void ToolMachine::writeMachineIni(std::string_view text) const {
  const std::string ini = "[time]\nscale = 0\n" + std::string(text);
  const platform::Error error = platform::writeFileAtomic(impl_->root.file("machine.ini"), ini);
  if (error.failed()) ADD_FAILURE() << error.operation << ": " << error.message;
}

std::string ToolMachine::tool(std::string_view name) {
  return winetest::binProgram(std::string(name).c_str());
}

std::string ToolMachine::missingProgram() const { return impl_->root.file("missing.exe"); }

std::string ToolMachine::file(std::string_view name) const { return impl_->root.file(name); }

}  // namespace contract
