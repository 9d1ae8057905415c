// The kit's programs as their users start them: the checker's exit codes
// and the log explainer on logs the installer itself wrote.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "tests/e2e/installer_run.h"

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
  } cases[] = {{example("packages/amd-dock") + tools, 0},
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
  EXPECT_NE(out.find("steps: 9 reached, the last STEP9: Install VBIOS\n  result: 0, The VBIOS was flashed"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("steps: 7 reached, the last STEP7: check VBIOS uptodate\n  result: 1, "),
            std::string::npos)
      << out;
  EXPECT_NE(
      out.find("logged: ERROR configs.txt Not Found\n  result: 101, configs.txt not found (failure exit)"),
      std::string::npos)
      << out;
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
}

}  // namespace

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every file of a folder with its bytes, to prove the rehearsal left it alone.
std::string snapshot(const fs::path& dir) {
  std::string all;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file()) all += entry.path().string() + "\n" + readFile(entry.path());
  return all;
}

// The table's rows: machine -> code, and whether any row is marked.
std::map<std::string, std::string> tableRows(const std::string& output) {
  std::map<std::string, std::string> rows;
  const std::regex row(R"(^ *\d+ (.+?)  +(\S+) )");
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, row)) rows[m[1]] = m[2];
  }
  return rows;
}

class Rehearsal : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ovvb-kit-e2e-XXXXXX";
    dir = mkdtemp(pattern);
    fs::create_directories(dir / "tmp");
  }
  void TearDown() override { fs::remove_all(dir); }
  // Runs with its own TMPDIR, so what it leaves behind can be seen.
  ToolRun rehearse(const std::string& arguments) {
    return runTool("OvVBiosRehearse", arguments, "TMPDIR=" + (dir / "tmp").string());
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
  EXPECT_EQ(run.output.find("made for"), std::string::npos) << run.output;
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

  const ToolRun parsed = runTool(
      "", "python3 " + std::string(OVVB_SOURCE_DIR) + "/tests/e2e/check_report_html.py " + report.string());
  ASSERT_EQ(parsed.exitCode, 0) << parsed.output;
  std::istringstream rows(parsed.output);
  size_t count = 0;
  for (std::string line; std::getline(rows, line); ++count) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex(R"(\d+\t(.+)\t(\S+)\t(\d+))"))) << line;
    EXPECT_EQ(expected.at(m[1]), m[2]) << line;
    EXPECT_GT(std::stoi(m[3]), 200) << "the log behind the fold of " << m[1];
  }
  EXPECT_EQ(count, expected.size()) << parsed.output;
}

TEST_F(Rehearsal, DockAndLinkRowsWhenThePackageAsksForThem) {
  const ToolRun run = rehearse(example("packages/nv-dock-update") + " --jobs 2");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::map<std::string, std::string> rows = tableRows(run.output);
  EXPECT_EQ(rows.at("entry 0, older VBIOS"), "0") << run.output;
  EXPECT_EQ(rows.at("entry 0, no dock controller"), "3001") << run.output;
  EXPECT_EQ(rows.at("entry 0, no platform driver for the link"), "3010") << run.output;
  EXPECT_EQ(run.output.find("DISAGREES"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("made for"), std::string::npos) << run.output;
}

// An author's machine whose flash program never ends and whose time-outs are
// real: the rehearsal's own limit kills the run and says so.
TEST_F(Rehearsal, AHangingRunIsKilledAndReported) {
  const fs::path machines = dir / "machines";
  fs::create_directories(machines / "hangs");
  fs::copy(example("machines/kestrel-nv"), machines / "hangs", fs::copy_options::recursive);
  std::ofstream(machines / "hangs/machine.ini", std::ios::app) << "[vendorflash]\nhang = yes\n";
  std::string ini = readFile(machines / "hangs/machine.ini");
  ini = std::regex_replace(ini, std::regex("scale = 0.1"), "scale = 0");
  std::ofstream(machines / "hangs/machine.ini", std::ios::binary) << ini;
  const auto begin = std::chrono::steady_clock::now();
  const ToolRun run =
      rehearse(example("packages/nv-dock") + " --machines " + machines.string() + " --time-limit 2");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20));
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_EQ(tableRows(run.output), (std::map<std::string, std::string>{{"hangs", "killed"}})) << run.output;
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
