// The contract tests' machine, natively: a TestMachine and the stand-ins of
// the linux build, seen through the Z: drive; its registry is registry.reg.
#include <algorithm>
#include <filesystem>

#include "tests/contract/machine.h"
#include "tests/unit/test_machine.h"

namespace contract {

namespace fs = std::filesystem;

struct Machine::Impl {
  testing_machine::TestMachine machine;
  std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvoTest";

  fs::path native(std::string_view name) const {
    std::string relative(name);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return machine.root() / relative;
  }
};

Machine::Machine() : impl_(std::make_unique<Impl>()) {}
Machine::~Machine() = default;

void Machine::writeMachineIni(std::string_view text) const {
  impl_->machine.writeMachineIni("[time]\nscale = 0\n" + std::string(text));
}

std::string Machine::tool(std::string_view name) {
  return testing_machine::TestMachine::windowsPath(fs::path(OVVB_BIN_DIR) / name);
}

std::string Machine::missingProgram() const { return file("missing.exe"); }

std::string Machine::file(std::string_view name) const {
  return testing_machine::TestMachine::windowsPath(impl_->native(name));
}

std::vector<std::string> Machine::names(std::string_view folder) const {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(impl_->native(folder), error))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void Machine::setReadOnly(std::string_view name, bool readOnly) const {
  fs::permissions(impl_->native(name),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

const std::string& Machine::registryKey() const { return impl_->key; }

// As regedit exports it: hex(<type>): and the bytes, in a section of its own
// (a key may have several; the last value of a name counts).
void Machine::writeRawRegistryValue(std::string_view name, uint32_t type, std::string_view bytes) const {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string line = "\n[" + impl_->key + "]\n\"" + std::string(name) + "\"=hex(";
  line += kHex[type & 0xF];
  line += "):";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) line += ',';
    line += kHex[static_cast<unsigned char>(bytes[i]) >> 4];
    line += kHex[static_cast<unsigned char>(bytes[i]) & 0xF];
  }
  const fs::path reg = impl_->machine.root() / "registry.reg";
  std::string text = testing_machine::readNativeFile(reg);
  if (text.empty()) text = "Windows Registry Editor Version 5.00\n";
  testing_machine::writeNativeFile(reg, text + line + "\n");
}

}  // namespace contract
