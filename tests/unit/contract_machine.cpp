// The contract tests' machine, natively: a TestMachine and the stand-ins of
// the linux build, seen through the Z: drive; its registry is registry.reg.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

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

std::shared_ptr<void> Machine::holdAgainstWriters(std::string_view name) const {
  const int fd = ::open(impl_->native(name).c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0) << name;
  EXPECT_EQ(::flock(fd, LOCK_SH | LOCK_NB), 0) << name;
  return std::shared_ptr<void>(nullptr, [fd](void*) { ::close(fd); });
}

const std::string& Machine::registryKey() const { return impl_->key; }

// As regedit exports it, in a section of its own: the last of a name counts.
void Machine::writeRawRegistryValue(std::string_view name, uint32_t type, std::string_view bytes) const {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = testing_machine::readNativeFile(impl_->machine.root() / "registry.reg");
  if (text.empty()) text = "Windows Registry Editor Version 5.00\n";
  text += "\n[" + impl_->key + "]\n\"" + std::string(name) + "\"=hex(" + kHex[type & 0xF] + "):";
  for (const char byte : bytes)
    text += std::string{kHex[static_cast<unsigned char>(byte) >> 4], kHex[byte & 0xF], ','};
  if (!bytes.empty()) text.pop_back();
  testing_machine::writeNativeFile(impl_->machine.root() / "registry.reg", text + "\n");
}

}  // namespace contract
