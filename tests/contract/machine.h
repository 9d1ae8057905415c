// What the contract tests need from the build they run in, for the length of
// one test: a machine the stand-in tools read, a folder and a registry key of
// their own. One implementation per test program (tests/unit natively,
// tests/wine under Wine).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace contract {

class Machine {
 public:
  Machine();  // a fresh, empty machine, named to children by OVVB_MACHINE
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // machine.ini: no scaled waiting, then `text`.
  void writeMachineIni(std::string_view text) const;

  // The Windows path of a stand-in tool ("devcon64.exe") of this build.
  static std::string tool(std::string_view name);

  // The Windows path of `name` ("a\b" below) in the machine's root, where
  // the stand-ins' helpers write.
  std::string file(std::string_view name) const;

  // The names in the root's folder `folder`, sorted; empty when it is missing.
  std::vector<std::string> names(std::string_view folder) const;

  // A file in the root made read-only as on read-only media, or writable again.
  void setReadOnly(std::string_view name, bool readOnly) const;

  // Holds the root's file `name` open as a reader that lets no writer in
  // (Windows: read access, read sharing only; posix: a shared flock) until
  // the returned object goes.
  std::shared_ptr<void> holdAgainstWriters(std::string_view name) const;

  // A key of HKEY_LOCAL_MACHINE, missing to begin with.
  const std::string& registryKey() const;

  // Stores a value of registryKey() as another program might: any type
  // (REG_BINARY is 3), any bytes, terminating NUL or not.
  void writeRawRegistryValue(std::string_view name, uint32_t type, std::string_view bytes) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace contract
