#include "tests/e2e/installer_run.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace e2e {

namespace {

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeAll(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

std::vector<std::pair<std::string, std::string>>& Ini::section(const std::string& name) {
  for (auto& s : sections_)
    if (s.first == name) return s.second;
  sections_.push_back({name, {}});
  return sections_.back().second;
}

Ini& Ini::set(const std::string& sectionName, const std::string& key, const std::string& value) {
  auto& entries = section(sectionName);
  entries.erase(std::remove_if(entries.begin(), entries.end(), [&](auto& e) { return e.first == key; }),
                entries.end());
  entries.push_back({key, value});
  return *this;
}

Ini& Ini::add(const std::string& sectionName, const std::string& key, const std::string& value) {
  section(sectionName).push_back({key, value});
  return *this;
}

Ini& Ini::removeSection(const std::string& name) {
  sections_.erase(
      std::remove_if(sections_.begin(), sections_.end(), [&](auto& s) { return s.first == name; }),
      sections_.end());
  return *this;
}

std::string Ini::text() const {
  std::string out;
  for (const auto& [name, entries] : sections_) {
    out += "[" + name + "]\n";
    for (const auto& [key, value] : entries) out += key + " = " + value + "\n";
  }
  return out;
}

Ini amdMachine() {
  Ini ini;
  ini.set("user", "lcid", "1033")
      .set("time", "scale", "0")
      .set("time", "seed", "7")
      .set("power", "ac_line", "1")
      .add("pnp", "device", "PCI\\VEN_8086&DEV_9A49&SUBSYS_22D917AA&REV_01 | 31.0.101.3430")
      .add("pnp", "device", "PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1 | 31.0.21001.45002")
      .set("amdvbflash", "version", "020.001.000.038.016233")
      .set("devcon64", "install_exit", "0");
  return ini;
}

Ini nvMachine() {
  Ini ini;
  ini.set("user", "lcid", "1033")
      .set("time", "scale", "0")
      .set("power", "ac_line", "1")
      .add("pnp", "device", "PCI\\VEN_10DE&DEV_2520&SUBSYS_3A2F6A3D&REV_A1 | 31.0.15.3623")
      .set("nvapi", "revision", "0x86040F00")
      .set("nvapi", "oem_revision", "0x01");
  return ini;
}

InstallerRun::InstallerRun(const std::string& folderName) {
  char pattern[] = "/tmp/ovvb-e2e-XXXXXX";
  top = mkdtemp(pattern);
  dir = folderName.empty() ? top : top / folderName;
  packages = dir / "packages";
  machine = dir / "machine";
  fs::create_directories(packages);
  fs::create_directories(machine);
  fs::copy_file(fs::path(OVVB_BIN_DIR) / "OvVBiosInstaller", dir / "OvVBiosInstaller");
  writeRegistry(readAll(fs::path(OVVB_SOURCE_DIR) / "examples/machines/kestrel-amd/registry.reg"));
}

InstallerRun::~InstallerRun() {
  std::error_code ignored;
  if (!std::getenv("OVVB_KEEP_E2E")) fs::remove_all(top, ignored);
}

void InstallerRun::usePackage(const std::string& name) {
  fs::copy(fs::path(OVVB_SOURCE_DIR) / "examples/packages" / name, packages, fs::copy_options::recursive);
  for (const char* tool : {"amdvbflash.exe", "devcon64.exe", "vendorflash.exe"})
    fs::copy_file(fs::path(OVVB_BIN_DIR) / tool, packages / tool, fs::copy_options::overwrite_existing);
}

void InstallerRun::writeConfigs(const std::string& text) { writeAll(packages / "configs.txt", text); }
void InstallerRun::writeRom(const std::string& bytes) { writeAll(packages / "kestrel_rx6700.rom", bytes); }
void InstallerRun::writeMachine(const Ini& ini) { writeAll(machine / "machine.ini", ini.text()); }
void InstallerRun::writeRegistry(const std::string& text) { writeAll(machine / "registry.reg", text); }

namespace {

// Starts the program with standard output as `to` asks; its wait status, or -1.
int spawnInstaller(const fs::path& program, const fs::path& machine, const fs::path& out,
                   InstallerRun::Stdout to) {
  int vanished[2] = {-1, -1};
  if (to == InstallerRun::Stdout::VanishedReader) {
    if (::pipe(vanished) != 0) return -1;
    ::close(vanished[0]);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (to == InstallerRun::Stdout::File) {
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  } else if (to == InstallerRun::Stdout::VanishedReader) {
    posix_spawn_file_actions_adddup2(&actions, vanished[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, vanished[1]);
  } else {
    posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string_view(*entry).rfind("OVVB_MACHINE=", 0) != 0) environment.emplace_back(*entry);
  }
  environment.push_back("OVVB_MACHINE=" + machine.string());
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string path = program.string();
  char* argv[] = {path.data(), nullptr};

  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (vanished[1] >= 0) ::close(vanished[1]);
  if (spawned != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

}  // namespace

int InstallerRun::run(Stdout to) {
  const fs::path out = dir / "stdout.txt";
  const int status = spawnInstaller(dir / "OvVBiosInstaller", machine, out, to);
  output = readAll(out);
  if (status == -1 || !WIFEXITED(status)) return -1000;
  const int low = WEXITSTATUS(status);
  // A posix exit status keeps only the low 8 bits; the program records the
  // whole code in the trace, and both must agree.
  const auto exits = events("installer.exit");
  if (exits.empty()) return -1001;
  const long long full = exits.back().number("exit_code", -1002);
  if (full == -1002) return -1002;
  if ((full & 0xFF) != low) return -1003;
  return static_cast<int>(full);
}

std::vector<int> InstallerRun::runAtOnce(int count, int apartMs) {
  std::vector<int> statuses(static_cast<size_t>(count), -1000);
  std::vector<std::thread> runs;
  for (int i = 0; i < count; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(apartMs));
    runs.emplace_back([this, i, &statuses] {
      const int status = spawnInstaller(dir / "OvVBiosInstaller", machine,
                                        dir / ("stdout-" + std::to_string(i) + ".txt"), Stdout::File);
      if (status != -1 && WIFEXITED(status)) statuses[static_cast<size_t>(i)] = WEXITSTATUS(status);
    });
  }
  for (std::thread& run : runs) run.join();
  return statuses;
}

std::string InstallerRun::logText(const std::string& name) const {
  return readAll(machine / "drive_c/Windows/Log" / name);
}

std::vector<std::string> InstallerRun::logMessages(const std::string& name) const {
  std::vector<std::string> messages;
  const std::string text = logText(name);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line[0] == '[') {
      size_t close = line.find(']');
      if (close != std::string::npos) line = line.substr(close + 1);
    }
    messages.push_back(line);
    start = end + 2;
  }
  return messages;
}

bool InstallerRun::logHas(const std::string& message) const {
  const auto messages = logMessages();
  return std::find(messages.begin(), messages.end(), message) != messages.end();
}

std::string InstallerRun::stateValue(const std::string& name) const {
  std::istringstream in(readAll(machine / "registry.reg"));
  std::string line;
  bool inKey = false;
  const std::string prefix = "\"" + name + "\"=";
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[')
      inKey = line == "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS]";
    else if (inKey && line.rfind(prefix, 0) == 0)
      return line.substr(prefix.size());
  }
  return "";
}

std::vector<simulated::TraceEvent> InstallerRun::events(const std::string& event) const {
  simulated::TraceRead read = simulated::readTraceFile(machine / "trace.jsonl");
  EXPECT_TRUE(read.fileRead && read.unreadableLines.empty())
      << "unreadable trace: " << readAll(machine / "trace.jsonl");
  std::erase_if(read.events,
                [&](const simulated::TraceEvent& e) { return !event.empty() && e.event != event; });
  return read.events;
}

std::vector<std::string> InstallerRun::trace(const std::string& event) const {
  std::vector<std::string> lines;
  std::istringstream in(readAll(machine / "trace.jsonl"));
  std::string line;
  while (std::getline(in, line)) {
    const auto parsed = simulated::parseTraceLine(line);
    if (!event.empty() && (!parsed || parsed->event != event)) continue;
    std::string compact;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '"' && (i == 0 || line[i - 1] != '\\')) quoted = !quoted;
      if (!quoted && (c == ' ' || c == '\t')) continue;
      compact += c;
    }
    lines.push_back(compact);
  }
  return lines;
}

std::string InstallerRun::machineIni() const { return readAll(machine / "machine.ini"); }

bool InstallerRun::fileOnC(const std::string& relative) const {
  return fs::exists(machine / "drive_c" / relative);
}

std::string dword(int value) {
  char text[32];
  std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(value));
  return text;
}

}  // namespace e2e
