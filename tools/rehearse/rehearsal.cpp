#include "tools/rehearse/rehearsal.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/log.h"
#include "common/result_codes.h"
#include "package/config_line.h"
#include "package/config_text.h"
#include "package/read_configs.h"
#include "package/vbios_configs.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "simulated/trace_reader.h"
#include "tools/package_check/nvidia_version.h"
#include "tools/package_check/package_folder.h"
#include "tools/rehearse/machine_keys_check.h"
#include "tools/rehearse/machine_matrix.h"
#include "tools/rehearse/run_pool.h"

namespace fs = std::filesystem;

namespace kit {

namespace {

std::string readAll(const fs::path& path, size_t limit = 64 << 20) {
  std::error_code error;
  const uintmax_t size = fs::file_size(path, error);
  if (error) return {};
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<size_t>(std::min<uintmax_t>(size, limit)), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

bool writeAll(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

// Removes the rehearsal's own temporary folder, and nothing else, on every path.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/ovvb-rehearse-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The installer's rules read the package; "KR15A" is the board of the
// machines the matrix makes unless the package names boards of its own.
bool readPackage(const std::string& text, VBiosConfigs& configs) {
  std::string problem;
  return package::applyConfigText(configs, text, "KR15A", problem) == 0;
}

// A name the registry file can hold as it is and a notebook could report.
bool isPlainBoardName(std::string_view name) {
  if (name.empty() || name.size() > 64 || name == "KR15A") return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return c > ' ' && c < 0x7F && c != '"' && c != '\\' && c != '#' && c != ';';
  });
}

// The boards the package names in BIOS lines of their own, each with what
// the installer reads on it.
std::vector<NamedBoard> namedBoards(const std::string& text) {
  std::vector<NamedBoard> boards;
  for (std::string_view line : package::splitLines(text)) {
    const package::ConfigLine parsed = package::readConfigLine(line, "\n");
    if (!parsed.assigns || !parsed.hits.empty() || !isPlainBoardName(parsed.key)) continue;
    std::string_view value = parsed.value;
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    if (value.empty() || !((value[0] >= '0' && value[0] <= '9') || value[0] == '-' || value[0] == '+'))
      continue;
    if (std::any_of(boards.begin(), boards.end(), [&](const NamedBoard& b) { return b.name == parsed.key; }))
      continue;
    LogWriter noLog;
    VBiosConfigs onBoard(noLog);
    std::string problem;
    NamedBoard board{std::string(parsed.key)};
    board.readResult = package::applyConfigText(onBoard, text, parsed.key, problem);
    board.bios = onBoard.VbReqBios;
    boards.push_back(std::move(board));
    if (boards.size() == 8) break;  // a package naming more boards gets the first eight
  }
  return boards;
}

// The last ERROR or WARNING line of a run's log, for why a row ended so.
std::string lastProblem(const std::string& log) {
  std::string last;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t close = line.find(']');
    if (close == std::string::npos) continue;
    const std::string_view text = std::string_view(line).substr(close + 1);
    if (text.starts_with("ERROR") || text.starts_with("WARNING")) last = text;
  }
  if (last.empty()) return last;
  return "the log's last problem: " + (last.size() > 200 ? last.substr(0, 197) + "..." : last);
}

void readOutcome(const fs::path& root, RehearsalRow& row, int exitStatus, const VBiosConfigs& configs) {
  row.log = readAll(root / "drive_c/Windows/Log/OrvoVbInst.txt");
  bool traced = false;
  for (const simulated::TraceEvent& e : simulated::readTraceFile(root / "trace.jsonl").events) {
    if (e.event == "installer.exit") {
      row.code = static_cast<int>(e.number("exit_code", -1));
      traced = true;
    } else if (e.event == "dialog.show") {
      const std::string form = e.get("form");
      if (form == "InstallingForm") continue;
      row.dialogs.push_back(form);
      row.dialogTitle = e.get("title");
      row.dialogText = e.get("label1");
      row.dialogButtons.clear();
      for (const auto& [button, caption] : e.members("buttons"))
        if (!caption.empty()) row.dialogButtons.push_back(caption);
    } else if (e.event == "process.start") {
      const std::string program = e.get("program");
      const std::string arguments = e.get("arguments");
      const std::string name = program.substr(program.find_last_of('\\') + 1);
      if (name == "amdvbflash.exe" && arguments.starts_with("-fa")) {
        std::string rom = arguments.substr(arguments.find_last_of('\\') + 1);
        if (!rom.empty() && rom.back() == '"') rom.pop_back();
        row.flashedRom = rom;
      } else if (!configs.isAmdType() && name != "devcon64.exe" && name != "amdvbflash.exe") {
        row.flashedRom = name;
      }
    }
  }
  row.why = lastProblem(row.log);
  // The log's last state line, the trace's code and the exit status must tell
  // the same story; a row that does not is marked, never smoothed over.
  std::string state;
  for (size_t at = row.log.rfind("]state "); at != std::string::npos;) {
    state = row.log.substr(at + 7, row.log.find('\r', at) - at - 7);
    break;
  }
  if (!traced) {
    row.agreement = "no installer.exit in the trace";
  } else if ((row.code & 0xFF) != exitStatus) {
    row.agreement =
        "exit status " + std::to_string(exitStatus) + " is not the low 8 bits of " + std::to_string(row.code);
  } else if (state != std::to_string(row.code)) {
    row.agreement = "the log's last state line says '" + state + "'";
  }
}

}  // namespace

Rehearsal rehearse(const RehearsalOptions& options) {
  Rehearsal out;
  std::error_code error;
  const fs::path packages = options.packages, bin = options.binDir;
  if (!fs::is_directory(packages, error)) {
    out.problem = "no packages folder " + options.packages;
    return out;
  }
  // Copying it here would follow its links, and every row would then take
  // a package that every notebook refuses.
  if (const std::vector<CopyRefusal> refusals = copyRefusals(options.packages); !refusals.empty()) {
    out.problem = describeRefusal(refusals.front()) +
                  ": the installer refuses to copy the package and every machine stops with 102 (see the "
                  "checker)";
    return out;
  }
  if (!fs::is_regular_file(bin / "OvVBiosInstaller", error)) {
    out.problem =
        "no installer at " + (bin / "OvVBiosInstaller").string() + " (build it with make build-linux)";
    return out;
  }
  TemporaryFolder temporary;
  if (temporary.path().empty()) {
    out.problem = "cannot make a temporary folder";
    return out;
  }
  const fs::path program = temporary.path() / "program";
  fs::create_directories(program, error);
  fs::copy(packages, program / "packages", fs::copy_options::recursive, error);
  fs::copy_file(bin / "OvVBiosInstaller", program / "OvVBiosInstaller", error);
  if (error) {
    out.problem = "cannot copy the package and the installer: " + error.message();
    return out;
  }

  LogWriter noLog;
  VBiosConfigs configs(noLog);
  const std::string text =
      package::decodeText(readAll(program / "packages" / "configs.txt", kMaxConfigFileBytes));
  const bool readable = readPackage(text, configs);
  if (!readable)
    out.notes.push_back("configs.txt does not read cleanly: every machine stops in step 1 (see the checker)");
  // The vendor's tools cannot run here; the simulated stand-ins play them,
  // but only a program Windows could start: a ROM image named as an NVIDIA
  // package's flash program stays what it is, and its rows end as a
  // notebook's would.
  std::vector<std::pair<std::string, std::string>> standIns;
  std::vector<int> unplayable;  // entries whose flash program Windows cannot start
  if (configs.isAmdType()) {
    standIns = {{"amdvbflash.exe", "amdvbflash.exe"}, {"devcon64.exe", "devcon64.exe"}};
  } else {
    for (int32_t i = 0; i < package::countRomEntries(configs); ++i) {
      const std::string& rom = configs.vb[i].vbRom;
      if (!platform::isContainedRelativePath(rom) || rom.find('\\') != std::string::npos) continue;
      if (platform::isWindowsProgramName(rom)) {
        standIns.push_back({"vendorflash.exe", rom});
      } else {
        unplayable.push_back(i);
        out.notes.push_back("entry " + std::to_string(i) + "'s flash program " + rom +
                            " is not a Windows program: Windows cannot start it, so no stand-in plays it and "
                            "every flash of entry " +
                            std::to_string(i) + " ends as on a notebook");
      }
    }
  }
  for (const auto& [standIn, name] : standIns) {
    fs::copy_file(bin / standIn, program / "packages" / name, fs::copy_options::overwrite_existing, error);
    out.notes.push_back(name + " is played by the simulated stand-in " + standIn);
  }

  std::vector<RehearsalMachine> machines;
  if (!options.machinesDir.empty()) {
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(options.machinesDir, error))
      if (fs::is_regular_file(entry.path() / "machine.ini")) folders.push_back(entry.path());
    std::sort(folders.begin(), folders.end());
    for (const fs::path& folder : folders)
      machines.push_back({folder.filename().string(), readAll(folder / "machine.ini"),
                          fs::exists(folder / "registry.reg") ? readAll(folder / "registry.reg") : "", -1,
                          false});
    for (const RehearsalMachine& machine : machines)
      for (const std::string& warning : unknownMachineKeys(machine.machineIni))
        out.notes.push_back("machine " + machine.name + ", machine.ini " + warning);
    if (machines.empty()) {
      out.problem = "no machine to rehearse on: " + options.machinesDir +
                    " holds no folder with a machine.ini (one folder per machine)";
      return out;
    }
  } else {
    machines = defaultMatrix(configs, readable ? namedBoards(text) : std::vector<NamedBoard>{});
    if (machines.empty()) {
      out.problem = "no machine to rehearse on: the matrix is made from the package's entries, and " +
                    std::string(!readable ? "configs.txt does not read (check it with OvVBiosPackageCheck)"
                                          : "configs.txt has no entry with a hardware ID (VBiosHWID_0)") +
                    "; or give machines of your own with --machines DIR";
      return out;
    }
  }

  // Machines that wait for a time-out go first, so the rest run beside them.
  std::stable_partition(machines.begin(), machines.end(), [](const RehearsalMachine& m) { return m.slow; });
  std::vector<PoolJob> jobs;
  for (size_t i = 0; i < machines.size(); ++i) {
    const fs::path root = temporary.path() / ("machine-" + std::to_string(i + 1));
    fs::create_directories(root, error);
    writeAll(root / "machine.ini", machines[i].machineIni);
    if (!machines[i].registryReg.empty()) writeAll(root / "registry.reg", machines[i].registryReg);
    jobs.push_back({(program / "OvVBiosInstaller").string(), root.string(), (root / "output.txt").string()});
  }
  const std::vector<PoolResult> results = runPool(jobs, options.jobs, options.limitSeconds);
  for (size_t i = 0; i < machines.size(); ++i) {
    RehearsalRow row;
    row.machine = machines[i].name;
    row.aimedAt = machines[i].expectedCode;
    row.ran = results[i].started;
    row.killed = results[i].killed;
    row.seconds = results[i].seconds;
    if (row.ran && !row.killed) readOutcome(jobs[i].machineRoot, row, results[i].exitStatus, configs);
    if (row.killed) row.log = readAll(fs::path(jobs[i].machineRoot) / "drive_c/Windows/Log/OrvoVbInst.txt");
    const int entry = machines[i].entry;
    if (row.code == result::kFlashError &&
        std::find(unplayable.begin(), unplayable.end(), entry) != unplayable.end())
      row.why = configs.vb[static_cast<size_t>(entry)].vbRom +
                " is not a Windows program, and Windows cannot start it (" + row.why + ")";
    out.rows.push_back(std::move(row));
  }
  return out;
}

bool endedAsMadeFor(const RehearsalRow& row) {
  return row.ran && !row.killed && row.agreement.empty() && row.code >= 0 &&
         (row.aimedAt < 0 || row.aimedAt == row.code);
}

int Rehearsal::exitCode() const {
  if (!problem.empty() || rows.empty()) return 2;
  return std::all_of(rows.begin(), rows.end(), endedAsMadeFor) ? 0 : 1;
}

}  // namespace kit
