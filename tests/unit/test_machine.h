// A throw-away simulated machine for one test: a temporary machine root named
// by OVVB_MACHINE, with helpers to describe the machine and to read back what
// the program left there (the log, the trace, registry.reg, machine.ini).
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace testing_machine {

// Machine-time settings for tests: no real sleeping, and child-process time
// limits cut to 5% (20 s -> 1 s), long enough for a healthy stand-in to exit.
inline constexpr std::string_view kFastTime = "[time]\nscale = 0\ntimeout_scale = 0.05\n";

class TestMachine {
 public:
  // Creates an empty machine root under the temp folder, points OVVB_MACHINE
  // at it and creates drive_c/Windows/Log.
  TestMachine();
  // Restores OVVB_MACHINE and deletes the root.
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  const std::filesystem::path& root() const { return root_; }

  void writeMachineIni(std::string_view text) const;
  // Writes registry.reg: the .reg header line, a blank line, then `body`,
  // e.g. "[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\n\"BIOSVersion\"=\"X1.308\"\n".
  void writeRegistry(std::string_view body) const;

  // Creates a folder below the root (blanks allowed) and copies the named
  // stand-in tools (e.g. "amdvbflash.exe", "devcon64.exe") from the build's
  // bin folder into it. Returns its native path.
  std::filesystem::path makePackageFolder(std::string_view name,
                                          std::initializer_list<std::string_view> tools = {}) const;

  // The program's view of a native path: "Z:" + the path with backslashes.
  static std::string windowsPath(const std::filesystem::path& native);

  // drive_c/Windows/Log/OrvoVbInst.txt, whole ("" when missing).
  std::string readLog() const;
  // The log's lines (split at CR LF or LF) with each leading "[time stamp]"
  // removed; continuation lines of multi-line entries are kept as written.
  std::vector<std::string> logLines() const;
  // logLines() with each detail entry (a line followed by "   at ..."
  // lines) replaced by the one line "<detail>", for exact comparisons that
  // do not depend on the wording of system messages.
  std::vector<std::string> logLinesWithDetails() const;
  // trace.jsonl, one string per event line.
  std::vector<std::string> traceLines() const;
  std::string readFile(std::string_view relative) const;

 private:
  std::filesystem::path root_;
  std::string savedMachine_;
  bool hadMachine_ = false;
};

// Writes an executable shell script (the text after "#!/bin/sh") as a
// stand-in tool with behaviour of the test's own, e.g. unusual output.
void writeScriptTool(const std::filesystem::path& path, std::string_view script);

// Reads a whole native file ("" when missing).
std::string readNativeFile(const std::filesystem::path& path);
void writeNativeFile(const std::filesystem::path& path, std::string_view contents);

}  // namespace testing_machine
