// Real child processes, started the way the installer starts its tools: a
// Windows path and a Windows command line. /bin/sh stands in for a tool.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/process.h"
#include "simulated/machine.h"
#include "tests/unit/test_machine.h"

namespace {

namespace fs = std::filesystem;
using platform::ChildProcess;
using platform::StartOutcome;
using platform::WaitOutcome;
using testing_machine::TestMachine;
using Clock = std::chrono::steady_clock;

// Only a Windows program is started: /bin/sh under a .exe name.
std::string shellIn(const TestMachine& machine) {
  const fs::path link = machine.root() / "sh.exe";
  std::error_code ignored;
  if (!fs::is_symlink(link)) fs::create_symlink("/bin/sh", link, ignored);
  return TestMachine::windowsPath(link);
}

// `program` JSON-escaped, as the trace writes it.
std::string traced(const std::string& program) {
  std::string text;
  for (char c : program) text += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return text;
}

StartOutcome startShell(const TestMachine& machine, ChildProcess& child, const std::string& arguments,
                        bool capture = true) {
  platform::Error error;
  const StartOutcome outcome = child.start({shellIn(machine), arguments, capture}, error);
  EXPECT_EQ(outcome == StartOutcome::Started, !error.failed()) << error.operation;
  return outcome;
}

// A child's output arrives while it runs; takeOutput hands over what is there.
std::string firstOutput(ChildProcess& child) {
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  std::string text;
  while (text.find('\n') == std::string::npos && Clock::now() < deadline) {
    text += child.takeOutput();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return text;
}

// Gone, or a zombie waiting for init: either way no longer running.
bool processEnded(pid_t pid) {
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (Clock::now() < deadline) {
    const std::string stat = testing_machine::readNativeFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (stat.empty() || (close != std::string::npos && stat.compare(close + 2, 1, "Z") == 0)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(ChildProcess, CapturesOutputAndExitCodeAndTracesBothEnds) {
  TestMachine machine;
  ChildProcess child;
  ASSERT_EQ(startShell(machine, child, "-c \"echo hello; printf 'a b'; exit 3\""), StartOutcome::Started);
  platform::Error error;
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  EXPECT_TRUE(child.hasExited());
  EXPECT_EQ(child.exitCode(), 3);
  EXPECT_EQ(child.takeOutput(), "hello\na b");
  const auto trace = machine.traceLines();
  ASSERT_EQ(trace.size(), 2u);
  const std::string shell = traced(shellIn(machine));
  EXPECT_EQ(trace[0], "{\"event\":\"process.start\",\"program\":\"" + shell +
                          "\",\"arguments\":\"-c \\\"echo hello; printf 'a b'; exit 3\\\"\"}");
  EXPECT_EQ(trace[1], "{\"event\":\"process.end\",\"program\":\"" + shell + "\",\"exit_code\":3}");
}

TEST(ChildProcess, ArgumentsAreSplitByTheWindowsRulesWithoutAShell) {
  TestMachine machine;
  ChildProcess child;
  ASSERT_EQ(
      startShell(machine, child, R"(-c "printf '[%s]' \"$@\"" x "two words" q\"uote C:\dir\\ "$HOME;*")"),
      StartOutcome::Started);
  platform::Error error;
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  EXPECT_EQ(child.takeOutput(), R"([two words][q"uote][C:\dir\\][$HOME;*])");
}

TEST(ChildProcess, ChildSeesTheMachineRootAndAnEmptyInput) {
  TestMachine machine;
  setenv("OVVB_MACHINE", (machine.root() / "." / "").c_str(), 1);  // any spelling of the root
  ChildProcess child;
  ASSERT_EQ(startShell(machine, child, "-c \"cat; printf %s \\\"$OVVB_MACHINE\\\"\""), StartOutcome::Started);
  platform::Error error;
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  EXPECT_EQ(fs::path(child.takeOutput()), machine.root());
}

// A tool must not find programs, libraries or scratch files where the user
// who started the installer, or a planted variable, says.
TEST(ChildProcess, ChildStartsInItsFolderWithAnEnvironmentOfItsOwn) {
  TestMachine machine;
  const fs::path folder = machine.makePackageFolder("pkg");
  setenv("OVVB_PLANTED", "planted", 1);
  const std::string script = "-c \"pwd; echo ${OVVB_PLANTED:-none} ${HOME:-none} $PATH $TEMP $TMP $TMPDIR\"";
  struct Case {
    std::string folder;
    std::string tempFolder;
    std::string expected;
  };
  const std::string temp = (machine.root() / "drive_c" / "ProgramData" / "Orvo" / "Temp").string();
  fs::create_directories(temp);
  const Case cases[] = {
      {TestMachine::windowsPath(folder), "C:\\ProgramData\\Orvo\\Temp",
       folder.string() + "\nnone none /usr/bin:/bin " + temp + " " + temp + " " + temp + "\n"},
      // By default the program's own folder, and no TEMP at all.
      {"", "", machine.root().string() + "\nnone none /usr/bin:/bin\n"},
  };
  for (const Case& c : cases) {
    ChildProcess child;
    platform::Error error;
    platform::ProcessStart start{shellIn(machine), script, true};
    start.folder = c.folder;
    start.tempFolder = c.tempFolder;
    ASSERT_EQ(child.start(start, error), StartOutcome::Started) << error.operation;
    ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
    EXPECT_EQ(child.takeOutput(), c.expected);
  }
  unsetenv("OVVB_PLANTED");
}

TEST(ChildProcess, TimeOutIsScaledAndKillEndsTheWholeGroup) {
  TestMachine machine;
  machine.writeMachineIni("[time]\ntimeout_scale = 0.01\n");
  ChildProcess child;
  ASSERT_EQ(startShell(machine, child, "-c \"sleep 30 & echo $!; wait\""), StartOutcome::Started);
  const pid_t grandchild = std::stoi(firstOutput(child));
  platform::Error error;
  const auto started = Clock::now();
  EXPECT_EQ(child.wait(20000, error), WaitOutcome::TimedOut);  // 200 ms
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
  EXPECT_FALSE(child.hasExited());
  ASSERT_FALSE(child.kill().failed());
  EXPECT_TRUE(child.hasExited());
  EXPECT_TRUE(processEnded(grandchild));
  EXPECT_FALSE(child.kill().failed());  // already gone: nothing to do
  const auto trace = machine.traceLines();
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace.back(),
            "{\"event\":\"process.end\",\"program\":\"" + traced(shellIn(machine)) + "\",\"killed\":true}");
}

TEST(ChildProcess, OutputLargerThanThePipeIsDrainedWhileTheChildRuns) {
  TestMachine machine;
  ChildProcess child;
  ASSERT_EQ(startShell(machine, child, "-c \"head -c 8000000 /dev/zero\""), StartOutcome::Started);
  platform::Error error;
  // A reader that waited for the exit would leave the child blocked on a full pipe.
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  EXPECT_EQ(child.takeOutput().size(), 8000000u);
}

TEST(ChildProcess, OutputIsCompleteEvenWhenAGrandchildKeepsThePipe) {
  TestMachine machine;
  ChildProcess child;
  ASSERT_EQ(startShell(machine, child, "-c \"echo out; (sleep 5 2>/dev/null &); exit 0\""),
            StartOutcome::Started);
  platform::Error error;
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  const auto taken = Clock::now();
  EXPECT_EQ(child.takeOutput(), "out\n");
  EXPECT_LT(Clock::now() - taken, std::chrono::seconds(2));
}

TEST(ChildProcess, DestructorKillsARunningChild) {
  TestMachine machine;
  pid_t pid = 0;
  {
    ChildProcess child;
    ASSERT_EQ(startShell(machine, child, "-c \"echo $$; exec sleep 30\""), StartOutcome::Started);
    pid = std::stoi(firstOutput(child));
  }
  EXPECT_TRUE(processEnded(pid));
  EXPECT_EQ(machine.traceLines().back(),
            "{\"event\":\"process.end\",\"program\":\"" + traced(shellIn(machine)) + "\",\"killed\":true}");
}

TEST(ChildProcess, SignalDeathAndUncapturedOutput) {
  TestMachine machine;
  ChildProcess child;
  ASSERT_EQ(startShell(machine, child, "-c \"kill -TERM $$\"", false), StartOutcome::Started);
  platform::Error error;
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  EXPECT_EQ(child.exitCode(), 1);
  EXPECT_EQ(child.takeOutput(), "");
  // The same object starts the next child once the first has ended.
  ASSERT_EQ(startShell(machine, child, "-c \"exit 0\"", false), StartOutcome::Started);
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  EXPECT_EQ(child.exitCode(), 0);
}

TEST(ChildProcess, ProgramsThatCannotStartSayWhy) {
  TestMachine machine;
  const fs::path folder = machine.makePackageFolder("pkg");
  testing_machine::writeNativeFile(folder / "plain.exe", "not executable");
  // A script the system would run, refused for its name alone.
  testing_machine::writeScriptTool(folder / "flash.bat", "exit 0\n");
  testing_machine::writeScriptTool(folder / "flash", "exit 0\n");
  fs::create_directory(folder / "folder.exe");
  testing_machine::writeNativeFile(folder / "text.exe", "MZ but not a program here");
  fs::permissions(folder / "text.exe", fs::perms::owner_all);
  const std::string windowsFolder = TestMachine::windowsPath(folder);
  struct Case {
    std::string program;
    uint32_t code;
  };
  const Case cases[] = {
      {windowsFolder + "\\amdvbflash.exe", platform::kErrorFileNotFound},
      {windowsFolder + "\\missing\\amdvbflash.exe", platform::kErrorPathNotFound},
      {windowsFolder + "\\folder.exe", platform::kErrorAccessDenied},
      {windowsFolder + "\\flash.bat", platform::kErrorBadExeFormat},
      {windowsFolder + "\\flash", platform::kErrorBadExeFormat},
      {windowsFolder + "\\missing.cmd", platform::kErrorBadExeFormat},
      {windowsFolder + "\\plain.exe", platform::kErrorAccessDenied},
      {windowsFolder + "\\text.exe", platform::kErrorBadExeFormat},
      {"D:\\tools\\x.exe", platform::kErrorPathNotFound},
  };
  for (const Case& c : cases) {
    ChildProcess child;
    platform::Error error;
    EXPECT_EQ(child.start({c.program, "-ai", true}, error), StartOutcome::CannotStart) << c.program;
    EXPECT_EQ(error.code, c.code) << c.program;
    EXPECT_TRUE(child.hasExited());
    EXPECT_EQ(child.wait(10, error), WaitOutcome::Failed);
  }
  EXPECT_TRUE(machine.traceLines().empty());
}

TEST(ChildProcess, MachineCanRefuseTheNextStartsOfAProgram) {
  TestMachine machine;
  machine.writeMachineIni("[processes]\nno_process.sh.exe = 2   ; counts down\nno_process.other.exe = 5\n");
  for (int attempt = 0; attempt < 2; ++attempt) {
    ChildProcess child;
    platform::Error error;
    EXPECT_EQ(
        child.start({TestMachine::windowsPath(machine.root()) + "\\SH.EXE", "-c \"exit 0\"", false}, error),
        StartOutcome::NoProcess);
  }
  EXPECT_TRUE(machine.traceLines().empty());
  EXPECT_EQ(machine.readFile("machine.ini"),
            "[processes]\nno_process.sh.exe = 0   ; counts down\nno_process.other.exe = 5\n");
  ChildProcess child;
  ASSERT_EQ(startShell(machine, child, "-c \"exit 0\"", false), StartOutcome::Started);
  platform::Error error;
  EXPECT_EQ(child.wait(10000, error), WaitOutcome::Exited);
}

}  // namespace
