// Helpers of the Wine tests: a scratch folder on C:, an environment variable
// set for one scope, and the programs built beside the test executable.
#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/paths.h"
#include "platform/simulation.h"
#include "platform/win32/wide_text.h"

namespace winetest {

// The folder of wine_tests.exe, where the stand-in tools and helpers are built.
inline std::string binFolder() { return platform::programFolder(); }

inline std::string binProgram(const char* name) { return platform::joinPath(binFolder(), name); }

// A fresh folder under the user's temporary folder (a C:\ path under Wine),
// removed with everything in it at the end of the scope.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, base);
    std::wstring path(base, length);
    path += L"ovvb-wine-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter.fetch_add(1));
    std::error_code error;
    std::filesystem::remove_all(path, error);
    std::filesystem::create_directories(path, error);
    wide_ = path;
    path_ = platform::win32::toUtf8(path);
  }
  ~TemporaryFolder() {
    std::error_code error;
    std::filesystem::remove_all(wide_, error);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return platform::joinPath(path_, name); }

 private:
  std::wstring wide_;
  std::string path_;
};

// Sets (or with nullopt removes) an environment variable of this process,
// which children inherit, and restores the old state at the end of the scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, std::optional<std::string> value)
      : name_(platform::win32::toWide(name)) {
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name_.c_str(), buffer, 32768);
    if (length > 0 && length < 32768) old_ = std::wstring(buffer, length);
    set(value ? std::optional<std::wstring>(platform::win32::toWide(*value)) : std::nullopt);
  }
  ~ScopedEnvironment() { set(old_); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  void set(const std::optional<std::wstring>& value) {
    SetEnvironmentVariableW(name_.c_str(), value ? value->c_str() : nullptr);
  }
  std::wstring name_;
  std::optional<std::wstring> old_;
};

// Names a simulated machine's root (a Windows path) to the stand-in tools
// this process starts, as the simulated machine does in the builds that
// have it: a child gets OVVB_MACHINE from the machine, never from our own
// environment.
class ScopedMachineRoot {
 public:
  explicit ScopedMachineRoot(std::string root) : previous_(platform::simulation()) {
    current() = std::move(root);
    platform::installSimulation(&hooks());
  }
  ~ScopedMachineRoot() {
    platform::installSimulation(previous_);
    current().clear();
  }
  ScopedMachineRoot(const ScopedMachineRoot&) = delete;
  ScopedMachineRoot& operator=(const ScopedMachineRoot&) = delete;

 private:
  static std::string& current() {
    static std::string root;
    return root;
  }
  static const platform::SimulationHooks& hooks() {
    static const platform::SimulationHooks machine = [] {
      platform::SimulationHooks made{};
      made.childVariables = [] { return std::vector<std::string>{"OVVB_MACHINE=" + current()}; };
      return made;
    }();
    return machine;
  }
  const platform::SimulationHooks* previous_;
};

}  // namespace winetest
