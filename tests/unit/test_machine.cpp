#include "tests/unit/test_machine.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_machine {

namespace fs = std::filesystem;

std::string readNativeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeNativeFile(const fs::path& path, std::string_view contents) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void writeScriptTool(const fs::path& path, std::string_view script) {
  writeNativeFile(path, "#!/bin/sh\n" + std::string(script));
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
}

TestMachine::TestMachine() {
  std::string pattern = (fs::temp_directory_path() / "ovvb-machine-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  if (const char* old = std::getenv("OVVB_MACHINE")) {
    hadMachine_ = true;
    savedMachine_ = old;
  }
  setenv("OVVB_MACHINE", root_.c_str(), 1);
  fs::create_directories(root_ / "drive_c" / "Windows" / "Log");
}

TestMachine::~TestMachine() {
  if (hadMachine_) {
    setenv("OVVB_MACHINE", savedMachine_.c_str(), 1);
  } else {
    unsetenv("OVVB_MACHINE");
  }
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void TestMachine::writeMachineIni(std::string_view text) const {
  writeNativeFile(root_ / "machine.ini", text);
}

void TestMachine::writeRegistry(std::string_view body) const {
  std::string text = "Windows Registry Editor Version 5.00\n\n";
  text += body;
  writeNativeFile(root_ / "registry.reg", text);
}

fs::path TestMachine::makePackageFolder(std::string_view name,
                                        std::initializer_list<std::string_view> tools) const {
  const fs::path folder = root_ / fs::path(std::string(name));
  fs::create_directories(folder);
  for (std::string_view tool : tools) {
    const fs::path to = folder / std::string(tool);
    fs::copy_file(fs::path(OVVB_BIN_DIR) / std::string(tool), to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_exec | fs::perms::group_exec, fs::perm_options::add);
  }
  return folder;
}

std::string TestMachine::windowsPath(const fs::path& native) {
  std::string text = "Z:" + native.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

std::string TestMachine::readLog() const {
  return readNativeFile(root_ / "drive_c" / "Windows" / "Log" / "OrvoVbInst.txt");
}

std::vector<std::string> TestMachine::logLines() const {
  std::vector<std::string> lines;
  std::istringstream in(readLog());
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      const size_t close = line.find(']');
      if (close != std::string::npos) line.erase(0, close + 1);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<std::string> TestMachine::logLinesWithDetails() const {
  const std::vector<std::string> lines = logLines();
  std::vector<std::string> collapsed;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i + 1 < lines.size() && lines[i + 1].starts_with("   at ")) {
      collapsed.push_back("<detail>");
      while (i + 1 < lines.size() && lines[i + 1].starts_with("   at ")) ++i;
    } else {
      collapsed.push_back(lines[i]);
    }
  }
  return collapsed;
}

std::vector<std::string> TestMachine::traceLines() const {
  std::vector<std::string> lines;
  std::istringstream in(readNativeFile(root_ / "trace.jsonl"));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string TestMachine::readFile(std::string_view relative) const {
  return readNativeFile(root_ / fs::path(std::string(relative)));
}

}  // namespace testing_machine
