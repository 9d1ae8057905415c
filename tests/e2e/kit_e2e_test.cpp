// The kit's programs as their users start them: the checker's exit codes
// and the log explainer on logs the installer itself wrote.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/e2e/installer_run.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
  int exitCode = -1;
  std::string output;
};

ToolRun runTool(const std::string& name, const std::string& arguments) {
  ToolRun run;
  const std::string command = std::string(OVVB_BIN_DIR) + "/" + name + " " + arguments + " 2>&1";
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
  struct Case {
    const char* folder;
    int exitCode;
  } cases[] = {{"packages/amd-dock", 0}, {"broken-packages/typos", 1}, {"broken-packages/no-match", 2}};
  for (const Case& c : cases) {
    const ToolRun run = runTool("OvVBiosPackageCheck", example(c.folder));
    EXPECT_EQ(run.exitCode, c.exitCode) << c.folder << "\n" << run.output;
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
  run.writeMachine(
      e2e::amdMachine().set("user", "lcid", "1031"));
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
