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

constexpr const char* kShell = "Z:\\bin\\sh";

StartOutcome startShell(ChildProcess& child, const std::string& arguments, bool capture = true) {
  platform::Error error;
  const StartOutcome outcome = child.start({kShell, arguments, capture}, error);
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
  ASSERT_EQ(startShell(child, "-c \"echo hello; printf 'a b'; exit 3\""), StartOutcome::Started);
  platform::Error error;
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  EXPECT_TRUE(child.hasExited());
  EXPECT_EQ(child.exitCode(), 3);
  EXPECT_EQ(child.takeOutput(), "hello\na b");
  const auto trace = machine.traceLines();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0],
            "{\"event\":\"process.start\",\"program\":\"Z:\\\\bin\\\\sh\",\"arguments\":\"-c \\\"echo hello; "
            "printf 'a b'; exit 3\\\"\"}");
  EXPECT_EQ(trace[1], "{\"event\":\"process.end\",\"program\":\"Z:\\\\bin\\\\sh\",\"exit_code\":3}");
}

TEST(ChildProcess, ArgumentsAreSplitByTheWindowsRulesWithoutAShell) {
  TestMachine machine;
  ChildProcess child;
  ASSERT_EQ(startShell(child, R"(-c "printf '[%s]' \"$@\"" x "two words" q\"uote C:\dir\\ "$HOME;*")"),
            StartOutcome::Started);
  platform::Error error;
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  EXPECT_EQ(child.takeOutput(), R"([two words][q"uote][C:\dir\\][$HOME;*])");
}

TEST(ChildProcess, ChildSeesTheMachineRootAndAnEmptyInput) {
  TestMachine machine;
  setenv("OVVB_MACHINE", (machine.root() / "." / "").c_str(), 1);  // any spelling of the root
  ChildProcess child;
  ASSERT_EQ(startShell(child, "-c \"cat; printf %s \\\"$OVVB_MACHINE\\\"\""), StartOutcome::Started);
  platform::Error error;
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  EXPECT_EQ(fs::path(child.takeOutput()), machine.root());
}

TEST(ChildProcess, TimeOutIsScaledAndKillEndsTheWholeGroup) {
  TestMachine machine;
  machine.writeMachineIni("[time]\ntimeout_scale = 0.01\n");
  ChildProcess child;
  ASSERT_EQ(startShell(child, "-c \"sleep 30 & echo $!; wait\""), StartOutcome::Started);
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
  EXPECT_EQ(trace.back(), "{\"event\":\"process.end\",\"program\":\"Z:\\\\bin\\\\sh\",\"killed\":true}");
}

TEST(ChildProcess, OutputLargerThanThePipeIsDrainedWhileTheChildRuns) {
  TestMachine machine;
  ChildProcess child;
  ASSERT_EQ(startShell(child, "-c \"head -c 8000000 /dev/zero\""), StartOutcome::Started);
  platform::Error error;
  // A reader that waited for the exit would leave the child blocked on a full pipe.
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  EXPECT_EQ(child.takeOutput().size(), 8000000u);
}

TEST(ChildProcess, OutputIsCompleteEvenWhenAGrandchildKeepsThePipe) {
  TestMachine machine;
  ChildProcess child;
  ASSERT_EQ(startShell(child, "-c \"echo out; (sleep 5 2>/dev/null &); exit 0\""), StartOutcome::Started);
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
    ASSERT_EQ(startShell(child, "-c \"echo $$; exec sleep 30\""), StartOutcome::Started);
    pid = std::stoi(firstOutput(child));
  }
  EXPECT_TRUE(processEnded(pid));
  EXPECT_EQ(machine.traceLines().back(),
            "{\"event\":\"process.end\",\"program\":\"Z:\\\\bin\\\\sh\",\"killed\":true}");
}

TEST(ChildProcess, SignalDeathAndUncapturedOutput) {
  TestMachine machine;
  ChildProcess child;
  ASSERT_EQ(startShell(child, "-c \"kill -TERM $$\"", false), StartOutcome::Started);
  platform::Error error;
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  EXPECT_EQ(child.exitCode(), 1);
  EXPECT_EQ(child.takeOutput(), "");
  // The same object starts the next child once the first has ended.
  ASSERT_EQ(startShell(child, "-c \"exit 0\"", false), StartOutcome::Started);
  ASSERT_EQ(child.wait(10000, error), WaitOutcome::Exited);
  EXPECT_EQ(child.exitCode(), 0);
}

TEST(ChildProcess, ProgramsThatCannotStartSayWhy) {
  TestMachine machine;
  const fs::path folder = machine.makePackageFolder("pkg");
  testing_machine::writeNativeFile(folder / "plain.exe", "not executable");
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
      {windowsFolder, platform::kErrorAccessDenied},
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
  machine.writeMachineIni("[processes]\nno_process.sh = 2   ; counts down\nno_process.other.exe = 5\n");
  for (int attempt = 0; attempt < 2; ++attempt) {
    ChildProcess child;
    platform::Error error;
    EXPECT_EQ(child.start({"Z:\\bin\\SH", "-c \"exit 0\"", false}, error), StartOutcome::NoProcess);
  }
  EXPECT_TRUE(machine.traceLines().empty());
  EXPECT_EQ(machine.readFile("machine.ini"),
            "[processes]\nno_process.sh = 0   ; counts down\nno_process.other.exe = 5\n");
  ChildProcess child;
  ASSERT_EQ(startShell(child, "-c \"exit 0\"", false), StartOutcome::Started);
  platform::Error error;
  EXPECT_EQ(child.wait(10000, error), WaitOutcome::Exited);
}

}  // namespace
