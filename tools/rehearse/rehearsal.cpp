#include "tools/rehearse/rehearsal.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "common/log.h"
#include "common/log_words.h"
#include "common/result_codes.h"
#include "package/check_rules.h"
#include "package/config_line.h"
#include "package/config_text.h"
#include "package/package_signature.h"
#include "package/read_configs.h"
#include "package/vbios_configs.h"
#include "package/vbios_image.h"
#include "platform/ascii_text.h"
#include "platform/folder_listing.h"
#include "platform/folder_names.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/signature.h"
#include "simulated/machine_ini.h"
#include "simulated/trace_reader.h"
#include "tools/package_check/nvidia_version.h"
#include "tools/package_check/package_folder.h"
#include "tools/package_sign/sign_package.h"
#include "tools/package_sign/throwaway_signer.h"
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

// What each AMD entry's image says, read as the flash step reads it.
std::map<int, package::ImageReading> entryImages(const VBiosConfigs& configs, const fs::path& packages) {
  std::map<int, package::ImageReading> images;
  for (int32_t i = 0; i < package::countRomEntries(configs); ++i) {
    const fs::path image = packages / configs.vb[i].vbRom;
    std::error_code error;
    if (!platform::isPlainName(configs.vb[i].vbRom) || !fs::is_regular_file(image, error)) continue;
    images[i] = package::readVbiosImage(readAll(image, package::kMaxVbiosImageBytes + 1));
  }
  return images;
}

// The package's file of that name, in the letter case the package spells it
// (Windows finds either); empty when the package has none.
std::string packageFileNamed(const fs::path& folder, std::string_view name) {
  std::error_code error;
  if (fs::is_regular_file(folder / name, error)) return std::string(name);
  const std::string lower = platform::lowerAscii(name);
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code typeError;
    const std::string file = it->path().filename().string();
    if (it->is_regular_file(typeError) && platform::lowerAscii(file) == lower) return file;
  }
  return {};
}

// Whether an entry's prefix names the GPU's vendor and device (or the vendor
// alone, which then takes every device of it).
bool isTargeted(const package::PciIds& gpu, const VBiosConfigs& configs) {
  for (int32_t i = 0; i < package::countRomEntries(configs); ++i) {
    const package::PciIds entry = package::pciIdsOf(configs.vb[i].vbHWID);
    if (entry.vendor && entry.vendor == gpu.vendor && (!entry.device || entry.device == gpu.device))
      return true;
  }
  return false;
}

// The GPU a machine carries, as vendor:device, and whether the package
// targets it: the first [pnp] device one of the package's entries matches,
// or else the first device.
void readGpu(const std::string& machineIni, const VBiosConfigs& configs, RehearsalRow& row) {
  std::optional<package::PciIds> first, matched;
  for (const std::string& line : simulated::MachineIni::parse(machineIni).getAll("pnp", "device")) {
    std::string_view id = std::string_view(line).substr(0, line.find('|'));
    while (!id.empty() && (id.back() == ' ' || id.back() == '\t')) id.remove_suffix(1);
    const package::PciIds ids = package::pciIdsOf(id);
    if (!ids.vendor || !ids.device) continue;
    if (!first) first = ids;
    for (int32_t i = 0; i < package::countRomEntries(configs) && !matched; ++i)
      if (package::hardwareIdMatches(id, configs.vb[i].vbHWID)) matched = ids;
    if (matched) break;
  }
  const std::optional<package::PciIds>& gpu = matched ? matched : first;
  row.gpu = gpu ? package::pciPair(*gpu->vendor, *gpu->device) : "no GPU";
  row.targeted = gpu && isTargeted(*gpu, configs);
}

// Why a row ended so, in the log's own words: its last ERROR or WARNING
// line, or where the entry after it says why (a failure's detail: the
// operation's name, ": ", the reason, then an "   at" line), that reason.
// Quoted with its line number, so the author can find it.
std::string lastProblem(const std::string& log) {
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line) && lines.size() < 100000;) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  auto entryText = [&](size_t i) -> std::string_view {
    const std::string_view line = lines[i];
    const size_t close = line.find(']');
    return line.starts_with('[') && close != std::string_view::npos ? line.substr(close + 1)
                                                                    : std::string_view();
  };
  size_t last = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view text = entryText(i);
    if (text.starts_with("ERROR") || text.starts_with("WARNING")) last = i;
  }
  if (last == lines.size()) return {};
  size_t quotedLine = last;
  std::string text(entryText(last));
  if (last + 2 < lines.size() && lines[last + 2].starts_with("   at ")) {
    const std::string_view detail = entryText(last + 1);
    const size_t colon = detail.find(": ");
    if (colon != std::string_view::npos && detail.substr(0, colon).find(' ') == std::string_view::npos) {
      quotedLine = last + 1;
      text = detail.substr(colon + 2);
    }
  }
  if (text.size() > 200) text = text.substr(0, 197) + "...";
  return "OrvoVbInst.txt line " + std::to_string(quotedLine + 1) + ": \"" + text + "\"";
}

// The installer's signature check of the author's package, made before
// anything of it is copied, as the installer rehearsed (signed with
// `options.signer`, or unsigned) makes it.
bool checkSignature(const RehearsalOptions& options, Rehearsal& out, package::PackageSignatureCheck& check,
                    std::string& signerBytes) {
  std::optional<platform::Certificate> signer;
  if (!options.signer.empty()) {
    signerBytes = readAll(options.signer, 2 * platform::kMaxCertificateBytes + 1);
    platform::Certificate certificate;
    if (signerBytes.size() > 2 * platform::kMaxCertificateBytes ||
        platform::readCertificate(signerBytes, certificate).failed()) {
      out.problem = "--signer " + options.signer + " is not one certificate (PEM or DER)";
      return false;
    }
    signer = std::move(certificate);
  }
  const std::string at = platform::pathOfNative(options.packages);
  if (at.empty()) {
    out.problem = "no Windows name for " + options.packages;
    return false;
  }
  check = package::checkPackageSignature(at, signer);
  return true;
}

std::string signatureNote(const package::PackageSignatureCheck& check, bool signedProgram) {
  switch (check.verdict) {
    case package::SignatureVerdict::Unsigned:
      return "the package is not signed: these are an unsigned installer's runs; a signed installer stops "
             "with " +
             std::to_string(result::kPackageNotSigned) +
             " on every machine (rehearse it with --signer cert.pem)";
    case package::SignatureVerdict::Verified:
      return "the package is signed by " + check.signer +
             (signedProgram ? ", the certificate given with --signer" : "") +
             "; the stand-ins change its tools, so the rehearsal signs its copy again with a throwaway "
             "certificate the machines' installer trusts in its place";
    case package::SignatureVerdict::Refused:
      break;
  }
  return "package signature: " + check.reason + " (" + check.detail + "): every machine stops with " +
         std::to_string(result::kPackageNotSigned) + " before anything of the package runs";
}

// Where a simulated machine keeps a file of its C: drive.
fs::path onDriveC(const fs::path& root, std::string_view windowsPath) {
  std::string below(windowsPath.substr(std::string_view("C:\\").size()));
  std::replace(below.begin(), below.end(), '\\', '/');
  return root / "drive_c" / below;
}

std::string readRunLog(const fs::path& root) { return readAll(onDriveC(root, kLogPath)); }

void readOutcome(const fs::path& root, RehearsalRow& row, int exitStatus, const VBiosConfigs& configs) {
  row.log = readRunLog(root);
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
  const std::string stateLine = "]" + std::string(kLogStatePrefix);
  if (const size_t at = row.log.rfind(stateLine); at != std::string::npos) {
    const size_t from = at + stateLine.size();
    state = row.log.substr(from, row.log.find('\r', at) - from);
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

// Why the package and the installer cannot be rehearsed as they are; empty
// when they can.
std::string whyNotRehearsable(const RehearsalOptions& options) {
  std::error_code error;
  if (!fs::is_directory(options.packages, error)) return "no packages folder " + options.packages;
  // Copying it here would follow its links, and every row would then take
  // a package that every notebook refuses.
  if (const std::vector<CopyRefusal> refusals = copyRefusals(options.packages); !refusals.empty())
    return describeRefusal(refusals.front()) +
           ": the installer refuses to copy the package and every machine stops with 102 (see the checker)";
  if (const PackageFolder folder = loadPackageFolder(options.packages, {});
      !folder.hasConfig && !folder.configBelow.empty()) {
    const std::string& below = folder.configBelow.front();
    return "no configs.txt in " + options.packages + ", but the folder '" + below +
           "' inside holds one: the package was unpacked with its own top folder, and every notebook stops "
           "with 101. Move what '" +
           below + "' holds up into the packages folder, or rehearse " +
           (fs::path(options.packages) / below).string() + " itself";
  }
  const fs::path installer = fs::path(options.binDir) / "OvVBiosInstaller";
  if (!fs::is_regular_file(installer, error))
    return "no installer at " + installer.string() + " (build it with make build-linux)";
  return {};
}

// The installer with the package beside it, as a notebook has them. Returns
// why it could not be made, or nothing.
std::string placeProgram(const RehearsalOptions& options, const fs::path& program) {
  const fs::path bin = options.binDir;
  std::error_code error;
  // Each step's own error: a later success must not hide an earlier failure.
  if (fs::create_directories(program, error); !error) {
    fs::copy(options.packages, program / "packages", fs::copy_options::recursive, error);
    if (!error) fs::copy_file(bin / "OvVBiosInstaller", program / "OvVBiosInstaller", error);
  }
  if (error) return "cannot copy the package and the installer: " + error.message();
  return {};
}

// The vendor's tools cannot run here; the simulated stand-ins play them,
// but only a program Windows could start: a ROM image named as an NVIDIA
// package's flash program stays what it is, and its rows end as a
// notebook's would. A tool the package lacks is missing on the rehearsal's
// machines as on a notebook: a stand-in takes the place of the package's
// own, and fills a gap only when the author asks for it with --tools, saying
// so. Adds the entries no stand-in plays to `unplayable`; returns why a
// stand-in could not be placed, or nothing.
std::string placeStandIns(const VBiosConfigs& configs, const RehearsalOptions& options,
                          const fs::path& program, Rehearsal& out, std::vector<int>& unplayable) {
  const fs::path packages = program / "packages";
  std::error_code error;
  auto playTool = [&](const std::string& standIn, const std::string& name, const std::string& without) {
    const std::string own = packageFileNamed(packages, name);
    if (!own.empty()) {
      fs::copy_file(fs::path(options.binDir) / standIn, packages / own, fs::copy_options::overwrite_existing,
                    error);
      out.notes.push_back(own + " is played by the stand-in " + standIn + " in place of the package's own " +
                          own);
    } else if (!options.toolsDir.empty()) {
      fs::copy_file(fs::path(options.toolsDir) / standIn, packages / name,
                    fs::copy_options::overwrite_existing, error);
      out.notes.push_back(name + " is not in the package: the stand-in " + standIn +
                          " from --tools plays it here. Ship the real one; without it " + without);
    } else {
      out.notes.push_back(
          name + " is not in the package, so the machines here lack it as a notebook would: " + without);
    }
    return !error;
  };
  if (configs.isAmdType()) {
    if (!playTool("amdvbflash.exe", "amdvbflash.exe",
                  "no VBIOS version can be read, 2004 on every machine with a matching GPU") ||
        !playTool("devcon64.exe", "devcon64.exe",
                  "the flash tool's driver cannot be installed, 1003 on every machine with a matching GPU"))
      return "cannot place a stand-in tool in the package's copy: " + error.message();
    return {};
  }
  for (int32_t i = 0; i < package::countRomEntries(configs); ++i) {
    const std::string& rom = configs.vb[i].vbRom;
    if (!platform::isContainedRelativePath(rom) || rom.find('\\') != std::string::npos) continue;
    if (platform::isWindowsProgramName(rom)) {
      if (!playTool("vendorflash.exe", rom,
                    "the flash step stops with 905 wherever entry " + std::to_string(i) + " is flashed"))
        return "cannot place the stand-in vendorflash.exe as " + rom + ": " + error.message();
    } else {
      unplayable.push_back(i);
      out.notes.push_back("entry " + std::to_string(i) + "'s flash program " + rom +
                          " is not a Windows program: Windows cannot start it, so no stand-in plays it and "
                          "every flash of entry " +
                          std::to_string(i) + " ends as on a notebook");
    }
  }
  return {};
}

// A verified package's copy is signed again, with a throwaway certificate
// that the machines' installer trusts, since the stand-ins change its tools;
// `signerBytes` becomes that certificate. Returns why it could not be, or
// nothing.
std::string resignCopy(const fs::path& program, std::string& signerBytes) {
  const ThrowawaySigner throwaway = makeThrowawaySigner("OvVBiosRehearse throwaway signer");
  const SignedPackage resigned = throwaway.problem.empty() ? signPackage((program / "packages").string(),
                                                                         throwaway.pkcs12, throwaway.password)
                                                           : SignedPackage{throwaway.problem, {}, {}};
  if (!resigned.problem.empty())
    return "cannot sign the rehearsal's copy of the package again: " + resigned.problem;
  signerBytes = throwaway.certificatePem;
  return {};
}

// The author's own machines, one folder each. Returns why there are none
// to rehearse on, or nothing.
std::string authorsMachines(const std::string& machinesDir, std::vector<RehearsalMachine>& machines,
                            Rehearsal& out) {
  std::error_code error;
  std::vector<fs::path> folders;
  for (const auto& entry : fs::directory_iterator(machinesDir, error))
    if (fs::is_regular_file(entry.path() / "machine.ini")) folders.push_back(entry.path());
  std::sort(folders.begin(), folders.end());
  for (const fs::path& folder : folders)
    machines.push_back({folder.filename().string(), readAll(folder / "machine.ini"),
                        fs::exists(folder / "registry.reg") ? readAll(folder / "registry.reg") : "", -1,
                        false});
  for (const RehearsalMachine& machine : machines)
    for (const std::string& warning : unknownMachineKeys(machine.machineIni))
      out.notes.push_back("machine " + machine.name + ", machine.ini " + warning);
  if (machines.empty())
    return "no machine to rehearse on: " + machinesDir +
           " holds no folder with a machine.ini (one folder per machine)";
  return {};
}

// The matrix made from the package itself.
std::string matrixMachines(const VBiosConfigs& configs, bool readable, const std::string& text,
                           const fs::path& program, std::vector<RehearsalMachine>& machines) {
  machines = defaultMatrix(configs, readable ? namedBoards(text) : std::vector<NamedBoard>{},
                           configs.isAmdType() ? entryImages(configs, program / "packages")
                                               : std::map<int, package::ImageReading>{});
  if (!machines.empty()) return {};
  return "no machine to rehearse on: the matrix is made from the package's entries, and " +
         std::string(!readable ? "configs.txt does not read (check it with OvVBiosPackageCheck)"
                               : "configs.txt has no entry with a hardware ID (VBiosHWID_0)") +
         "; or give machines of your own with --machines DIR";
}

// One machine root per machine, in the order they are to start. Returns why
// one could not be made, or nothing.
std::string makeMachineRoots(const std::vector<RehearsalMachine>& machines, const fs::path& temporary,
                             const fs::path& program, const std::string& programSigner,
                             std::vector<PoolJob>& jobs) {
  for (size_t i = 0; i < machines.size(); ++i) {
    const fs::path root = temporary / ("machine-" + std::to_string(i + 1));
    std::error_code error;
    fs::create_directories(root, error);
    // The last [program] signer wins, so an author's machine is signed too.
    const std::string ini = machines[i].machineIni +
                            (programSigner.empty() ? "" : "\n[program]\nsigner = " + programSigner + "\n");
    if (error || !writeAll(root / "machine.ini", ini) ||
        (!machines[i].registryReg.empty() && !writeAll(root / "registry.reg", machines[i].registryReg)))
      return "cannot make the machine " + machines[i].name + " in " + root.string() +
             (error ? ": " + error.message() : std::string());
    jobs.push_back({(program / "OvVBiosInstaller").string(), root.string(), (root / "output.txt").string()});
  }
  return {};
}

RehearsalRow readRow(const RehearsalMachine& machine, const PoolJob& job, const PoolResult& result,
                     const VBiosConfigs& configs, const std::vector<int>& unplayable) {
  RehearsalRow row;
  row.machine = machine.name;
  row.aimedAt = machine.expectedCode;
  readGpu(machine.machineIni, configs, row);
  row.ran = result.started;
  row.killed = result.killed;
  row.seconds = result.seconds;
  if (row.ran && !row.killed) readOutcome(job.machineRoot, row, result.exitStatus, configs);
  if (row.killed) row.log = readRunLog(job.machineRoot);
  const int entry = machine.entry;
  if (row.code == result::kFlashError &&
      std::find(unplayable.begin(), unplayable.end(), entry) != unplayable.end())
    row.why = configs.vb[static_cast<size_t>(entry)].vbRom +
              " is not a Windows program, and Windows cannot start it (" + row.why + ")";
  return row;
}

}  // namespace

Rehearsal rehearse(const RehearsalOptions& options) {
  Rehearsal out;
  if (out.problem = whyNotRehearsable(options); !out.problem.empty()) return out;
  package::PackageSignatureCheck signature;
  std::string signerBytes;
  if (!checkSignature(options, out, signature, signerBytes)) return out;
  out.notes.push_back(signatureNote(signature, !options.signer.empty()));
  TemporaryFolder temporary;
  if (temporary.path().empty()) {
    out.problem = "cannot make a temporary folder";
    return out;
  }
  const fs::path program = temporary.path() / "program";
  if (out.problem = placeProgram(options, program); !out.problem.empty()) return out;

  LogWriter noLog;
  VBiosConfigs configs(noLog);
  const std::string text =
      package::decodeText(readAll(program / "packages" / "configs.txt", kMaxConfigFileBytes));
  const bool readable = readPackage(text, configs);
  if (!readable)
    out.notes.push_back("configs.txt does not read cleanly: every machine stops in step 1 (see the checker)");
  std::vector<int> unplayable;  // entries whose flash program Windows cannot start
  // A refused package runs nothing, and its copy stays the author's bytes,
  // so each run names the same fault the check above found.
  if (signature.verdict != package::SignatureVerdict::Refused)
    if (out.problem = placeStandIns(configs, options, program, out, unplayable); !out.problem.empty())
      return out;
  if (signature.verdict == package::SignatureVerdict::Verified)
    if (out.problem = resignCopy(program, signerBytes); !out.problem.empty()) return out;
  // The certificate the machines' installer is signed with ([program] signer).
  std::string programSigner;
  if (!options.signer.empty()) {
    programSigner = (temporary.path() / "program-signer.pem").string();
    if (!writeAll(programSigner, signerBytes)) {
      out.problem = "cannot write " + programSigner;
      return out;
    }
  }

  std::vector<RehearsalMachine> machines;
  out.problem = options.machinesDir.empty() ? matrixMachines(configs, readable, text, program, machines)
                                            : authorsMachines(options.machinesDir, machines, out);
  if (!out.problem.empty()) return out;

  // Machines that wait for a time-out go first, so the rest run beside them.
  std::stable_partition(machines.begin(), machines.end(), [](const RehearsalMachine& m) { return m.slow; });
  std::vector<PoolJob> jobs;
  if (out.problem = makeMachineRoots(machines, temporary.path(), program, programSigner, jobs);
      !out.problem.empty())
    return out;
  const std::vector<PoolResult> results = runPool(jobs, options.jobs, options.limitSeconds);
  for (size_t i = 0; i < machines.size(); ++i)
    out.rows.push_back(readRow(machines[i], jobs[i], results[i], configs, unplayable));
  return out;
}

bool endedAsMadeFor(const RehearsalRow& row) {
  // A machine nobody predicted is fine only where a notebook would be:
  // flashed or found up to date.
  return row.ran && !row.killed && row.agreement.empty() && row.code >= 0 &&
         (row.aimedAt < 0 ? row.code == result::kSuccess || row.code == result::kUpToDate
                          : row.aimedAt == row.code);
}

bool wasFlashed(const RehearsalRow& row) {
  return row.ran && !row.killed && !row.flashedRom.empty() &&
         (row.code == result::kSuccess || row.code >= result::kClosingStepsBase);
}

int Rehearsal::exitCode() const {
  if (!problem.empty() || rows.empty()) return 2;
  if (!std::all_of(rows.begin(), rows.end(), endedAsMadeFor)) return 1;
  return std::any_of(rows.begin(), rows.end(), wasFlashed) ? 0 : 1;
}

}  // namespace kit
