// A throw-away simulated machine with the installer and a package beside it,
// for running the linux program end to end and reading what it left behind.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "simulated/trace_reader.h"

namespace e2e {

// The configs.txt of the example AMD and NVIDIA packages, without closing steps.
inline constexpr const char* kAmdConfigs =
    "ReleaseVersion=V1.2.0\n"
    "VBiosType=KRAMD\n"
    "BiosVersion=300\n"
    "VGAVersion=31.0.21001.45002\n"
    "VBiosHWID_0=PCI\\VEN_1002&DEV_73DF\n"
    "VBiosVersion_0=020.001.000.038.016300\n"
    "VBiosROM_0=kestrel_rx6700.rom\n";

inline constexpr const char* kNvConfigs =
    "ReleaseVersion=2.0.1\n"
    "VBiosType=KRNV\n"
    "VBiosHWID_0=PCI\\VEN_10DE&DEV_2520\n"
    "VBiosVersion_0=575593709570\n"
    "VBiosROM_0=vendorflash.exe\n";

// What an unsigned program logs for an unsigned package, as the example
// packages and machines are.
inline constexpr const char* kUnsignedWarning =
    "WARNING neither the program nor the package is signed; the package was not checked";

// machine.ini as sections of key/value pairs; set() replaces, add() repeats.
class Ini {
 public:
  Ini& set(const std::string& section, const std::string& key, const std::string& value);
  Ini& add(const std::string& section, const std::string& key, const std::string& value);
  Ini& removeSection(const std::string& section);
  std::string text() const;

 private:
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections_;
  std::vector<std::pair<std::string, std::string>>& section(const std::string& name);
};

// The example AMD notebook: dock GPU present, VBIOS older than the example
// package's, on AC power, no waiting.
Ini amdMachine();
// The example NVIDIA notebook.
Ini nvMachine();

class InstallerRun {
 public:
  // The program's folder is `folderName` below a fresh temporary folder
  // (the temporary folder itself when empty).
  explicit InstallerRun(const std::string& folderName = "");
  ~InstallerRun();
  std::filesystem::path top;  // the temporary folder, deleted at the end

  std::filesystem::path dir;       // the program's folder
  std::filesystem::path packages;  // dir/packages
  std::filesystem::path machine;   // the machine root

  // Copies examples/packages/<name> and the stand-in tools into packages/.
  void usePackage(const std::string& name);
  void writeConfigs(const std::string& text);
  // Replaces the example package's image, kestrel_rx6700.rom.
  void writeRom(const std::string& bytes);
  void writeMachine(const Ini& ini);
  void writeRegistry(const std::string& text);

  // Where the program's standard output goes: a file (read into `output`,
  // with standard error), a pipe whose reader has already gone (SIGPIPE at
  // its default, as in a shell pipeline), or nowhere: descriptor 1 closed.
  enum class Stdout { File, VanishedReader, Closed };

  // Runs the installer once; returns its result code (the exit status holds
  // its low 8 bits, the trace the whole code; a mismatch gives -1003).
  int run(Stdout to = Stdout::File);
  std::string output;  // its standard output and error (only standard error unless Stdout::File)

  // Starts `count` runs on this machine `apartMs` milliseconds apart, as a
  // second double-click would, and waits for all of them; their exit
  // statuses (low 8 bits) in the order started, -1000 for one that did not end normally.
  std::vector<int> runAtOnce(int count, int apartMs);

  // The log, or another file of C:\Windows\Log named by `name`.
  std::string logText(const std::string& name = "OrvoVbInst.txt") const;
  // The log's messages, time stamps removed, in order.
  std::vector<std::string> logMessages(const std::string& name = "OrvoVbInst.txt") const;
  bool logHas(const std::string& message) const;
  // Registry value of HKLM\SOFTWARE\Orvo\VBIOS as written in registry.reg
  // (`dword:00000065` or `"9.2.0.0"`); empty when absent.
  std::string stateValue(const std::string& name) const;
  // The trace's events of one name (every event when empty), in order; an
  // unreadable line fails the test.
  std::vector<simulated::TraceEvent> events(const std::string& event) const;
  // The same events as their lines, blanks outside strings removed, for
  // matching on the text as written.
  std::vector<std::string> trace(const std::string& event) const;
  std::string machineIni() const;
  bool fileOnC(const std::string& relative) const;  // e.g. "ProgramData/Orvo/VBIOS/x.rom"
};

std::string dword(int value);  // "dword:00000065"

}  // namespace e2e
