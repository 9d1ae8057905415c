// What every process backend promises, checked with the same source against
// the posix backend (natively) and the win32 backend (under Wine), with the
// stand-in tools as children.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <new>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
#include "tests/contract/machine.h"

namespace {

using contract::Machine;
using platform::ChildProcess;
using platform::RunOutcome;
using platform::StartOutcome;
using platform::WaitOutcome;

constexpr const char* kHangingInstall = "[devcon64]\ninstall_hang = yes\n";
const std::string kInstallArguments = "install \"C:\\pkg dir\\amdtools.inf\" *AMDTOOLSDEV";

void expectNothingRuns(ChildProcess& child) {
  EXPECT_TRUE(child.hasExited()) << "with no child, nothing is running";
  platform::Error error;
  EXPECT_EQ(child.wait(0, error), WaitOutcome::Failed);
  EXPECT_EQ(error.code, platform::kErrorInvalidParameter);
  EXPECT_EQ(child.kill().code, platform::kErrorInvalidParameter);
  EXPECT_EQ(child.takeOutput(), "");
}

TEST(ProcessContract, WithoutAChildNothingRuns) {
  Machine machine;
  ChildProcess never;
  expectNothingRuns(never);

  ChildProcess missing;
  platform::Error error;
  ASSERT_EQ(missing.start({machine.file("missing.exe"), "-ai", true}, error), StartOutcome::CannotStart);
  EXPECT_EQ(error.code, platform::kErrorFileNotFound);
  expectNothingRuns(missing);
}

// A second start must never end the first child as a side effect: that
// child may be writing a VBIOS.
TEST(ProcessContract, StartWhileAChildRunsIsRefusedAndLeavesItRunning) {
  Machine machine;
  machine.writeMachineIni(kHangingInstall);
  ChildProcess child;
  platform::Error error;
  ASSERT_EQ(child.start({Machine::tool("devcon64.exe"), kInstallArguments, true}, error),
            StartOutcome::Started);
  EXPECT_EQ(child.start({Machine::tool("vendorflash.exe"), "", false}, error), StartOutcome::Failed);
  EXPECT_EQ(error.code, platform::kErrorInvalidParameter);
  EXPECT_FALSE(child.hasExited());
  EXPECT_EQ(child.wait(200, error), WaitOutcome::TimedOut);
  // While it runs, output arrives piece by piece.
  std::string output;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (output.find("Device node created") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    output += child.takeOutput();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  ASSERT_FALSE(child.kill().failed());
  EXPECT_TRUE(child.hasExited());
  EXPECT_EQ(child.exitCode(), 1) << "a killed child ends with 1";
  EXPECT_FALSE(child.kill().failed()) << "killing an ended child has nothing to do";
  output += child.takeOutput();
  EXPECT_NE(output.find("Device node created"), std::string::npos)
      << "what it printed before the kill is kept";
  EXPECT_FALSE(child.outputError().failed()) << "a kill is not an output failure";

  // Once it has ended, the same object starts the next child.
  machine.writeMachineIni("[vendorflash]\nexit = 4\n");
  ASSERT_EQ(child.start({Machine::tool("vendorflash.exe"), "", false}, error), StartOutcome::Started);
  ASSERT_EQ(child.wait(30000, error), WaitOutcome::Exited);
  EXPECT_EQ(child.exitCode(), 4);
}

// The lines a stand-in's helper has written so far ("": none yet).
std::string heartbeats(const Machine& machine) {
  std::string text;
  static_cast<void>(platform::readFile(machine.file("helper-vendorflash.txt"), text, size_t{16} << 20));
  return text;
}

void waitForHelper(const Machine& machine) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (heartbeats(machine).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_FALSE(heartbeats(machine).empty()) << "the helper never started";
}

// A flash program's helper still writing after the failure was reported is
// how a GPU gets bricked: whichever way the child is ended, what it started
// ends with it, before the kill returns.
TEST(ProcessContract, AKillTakesWhateverTheChildStarted) {
  enum class End { Kill, Destroy, TimeOut };
  for (const End end : {End::Kill, End::Destroy, End::TimeOut}) {
    SCOPED_TRACE(static_cast<int>(end));
    Machine machine;
    machine.writeMachineIni("[vendorflash]\nhelper = yes\nhang = yes\n");
    platform::Error error;
    if (end == End::TimeOut) {
      platform::ProgramRun run;
      run.program = Machine::tool("vendorflash.exe");
      run.timeoutMs = 100;
      run.whileRunning = [&machine](platform::RunningProgram&) { waitForHelper(machine); };
      EXPECT_EQ(platform::runProgram(run).outcome, RunOutcome::TimedOut);
    } else {
      auto child = std::make_unique<ChildProcess>();
      ASSERT_EQ(child->start({Machine::tool("vendorflash.exe"), "", true}, error), StartOutcome::Started);
      waitForHelper(machine);
      if (end == End::Kill) {
        ASSERT_FALSE(child->kill().failed());
        EXPECT_EQ(child->exitCode(), 1);
        // Still owned: the kill itself must have ended the helper.
        const std::string afterKill = heartbeats(machine);
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        EXPECT_EQ(heartbeats(machine), afterKill) << "the helper still writes after kill()";
      }
      child.reset();
    }
    const std::string afterKill = heartbeats(machine);
    EXPECT_FALSE(afterKill.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(heartbeats(machine), afterKill) << "the helper still writes";
  }
}

TEST(RunProgram, OneOutcomePerEnding) {
  struct Case {
    const char* name;
    const char* ini;
    std::string tool;  // empty: a program that is not there
    std::string arguments;
    bool capture;
    uint32_t timeoutMs;
    RunOutcome outcome;
    int32_t exitCode;
    const char* output;  // a text the output must hold ("": none at all; null: not checked)
    uint32_t errorCode = 0;
    bool throwingSink = false;
  };
  const Case cases[] = {
      {"exits 0 with its output", "", "devcon64.exe", "remove *AMDTOOLSDEV", true, 30000, RunOutcome::Exited,
       0, "1 device(s) were removed."},
      {"exits with a code, uncaptured", "[vendorflash]\nexit = 5\n", "vendorflash.exe", "", false, 30000,
       RunOutcome::Exited, 5, ""},
      {"exits with a code, output kept", "[amdvbflash]\nai_exit = 3\n", "amdvbflash.exe", "-ai", true, 30000,
       RunOutcome::Exited, 3, "Bios Version"},
      // Long enough for the child to be well started when it is killed (see below).
      {"hangs: killed at the limit", kHangingInstall, "devcon64.exe", kInstallArguments, true, 1500,
       RunOutcome::TimedOut, 0, nullptr},
      {"missing", "", "", "-ai", true, 30000, RunOutcome::CannotStart, 0, "", platform::kErrorFileNotFound},
      // Only a Windows program starts: a batch file would run through the
      // command interpreter.
      {"a batch file", "", "flash.bat", "", false, 30000, RunOutcome::CannotStart, 0, "",
       platform::kErrorBadExeFormat},
      // A sink that fails is a failed read, never the end of this process.
      {"sink throws", "", "devcon64.exe", "remove *AMDTOOLSDEV", true, 30000, RunOutcome::OutputBroken, 0, "",
       platform::kErrorNotEnoughMemory, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine machine;
    machine.writeMachineIni(c.ini);
    platform::ProgramRun run;
    run.program = c.tool.empty() ? machine.file("missing.exe") : Machine::tool(c.tool);
    run.arguments = c.arguments;
    run.captureOutput = c.capture;
    if (c.throwingSink) run.outputSink = [](std::string_view) { throw std::bad_alloc(); };
    run.timeoutMs = c.timeoutMs;
    int calls = 0;
    run.whileRunning = [&calls](platform::RunningProgram&) { ++calls; };

    const platform::ProgramResult result = platform::runProgram(run);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(calls, c.outcome == RunOutcome::CannotStart ? 0 : 1);
    EXPECT_EQ(result.error.code, c.errorCode) << result.error.operation;
    if (c.outcome == RunOutcome::Exited || c.outcome == RunOutcome::OutputBroken) {
      EXPECT_EQ(result.exitCode, c.exitCode);
    }
    if (c.output == nullptr) {
      // How far a tool gets before a short limit depends on the machine's load.
    } else if (*c.output == '\0') {
      EXPECT_EQ(result.output, "");
    } else {
      EXPECT_NE(result.output.find(c.output), std::string::npos) << result.output;
    }
    EXPECT_EQ(result.outputError.code, c.outcome == RunOutcome::OutputBroken ? c.errorCode : 0);
  }
}

// The flash step paces its progress bar while the tool runs and stops
// pacing when it notices the end.
TEST(RunProgram, TheCallerSeesTheProgramRunAndEnd) {
  Machine machine;
  machine.writeMachineIni(kHangingInstall);
  platform::ProgramRun hanging;
  hanging.program = Machine::tool("devcon64.exe");
  hanging.arguments = kInstallArguments;
  hanging.timeoutMs = 100;
  bool seenRunning = false;
  hanging.whileRunning = [&seenRunning](platform::RunningProgram& child) {
    seenRunning = !child.hasExited();
    // The kill comes once the child is well started: under Wine, a console
    // child killed while it is still starting can leave its headless console
    // host running, holding the test's output open (captured or not), and
    // ctest then waits on it until its own time-out.
    std::this_thread::sleep_for(std::chrono::seconds(1));
  };
  EXPECT_EQ(platform::runProgram(hanging).outcome, RunOutcome::TimedOut);
  EXPECT_TRUE(seenRunning);

  platform::ProgramRun quick;
  quick.program = Machine::tool("vendorflash.exe");
  quick.timeoutMs = 0;  // the limit counts from the callback's return
  bool seenEnd = false;
  quick.whileRunning = [&seenEnd](platform::RunningProgram& child) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(seenEnd = child.hasExited()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  };
  const platform::ProgramResult result = platform::runProgram(quick);
  EXPECT_TRUE(seenEnd);
  EXPECT_EQ(result.outcome, RunOutcome::Exited);
  EXPECT_EQ(result.exitCode, 0);
}

}  // namespace
