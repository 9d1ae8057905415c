// The kit's programs as their users start them: the checker's exit codes
// and the log explainer on logs the installer itself wrote.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "tests/e2e/installer_run.h"
#include "tests/e2e/package_signing.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
  int exitCode = -1;
  std::string output;
};

// `name` empty: `arguments` is the whole command.
ToolRun runTool(const std::string& name, const std::string& arguments, const std::string& environment = "") {
  ToolRun run;
  const std::string program = name.empty() ? "" : std::string(OVVB_BIN_DIR) + "/" + name + " ";
  const std::string command = environment + (environment.empty() ? "" : " ") + program + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string example(const std::string& path) { return std::string(OVVB_SOURCE_DIR) + "/examples/" + path; }

TEST(KitTools, CheckerExitCodeSaysCleanWarningsOrErrors) {
  // The stand-ins beside the checker count only when named: a package
  // without its tools stops every notebook, whatever machine checks it.
  const std::string tools = std::string(" --tools ") + OVVB_BIN_DIR;
  struct Case {
    std::string arguments;
    int exitCode;
  } cases[] = {{example("packages/amd-dock") + tools, 1},  // unsigned: a warning
               {example("packages/amd-dock"), 2},
               {example("broken-packages/typos") + tools, 1},
               {example("broken-packages/no-match") + tools, 2}};
  for (const Case& c : cases) {
    const ToolRun run = runTool("OvVBiosPackageCheck", c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.output;
  }
  const ToolRun json = runTool("OvVBiosPackageCheck", example("broken-packages/no-match") + " --json");
  EXPECT_NE(json.output.find("\"id\": \"no-entry-can-match\""), std::string::npos) << json.output;
  EXPECT_EQ(runTool("OvVBiosPackageCheck", "").exitCode, 3);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The test signer's key and certificate as the PKCS#12 file an author signs
// with (password "pw").
std::string pkcs12Of(const e2e::TestSigner& signer, const fs::path& dir) {
  const fs::path p12 = dir / (signer.certificate.stem().string() + ".p12");
  const ToolRun made =
      runTool("", "openssl pkcs12 -export -inkey '" + signer.key.string() + "' -in '" +
                      signer.certificate.string() + "' -out '" + p12.string() + "' -passout pass:pw");
  EXPECT_EQ(made.exitCode, 0) << made.output;
  return "'" + p12.string() + "'";
}

fs::path signedCopy(const fs::path& dir, const std::string& certificate) {
  const fs::path copy = dir / "signed";
  fs::copy(example("packages/amd-dock"), copy, fs::copy_options::recursive);
  const ToolRun signing =
      runTool("OvVBiosPackageSign", copy.string() + " --pkcs12 " + certificate, "OVVB_SIGN_PASSWORD=pw");
  EXPECT_EQ(signing.exitCode, 0) << signing.output;
  return copy;
}

// What the signer writes is what sha256sum and openssl read, and what the
// installer's own check accepts; the password never on the command line.
TEST(KitTools, SignerWritesAManifestAndSignatureOthersRead) {
  char pattern[] = "/tmp/ovvb-kit-sign-XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  const std::string quotedP12 = pkcs12Of(e2e::publisher(), dir);
  const fs::path copy = dir / "package";
  fs::copy(example("packages/amd-dock"), copy, fs::copy_options::recursive);
  fs::create_directories(copy / "docs");
  std::ofstream(copy / "docs/read me.txt") << "x";
  std::ofstream(copy / "package.sha256") << "an old manifest\n";

  const ToolRun signing =
      runTool("OvVBiosPackageSign", copy.string() + " --pkcs12 " + quotedP12, "OVVB_SIGN_PASSWORD=pw");
  ASSERT_EQ(signing.exitCode, 0) << signing.output;
  EXPECT_NE(signing.output.find("package.sha256: 4 files\n"), std::string::npos) << signing.output;
  EXPECT_NE(signing.output.find("  docs/read me.txt\n"), std::string::npos) << signing.output;
  EXPECT_NE(signing.output.find("package.sha256.p7s: signed by " + e2e::publisher().subject + "\n"),
            std::string::npos)
      << signing.output;
  const std::string in = "cd " + copy.string() + " && ";
  EXPECT_EQ(runTool("", in + "sha256sum --strict -c package.sha256").exitCode, 0);
  EXPECT_EQ(runTool("", in + "openssl cms -verify -binary -inform DER -in package.sha256.p7s -content "
                             "package.sha256 -noverify -out /dev/null")
                .exitCode,
            0);
  EXPECT_EQ(runTool("OvVBiosPackageCheck", copy.string() + " --tools " + OVVB_BIN_DIR).exitCode, 0);

  // From standard input when the variable is not set; a wrong one writes nothing.
  const std::string signedBefore = readFile(copy / "package.sha256.p7s");
  EXPECT_EQ(runTool("", "echo pw | " + std::string(OVVB_BIN_DIR) + "/OvVBiosPackageSign " + copy.string() +
                            " --pkcs12 " + quotedP12)
                .exitCode,
            0);
  std::ofstream(copy / "configs.txt", std::ios::app) << "# changed\n";
  const ToolRun wrong = runTool("", "echo wrong | " + std::string(OVVB_BIN_DIR) + "/OvVBiosPackageSign " +
                                        copy.string() + " --pkcs12 " + quotedP12);
  EXPECT_EQ(wrong.exitCode, 2) << wrong.output;
  EXPECT_NE(wrong.output.find("the password does not open the PKCS#12 file"), std::string::npos)
      << wrong.output;
  EXPECT_NE(readFile(copy / "package.sha256.p7s"), "");
  EXPECT_EQ(runTool("OvVBiosPackageCheck", copy.string() + " --tools " + OVVB_BIN_DIR).exitCode, 2);

  // A package the installer's copy refuses is not signed.
  fs::create_directory_symlink(dir, copy / "up");
  const ToolRun linked =
      runTool("OvVBiosPackageSign", copy.string() + " --pkcs12 " + quotedP12, "OVVB_SIGN_PASSWORD=pw");
  EXPECT_EQ(linked.exitCode, 2) << linked.output;
  EXPECT_NE(linked.output.find("up is a link or junction"), std::string::npos) << linked.output;
  EXPECT_EQ(runTool("OvVBiosPackageSign", copy.string()).exitCode, 3);
  fs::remove_all(dir);
}

// Three runs on one German notebook: a flash, the same package again (up to
// date), and a package folder without configs.txt.
TEST(KitTools, LogExplainerTellsEachRunOfAGermanLog) {
  e2e::InstallerRun run;
  run.usePackage("amd-dock");
  run.writeMachine(e2e::amdMachine().set("user", "lcid", "1031"));
  ASSERT_EQ(run.run(), 0) << run.output;
  ASSERT_EQ(run.run(), 1) << run.output;
  fs::remove(run.packages / "configs.txt");
  ASSERT_EQ(run.run(), 101) << run.output;

  const fs::path log = run.machine / "drive_c/Windows/Log/OrvoVbInst.txt";
  const ToolRun explained = runTool("OvVBiosLogExplain", log.string());
  ASSERT_EQ(explained.exitCode, 0) << explained.output;
  const std::string& out = explained.output;
  EXPECT_NE(out.find(", 3 runs\n"), std::string::npos) << out;
  // German stamps: day.month.year and a 24-hour clock.
  const std::regex started(R"(\nRun 1 \(lines 1-\d+\), started \d{2}\.\d{2}\.\d{4} \d{1,2}:\d{2}:\d{2}\n)");
  EXPECT_TRUE(std::regex_search(out, started)) << out;
  EXPECT_NE(out.find("steps: 9 reached, the last STEP9: Install VBIOS\n  logged: " +
                     std::string(e2e::kUnsignedWarning) +
                     "\n  VBIOS: flashed 'kestrel_rx6700.rom'\n"
                     "  result: 0, The VBIOS was flashed"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("steps: 7 reached, the last STEP7: check VBIOS uptodate\n  logged: " +
                     std::string(e2e::kUnsignedWarning) +
                     "\n  VBIOS: already up to date, nothing flashed\n  result: 1, "),
            std::string::npos)
      << out;
  // The failure's detail is quoted, not pointed at.
  EXPECT_TRUE(std::regex_search(out, std::regex("logged: ERROR configs.txt Not Found; the detail on line "
                                                "[0-9]+: \"ReadFile .*configs.txt failed: .*\\(error 2\\)\"\n"
                                                "  result: 101, configs.txt not found \\(failure exit\\)")))
      << out;
}

// A run written beside a log that a reader held: the explainer tells that
// file's one run, and where it came from, as it tells the log's own.
TEST(KitTools, LogExplainerReadsARunWrittenBesideTheLog) {
  e2e::InstallerRun run;
  run.writeMachine(e2e::amdMachine());
  const fs::path folder = run.machine / "drive_c/Windows/Log";
  fs::create_directories(folder);
  std::ofstream(folder / "OrvoVbInst.txt") << "";
  const int holder = ::open((folder / "OrvoVbInst.txt").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_SH), 0);
  ASSERT_EQ(run.run(), 101) << run.output;
  ::close(holder);
  fs::path beside;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename() != "OrvoVbInst.txt") beside = entry.path();
  ASSERT_FALSE(beside.empty());
  const ToolRun explained = runTool("OvVBiosLogExplain", beside.string());
  ASSERT_EQ(explained.exitCode, 0) << explained.output;
  const std::string& out = explained.output;
  EXPECT_NE(
      out.find(", 1 run\nwritten instead of the installation log: WARNING C:\\Windows\\Log\\OrvoVbInst.txt "
               "cannot be written ("),
      std::string::npos)
      << out;
  EXPECT_EQ(out.find("before the first run"), std::string::npos) << out;
  EXPECT_NE(out.find("\nRun 1 (lines 2-"), std::string::npos) << out;
  EXPECT_NE(out.find("result: 101, configs.txt not found"), std::string::npos) << out;
}

// A support person's questions of one NVIDIA run: what was required and
// found (versions also as NVIDIA prints them), whether it flashed, and
// whether the registry's state record is of the same run.
TEST(KitTools, LogExplainerSetsRequiredBesideFoundAndChecksTheStateRecord) {
  e2e::InstallerRun run;
  run.usePackage("nv-dock");
  run.writeMachine(e2e::nvMachine());
  ASSERT_EQ(run.run(), 0) << run.output;
  const fs::path log = run.machine / "drive_c/Windows/Log/OrvoVbInst.txt";
  const fs::path registry = run.machine / "registry.reg";
  const ToolRun explained = runTool("OvVBiosLogExplain", log.string() + " --registry " + registry.string());
  ASSERT_EQ(explained.exitCode, 0) << explained.output;
  const std::string& out = explained.output;
  EXPECT_NE(out.find("  package: type KRNV (NVIDIA path)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  driver: required 31.0.15.3623, found "), std::string::npos) << out;
  EXPECT_NE(out.find("  VBIOS: the package's entry 0 installs 575593709570 (86.04.0F.00.02), found "),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("  VBIOS: flashed 'vendorflash.exe'\n  result: 0, "), std::string::npos) << out;
  EXPECT_EQ(out.find("flash tool's driver"), std::string::npos) << "an NVIDIA run installs none\n" << out;
  EXPECT_NE(out.find("registry: State 0, which agrees with the last run's state line\n"), std::string::npos)
      << out;

  // A record of another run, and an export of the wrong key.
  std::ofstream(run.dir / "other.reg", std::ios::binary)
      << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS]\r\n"
         "\"State\"=dword:000003e9\r\n";
  EXPECT_NE(runTool("OvVBiosLogExplain", log.string() + " --registry " + (run.dir / "other.reg").string())
                .output.find("registry: State 1001, but the last run's state line says 0: "),
            std::string::npos);
  std::ofstream(run.dir / "wrong.reg", std::ios::binary) << "Windows Registry Editor Version 5.00\r\n";
  EXPECT_NE(runTool("OvVBiosLogExplain", log.string() + " --registry " + (run.dir / "wrong.reg").string())
                .output.find("registry: no state record: it holds no key"),
            std::string::npos);
}

TEST(KitTools, LogExplainerSaysWhenALogEndsInsideARun) {
  e2e::InstallerRun run;
  run.usePackage("amd-dock");
  run.writeMachine(e2e::amdMachine());
  ASSERT_EQ(run.run(), 0);
  std::string text = run.logText();
  // Cut inside the second half of the log: the state line is gone.
  text += text.substr(0, text.size() / 2);
  const fs::path copy = run.dir / "copy.txt";
  FILE* file = std::fopen(copy.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  const ToolRun explained = runTool("OvVBiosLogExplain", copy.string());
  EXPECT_NE(explained.output.find(", 2 runs\n"), std::string::npos) << explained.output;
  EXPECT_NE(explained.output.find("result: none. The log has no state line for this run"), std::string::npos)
      << explained.output;

  // Cut while the flash tool runs: the one case where what to do next matters
  // most. Right after its start line: a flash the pacing never saw running
  // (a quick stand-in) writes no "is running" line.
  const std::string full = run.logText();
  const size_t flashing = full.find("]-fa -p 0 ");
  ASSERT_NE(flashing, std::string::npos);
  FILE* cut = std::fopen(copy.c_str(), "wb");
  std::fwrite(full.data(), 1, full.find('\n', flashing) + 1, cut);
  std::fclose(cut);
  const std::string interrupted = runTool("OvVBiosLogExplain", copy.string()).output;
  EXPECT_NE(
      interrupted.find("result: none. INTERRUPTED FLASH: the log ends inside step 9 with the flash tool "
                       "running"),
      std::string::npos)
      << interrupted;
  EXPECT_NE(
      interrupted.find("what to do: run the installer again at once on AC power, and do not restart before "
                       "it has finished."),
      std::string::npos)
      << interrupted;
}

}  // namespace

namespace {

// Every file of a folder with its bytes, to prove the rehearsal left it alone.
std::string snapshot(const fs::path& dir) {
  std::string all;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file()) all += entry.path().string() + "\n" + readFile(entry.path());
  return all;
}

// The table's rows: machine -> the code its run ended with.
std::map<std::string, std::string> tableRows(const std::string& output) {
  std::map<std::string, std::string> rows;
  const std::regex row(R"(^ *\d+[ *](.+?)  +(\S+)  +(\S+) )");
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, row)) rows[m[1]] = m[3];
  }
  return rows;
}

// A copy of an example package with one configs.txt line replaced.
fs::path packageWith(const fs::path& dir, const std::string& example, const std::string& pattern,
                     const std::string& line) {
  const fs::path copy = dir / "package";
  fs::copy(std::string(OVVB_SOURCE_DIR) + "/examples/" + example, copy, fs::copy_options::recursive);
  std::ifstream in(copy / "configs.txt");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(copy / "configs.txt", std::ios::binary)
      << std::regex_replace(text, std::regex(pattern), line);
  return copy;
}

class Rehearsal : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ovvb-kit-e2e-XXXXXX";
    dir = mkdtemp(pattern);
    fs::create_directories(dir / "tmp");
  }
  void TearDown() override { fs::remove_all(dir); }
  // Runs with its own TMPDIR, so what it leaves behind can be seen. The
  // example packages hold no vendor tools: the build's stand-ins fill them in
  // unless `tools` is false, when they are missing as on a notebook.
  ToolRun rehearse(const std::string& arguments, bool tools = true) {
    return runTool("OvVBiosRehearse",
                   arguments + (tools ? " --tools " + std::string(OVVB_BIN_DIR) : std::string()),
                   "TMPDIR=" + (dir / "tmp").string());
  }
  fs::path dir;
};

TEST_F(Rehearsal, EveryRowOfTheDefaultMatrixAgreesWithItsRun) {
  const std::string package = example("packages/amd-dock");
  const std::string before = snapshot(package);
  const fs::path report = dir / "report.html";
  const ToolRun run = rehearse(package + " --jobs 2 --report " + report.string());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output.find("DISAGREES"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(" ended as made for, 0 did not."), std::string::npos) << run.output;
  const std::map<std::string, std::string> expected = {
      {"entry 0, older VBIOS", "0"},
      {"entry 0, equal VBIOS", "1"},
      {"entry 0, newer VBIOS", "1"},
      {"entry 0, driver below the requirement", "402"},
      {"entry 0, driver at the requirement", "0"},
      {"entry 0, system BIOS below the requirement", "301"},
      {"entry 0, on battery, Cancel", "901"},
      {"entry 0, on battery, Retry after plugging in", "0"},
      {"entry 0, flash tool fails", "903"},
      {"entry 0, flash tool hangs", "902"},
      {"no matching GPU", "202"},
  };
  EXPECT_EQ(tableRows(run.output), expected) << run.output;
  EXPECT_NE(run.output.find("RestartForm: \"Attention Update completed, please restart the system.\""),
            std::string::npos)
      << run.output;

  EXPECT_EQ(snapshot(package), before);
  EXPECT_TRUE(fs::is_empty(dir / "tmp"));

  EXPECT_NE(run.output.find("\n11 machines: 11 ended as made for, 0 did not."), std::string::npos)
      << run.output;

  // The report read as a browser would: each row's dialog picture shows that
  // run's dialog and code.
  const ToolRun parsed = runTool(
      "", "python3 " + std::string(OVVB_SOURCE_DIR) + "/tests/e2e/check_report_html.py " + report.string());
  ASSERT_EQ(parsed.exitCode, 0) << parsed.output;
  std::istringstream rows(parsed.output);
  size_t count = 0;
  for (std::string line; std::getline(rows, line);) {
    if (line.starts_with("summary\t")) {
      EXPECT_EQ(line,
                "summary\t11 machines: 11 ended as made for, 0 did not. The package behaves as its machines "
                "expect.");
      continue;
    }
    ++count;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex(R"(\d+\t(.+)\t(\S+)\t(\S+)\t(\d+))"))) << line;
    EXPECT_EQ(expected.at(m[1]), m[3]) << line;
    EXPECT_EQ(m[2], m[3]) << line;
    EXPECT_GT(std::stoi(m[4]), 200) << "the log behind the fold of " << m[1];
  }
  EXPECT_EQ(count, expected.size()) << parsed.output;
}

// Packages that would fail on real notebooks: the rehearsal exits 1 and
// lists each row that did not end as its machine was made for, with why.
TEST_F(Rehearsal, APackageThatFailsOnNotebooksIsNamedRowByRow) {
  struct Case {
    std::string package;
    std::map<std::string, std::string> rows;  // some rows and the code each must end with
    std::vector<std::string> listed;          // lines of the closing list
    std::string options = "";                 // more of the command line
    bool tools = true;                        // stand-ins for the tools the package lacks
  };
  // An author's own NVIDIA notebook, with a driver version copied from an AMD
  // package: a machine nobody predicted counts only when flashed or current.
  fs::create_directories(dir / "machines");
  fs::copy(example("machines/kestrel-nv"), dir / "machines/own-nv", fs::copy_options::recursive);
  const fs::path amdDriver = dir / "amd-driver";
  fs::create_directories(amdDriver);
  const std::vector<Case> cases = {
      // The dock step reads the VBIOS through NVIDIA's interface.
      {example("broken-packages/ec-config-amd"),
       {{"entry 0, older VBIOS", "3002"}, {"entry 0, flash tool fails", "903"}},
       {"  #2 entry 0, older VBIOS: made for 0, ended 3002; OrvoVbInst.txt line "}},
      // A board's line before BiosVersion does not count there; a board's
      // value that is no number stops the read there.
      {example("broken-packages/board-bios-order"),
       {{"board K14XA, BIOS at its requirement 305", "0"},
        {"board K14XA, BIOS below its requirement", "301"},
        {"board K16XC, BIOS below its requirement", "301"},
        {"board K15XB, entry 0, older VBIOS", "102"}},
       {"  #14 board K15XB, entry 0, older VBIOS: made for 0, ended 102; "}},
      // The machine's GPU is listed as Windows spells it, which the prefix
      // does not start.
      {packageWith(dir, "packages/amd-dock", "PCI\\\\VEN", "VEN").string(),
       {{"entry 0, older VBIOS", "202"}},
       {"  #2 entry 0, older VBIOS: made for 0, ended 202; OrvoVbInst.txt line ",
        ": \"ERROR HWID not found\""}},
      // The package lacks devcon64.exe: no stand-in fills the gap unasked.
      {example("packages/amd-dock"),
       {{"entry 0, older VBIOS", "1003"}, {"no matching GPU", "202"}},
       {"note: devcon64.exe is not in the package, so the machines here lack it as a notebook would",
        "  #2 entry 0, older VBIOS: made for 0, ended 1003"},
       "",
       false},
      {packageWith(amdDriver, "packages/nv-dock", "VGAVersion=.*", "VGAVersion=31.0.21001.45002").string(),
       {{"own-nv", "402"}},
       {"own-nv: made for any, ended 402", "GPU 10DE:2520: 0 flashed, 0 up to date, 1 stop (402)",
        "No machine was flashed"},
       " --machines " + (dir / "machines").string()},
      // What the checker says of the images, each flash of an entry says too.
      {example("broken-packages/rom-images"),
       {{"entry 2, older VBIOS", "905"}, {"entry 2, flash tool fails", "905"}, {"entry 5, older VBIOS", "0"}},
       {"entry 2, older VBIOS: made for 0, ended 905; OrvoVbInst.txt line ",
        ": \"rx6800.rom is for device 1002:73BF; this GPU is 1002:73FF; nothing was flashed\"\n"}},
  };
  for (const Case& c : cases) {
    const ToolRun run = rehearse(c.package + " --jobs 2" + c.options, c.tools);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    const std::map<std::string, std::string> rows = tableRows(run.output);
    for (const auto& [machine, code] : c.rows) {
      ASSERT_TRUE(rows.count(machine)) << machine << "\n" << run.output;
      EXPECT_EQ(rows.at(machine), code) << machine << "\n" << run.output;
    }
    for (const std::string& line : c.listed)
      EXPECT_NE(run.output.find(line), std::string::npos) << run.output;
  }
}

TEST_F(Rehearsal, NoStandInPlaysAFlashProgramWindowsCannotStart) {
  const fs::path package =
      packageWith(dir, "broken-packages/nv-flash-rom", "VBiosVersion_0=.*", "VBiosVersion_0=575593709570");
  const ToolRun run = rehearse(package.string() + " --jobs 2");
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_EQ(tableRows(run.output).at("entry 0, older VBIOS"), "905") << run.output;
  EXPECT_NE(run.output.find("note: entry 0's flash program kestrel_3060.rom is not a Windows program"),
            std::string::npos)
      << run.output;
  EXPECT_NE(
      run.output.find("ended 905; kestrel_3060.rom is not a Windows program, and Windows cannot start it"),
      std::string::npos)
      << run.output;
}

// --signer: the installer signed with that certificate. Its own package
// runs as unsigned ones did; anything else ends 104 on every machine, with
// the reason the checker gives.
TEST_F(Rehearsal, ASignedInstallerRunsOnlyItsPublishersPackage) {
  const std::string signer = " --jobs 2 --signer '" + e2e::publisher().certificate.string() + "'";
  const fs::path package = signedCopy(dir, pkcs12Of(e2e::publisher(), dir));
  const ToolRun good = rehearse(package.string() + signer);
  EXPECT_EQ(good.exitCode, 0) << good.output;
  EXPECT_NE(good.output.find("note: the package is signed by " + e2e::publisher().subject +
                             ", the certificate given with --signer"),
            std::string::npos)
      << good.output;
  EXPECT_EQ(tableRows(good.output).at("entry 0, older VBIOS"), "0") << good.output;

  struct Case {
    const char* name;
    std::function<void()> change;
    std::string reason;
  } cases[] = {
      {"a ROM changed", [&] { std::ofstream(package / "kestrel_rx6700.rom", std::ios::app) << "x"; },
       "kestrel_rx6700.rom changed since signing"},
      {"another signer",
       [&] {
         ASSERT_EQ(
             runTool("OvVBiosPackageSign", package.string() + " --pkcs12 " + pkcs12Of(e2e::stranger(), dir),
                     "OVVB_SIGN_PASSWORD=pw")
                 .exitCode,
             0);
       },
       "signed by \"" + e2e::stranger().subject + "\" and not by the program's publisher \"" +
           e2e::publisher().subject + "\""},
      {"unsigned",
       [&] {
         fs::remove(package / "package.sha256");
         fs::remove(package / "package.sha256.p7s");
       },
       "no signature"},
  };
  for (const Case& c : cases) {
    c.change();
    const ToolRun run = rehearse(package.string() + signer);
    EXPECT_EQ(run.exitCode, 1) << c.name << "\n" << run.output;
    for (const auto& [machine, code] : tableRows(run.output))
      EXPECT_EQ(code, "104") << c.name << ": " << machine;
    EXPECT_NE(run.output.find("note: package signature: " + c.reason), std::string::npos) << c.name << "\n"
                                                                                          << run.output;
    EXPECT_NE(run.output.find("ended 104; OrvoVbInst.txt line "), std::string::npos) << c.name << "\n"
                                                                                     << run.output;
    EXPECT_EQ(run.output.find("played by the stand-in"), std::string::npos) << c.name;
  }
  // The checker, as an unsigned installer sees the unsigned package.
  EXPECT_NE(runTool("OvVBiosPackageCheck", package.string()).output.find("a signed installer stops with 104"),
            std::string::npos);
}

TEST_F(Rehearsal, NothingToRehearseSaysWhyAndExitsTwo) {
  fs::create_directories(dir / "no-machines");
  const ToolRun empty =
      rehearse(example("packages/amd-dock") + " --machines " + (dir / "no-machines").string());
  EXPECT_EQ(empty.exitCode, 2) << empty.output;
  EXPECT_NE(empty.output.find("holds no folder with a machine.ini"), std::string::npos) << empty.output;
  const ToolRun unpackedWithItsFolder = rehearse(example("packages"));
  EXPECT_EQ(unpackedWithItsFolder.exitCode, 2) << unpackedWithItsFolder.output;
  EXPECT_NE(unpackedWithItsFolder.output.find("the folder 'amd-dock' inside holds one"), std::string::npos)
      << unpackedWithItsFolder.output;
  const ToolRun unreadable = rehearse(example("broken-packages/bad-bios-number"));
  EXPECT_EQ(unreadable.exitCode, 2) << unreadable.output;
  EXPECT_NE(unreadable.output.find("configs.txt does not read"), std::string::npos) << unreadable.output;
  // Its copy would follow the link; a notebook's refuses it.
  fs::copy(example("packages/amd-dock"), dir / "linked");
  fs::rename(dir / "linked/kestrel_rx6700.rom", dir / "kestrel_rx6700.rom");
  fs::create_symlink(dir / "kestrel_rx6700.rom", dir / "linked/kestrel_rx6700.rom");
  const ToolRun linked = rehearse((dir / "linked").string());
  EXPECT_EQ(linked.exitCode, 2) << linked.output;
  EXPECT_NE(linked.output.find("kestrel_rx6700.rom is a link or junction"), std::string::npos)
      << linked.output;
  // Stand-ins asked for from a folder without them: said at once, not found
  // out machine by machine.
  const fs::path bin = dir / "bin";
  fs::create_directories(bin);
  for (const char* program : {"OvVBiosRehearse", "OvVBiosInstaller"})
    fs::copy_file(fs::path(OVVB_BIN_DIR) / program, bin / program);
  const ToolRun alone =
      runTool("", "TMPDIR=" + (dir / "tmp").string() + " " + (bin / "OvVBiosRehearse").string() + " " +
                      example("packages/amd-dock") + " --tools " + bin.string());
  EXPECT_EQ(alone.exitCode, 2) << alone.output;
  EXPECT_NE(alone.output.find("cannot place a stand-in tool"), std::string::npos) << alone.output;
}

// Rows for what the package asks for: the dock and link steps; a GPU its
// image does not fit, where the prefix leaves the device open.
TEST_F(Rehearsal, RowsForWhatThePackageLeavesToTheMachine) {
  const std::pair<std::string, std::map<std::string, std::string>> cases[] = {
      {example("packages/nv-dock-update"),
       {{"entry 0, older VBIOS", "0"},
        {"entry 0, no dock controller", "3001"},
        {"entry 0, no platform driver for the link", "3010"}}},
      {packageWith(dir, "packages/amd-dock", "DEV_73DF", "").string(),
       {{"entry 0, older VBIOS", "0"}, {"entry 0, a GPU its image does not fit", "905"}}},
  };
  for (const auto& [package, expected] : cases) {
    const ToolRun run = rehearse(package + " --jobs 2");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::map<std::string, std::string> rows = tableRows(run.output);
    for (const auto& [machine, code] : expected) EXPECT_EQ(rows.at(machine), code) << run.output;
    EXPECT_EQ(run.output.find("DISAGREES"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(" ended as made for, 0 did not."), std::string::npos) << run.output;
  }
}

// An author's machine whose flash program never ends and whose time-outs are
// real: the rehearsal's own limit kills the run and says so.
TEST_F(Rehearsal, AHangingRunIsKilledAndReported) {
  const fs::path machines = dir / "machines";
  fs::create_directories(machines / "hangs");
  fs::copy(example("machines/kestrel-nv"), machines / "hangs", fs::copy_options::recursive);
  // A misspelt key beside the real one: the rehearsal says it changes nothing.
  std::ofstream(machines / "hangs/machine.ini", std::ios::app) << "[vendorflash]\nhang = yes\nhnag = yes\n";
  std::string ini = readFile(machines / "hangs/machine.ini");
  ini = std::regex_replace(ini, std::regex("scale = 0.1"), "scale = 0");
  std::ofstream(machines / "hangs/machine.ini", std::ios::binary) << ini;
  const auto begin = std::chrono::steady_clock::now();
  const ToolRun run =
      rehearse(example("packages/nv-dock") + " --machines " + machines.string() + " --time-limit 2");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20));
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_EQ(tableRows(run.output), (std::map<std::string, std::string>{{"hangs", "killed"}})) << run.output;
  EXPECT_NE(
      run.output.find("[vendorflash] hnag is not a key the simulated machine reads (did you mean hang?)"),
      std::string::npos)
      << run.output;
  const std::string notKey = "not a key the simulated machine reads";
  EXPECT_EQ(run.output.find(notKey), run.output.rfind(notKey)) << "the example machine's own keys are known\n"
                                                               << run.output;
  EXPECT_TRUE(fs::is_empty(dir / "tmp"));
  // "killed with every tool it started": the hanging flash tool, which the
  // installer ran in a process group of its own, is gone too.
  std::vector<std::string> left;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    std::ifstream cmdline(entry.path() / "cmdline");
    std::string text;
    if (std::getline(cmdline, text, '\0') && text.find(dir.string()) != std::string::npos)
      left.push_back(text);
  }
  EXPECT_TRUE(left.empty()) << "still running: " << left.front();
}

}  // namespace
