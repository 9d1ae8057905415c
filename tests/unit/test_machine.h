// A throw-away simulated machine for one test (a temporary root named by
// OVVB_MACHINE) and what the program left there.
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
  TestMachine();   // a fresh root with drive_c/Windows/Log, named by OVVB_MACHINE
  ~TestMachine();  // restores OVVB_MACHINE, deletes the root
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  const std::filesystem::path& root() const { return root_; }

  void writeMachineIni(std::string_view text) const;
  // registry.reg: the .reg header, a blank line, then `body`.
  void writeRegistry(std::string_view body) const;

  // A folder below the root with copies of the named stand-in tools; its native path.
  std::filesystem::path makePackageFolder(std::string_view name,
                                          std::initializer_list<std::string_view> tools = {}) const;

  // The program's view of a native path: "Z:" + the path with backslashes.
  static std::string windowsPath(const std::filesystem::path& native);

  // drive_c/Windows/Log/OrvoVbInst.txt, whole ("" when missing).
  std::string readLog() const;
  // The log's lines without their leading "[time stamp]".
  std::vector<std::string> logLines() const;
  // logLines() with each detail entry (a line and its "   at ..." lines) as
  // "<detail>", so comparisons do not depend on system messages' wording.
  std::vector<std::string> logLinesWithDetails() const;
  // trace.jsonl, one string per event line.
  std::vector<std::string> traceLines() const;
  std::string readFile(std::string_view relative) const;

 private:
  std::filesystem::path root_;
  std::string savedMachine_;
  bool hadMachine_ = false;
};

// An executable shell script (the text after "#!/bin/sh") as a tool.
void writeScriptTool(const std::filesystem::path& path, std::string_view script);

// Reads a whole native file ("" when missing).
std::string readNativeFile(const std::filesystem::path& path);
void writeNativeFile(const std::filesystem::path& path, std::string_view contents);

}  // namespace testing_machine
