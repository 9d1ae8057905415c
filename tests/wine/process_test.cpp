// Child processes through the real CreateProcessW, with echo_args.exe as the
// child: the exact command line it receives, how Windows splits it, exit
// codes, time-outs and kills, and output capture with its bounds.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h: the security calls need its types.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/command_line.h"
#include "platform/files.h"
#include "platform/win32/child_job.h"
#include "platform/win32/output_pipe.h"
#include "tests/wine/wine_test_support.h"

namespace {

using platform::ChildProcess;
using platform::ProcessStart;
using platform::StartOutcome;
using platform::WaitOutcome;

struct EchoReport {
  std::string line;
  std::vector<std::string> arguments;
  std::map<std::string, std::string> other;  // the last value of any other tag
  bool wellFormed = true;
};

// Parses the "<tag>:<byte count>:<bytes>\n" records of echo_args.exe.
EchoReport parseEcho(const std::string& output) {
  EchoReport report;
  size_t at = 0;
  while (at < output.size()) {
    const size_t colon = output.find(':', at);
    const size_t second = colon == std::string::npos ? colon : output.find(':', colon + 1);
    if (second == std::string::npos) break;  // trailing bulk output
    const std::string tag = output.substr(at, colon - at);
    const size_t length = std::stoul(output.substr(colon + 1, second - colon - 1));
    if (second + 1 + length >= output.size() || output[second + 1 + length] != '\n') {
      report.wellFormed = false;
      break;
    }
    const std::string value = output.substr(second + 1, length);
    if (tag == "line") {
      report.line = value;
    } else if (tag == "arg") {
      report.arguments.push_back(value);
    } else {
      report.other[tag] = value;
    }
    at = second + 2 + length;
  }
  return report;
}

const std::string& echoProgram() {
  static const std::string program = winetest::binProgram("echo_args.exe");
  return program;
}

// What a running child has printed once `text` is there (or 10 s have passed).
std::string outputUntil(ChildProcess& child, const char* text) {
  std::string seen;
  for (int i = 0; i < 200 && seen.find(text) == std::string::npos; ++i) {
    Sleep(50);
    seen += child.takeOutput();
  }
  return seen;
}

// The knobs of echo_args.exe, in echo_args.env of the folder it starts in:
// a child gets no variable of ours.
class Knobs {
 public:
  Knobs(std::initializer_list<std::pair<const char*, std::string>> knobs = {}) {
    std::string text;
    for (const auto& [name, value] : knobs) text += std::string(name) + "=" + value + "\n";
    EXPECT_FALSE(platform::writeFileAtomic(folder_.file("echo_args.env"), text).failed());
  }
  ProcessStart start(const std::string& arguments, bool capture) const {
    ProcessStart start{echoProgram(), arguments, capture};
    start.folder = folder_.path();
    return start;
  }
  std::string file(const char* name) const { return folder_.file(name); }

 private:
  winetest::TemporaryFolder folder_;
};

// Runs echo_args.exe to its end and returns what it reported.
EchoReport runEcho(const std::string& arguments) {
  ChildProcess child;
  platform::Error error;
  EXPECT_EQ(child.start({echoProgram(), arguments, true}, error), StartOutcome::Started) << error.message;
  EXPECT_EQ(child.wait(20000, error), WaitOutcome::Exited);
  return parseEcho(child.takeOutput());
}

TEST(ProcessStart, ChildSeesQuotedProgramThenArgumentsVerbatim) {
  ASSERT_TRUE(platform::fileExists(echoProgram())) << echoProgram();
  struct Case {
    std::string arguments;
    std::string expectedLine;
  } cases[] = {
      {"", "\"" + echoProgram() + "\""},
      {"-ai", "\"" + echoProgram() + "\" -ai"},
      {"-fa -p 0 \"C:\\ProgramData\\Orvo\\VBIOS\\a b.rom\"",
       "\"" + echoProgram() + "\" -fa -p 0 \"C:\\ProgramData\\Orvo\\VBIOS\\a b.rom\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(runEcho(c.arguments).line, c.expectedLine) << c.arguments;
  }
}

// Windows' own parser is the reference: the posix layer's splitter must
// agree with it, and quoted arguments must come through it unchanged.
TEST(ProcessStart, SplitterAndQuotingAgreeWithWindows) {
  const std::vector<std::string> arguments = {"plain",
                                              "with blank",
                                              "",
                                              "trailing\\",
                                              "a\"b",
                                              "\\\"",
                                              "C:\\Program Files\\Orvo\\",
                                              "tab\there",
                                              "ünïcødé 日本",
                                              "\\\\server\\share",
                                              "-p",
                                              "0",
                                              "\"\""};
  std::string joined;
  for (const std::string& argument : arguments) {
    if (!joined.empty()) joined += ' ';
    joined += platform::quoteWindowsArgument(argument);
  }
  const EchoReport quoted = runEcho(joined);
  ASSERT_TRUE(quoted.wellFormed);
  EXPECT_EQ(quoted.arguments, arguments) << joined;
  for (const char* text :
       {"-fa -p 0 \"C:\\x y\\z.rom\"", "a\\\\b \"c\\\\\" d", "\"a\\\"b\" c", "  leading   and trailing  ",
        "install \"C:\\Program Files\\pkg\\amdtools.inf\" *AMDTOOLSDEV", "\"unterminated quote", "a\\\\\\\"b",
        "x\"y z\"w", "\t tabbed\targs"}) {
    EXPECT_EQ(runEcho(text).arguments, platform::splitWindowsCommandLine(text)) << text;
  }
}

TEST(ProcessExit, CodesArriveAsSigned32Bit) {
  struct Case {
    const char* exitSetting;
    int32_t expected;
  } cases[] = {
      {"0", 0},
      {"7", 7},
      {"255", 255},
      {"0xC0000005", -1073741819},  // an access violation, as Windows reports it
  };
  for (const Case& c : cases) {
    const Knobs knobs{{"ECHO_ARGS_EXIT", c.exitSetting}};
    ChildProcess child;
    platform::Error error;
    ASSERT_EQ(child.start(knobs.start("", false), error), StartOutcome::Started);
    ASSERT_EQ(child.wait(20000, error), WaitOutcome::Exited);
    EXPECT_TRUE(child.hasExited());
    EXPECT_EQ(child.exitCode(), c.expected) << c.exitSetting;
    EXPECT_EQ(child.takeOutput(), "") << "output was not asked for";
  }
}

TEST(ProcessExit, HangingChildTimesOutAndIsKilled) {
  const Knobs knobs{{"ECHO_ARGS_SLEEP_MS", "forever"}};
  ChildProcess child;
  platform::Error error;
  ASSERT_EQ(child.start(knobs.start("before-the-hang", true), error), StartOutcome::Started);
  // Wine may take longer than the time-out below just to start a program: the
  // hang counts from when the child has spoken.
  std::string seen = outputUntil(child, "before-the-hang");
  EXPECT_EQ(child.wait(300, error), WaitOutcome::TimedOut);
  EXPECT_FALSE(child.hasExited());
  EXPECT_FALSE(child.kill().failed());
  EXPECT_TRUE(child.hasExited());
  EXPECT_EQ(child.exitCode(), 1);
  // What it printed before it was killed is all there.
  seen += child.takeOutput();
  const EchoReport report = parseEcho(seen);
  EXPECT_EQ(report.arguments, std::vector<std::string>{"before-the-hang"});
  EXPECT_FALSE(child.outputError().failed()) << child.outputError().message;
}

TEST(ProcessExit, DestructorKillsARunningChild) {
  const Knobs knobs{{"ECHO_ARGS_SLEEP_MS", "forever"}};
  HANDLE running = nullptr;
  {
    ChildProcess child;
    platform::Error error;
    ASSERT_EQ(child.start(knobs.start("", true), error), StartOutcome::Started);
    // Output taken while the child runs is partial, but its id comes first.
    const std::string seen = outputUntil(child, "pid:");
    const EchoReport report = parseEcho(seen);
    ASSERT_TRUE(report.other.count("pid")) << seen;
    running = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::stoul(report.other.at("pid"))));
    ASSERT_NE(running, nullptr);
    EXPECT_EQ(WaitForSingleObject(running, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  }
  EXPECT_EQ(WaitForSingleObject(running, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(running);
}

TEST(ProcessStart, MissingOrUnrunnableProgramCannotStart) {
  winetest::TemporaryFolder folder;
  ASSERT_FALSE(platform::writeFileAtomic(folder.file("not-a-program.exe"), "just text\r\n").failed());
  ASSERT_FALSE(
      platform::writeFileAtomic(folder.file("dos-only.exe"), "MZ" + std::string(200, '\0')).failed());
  // Windows itself would run a batch file through cmd.exe.
  ASSERT_FALSE(platform::writeFileAtomic(folder.file("flash.bat"), "@echo flashed\r\n").failed());
  std::string program;
  ASSERT_FALSE(platform::readFile(echoProgram(), program, size_t{64} << 20).failed());
  ASSERT_FALSE(platform::writeFileAtomic(folder.file("image.bat"), program).failed());
  struct Case {
    std::string program;
    uint32_t code;
  } cases[] = {
      {folder.file("missing.exe"), platform::kErrorFileNotFound},
      {folder.file("no-such-folder\\missing.exe"), platform::kErrorPathNotFound},
      {folder.file("not-a-program.exe"), platform::kErrorBadExeFormat},
      {folder.file("dos-only.exe"), platform::kErrorBadExeFormat},
      {folder.file("flash.bat"), platform::kErrorBadExeFormat},
      {folder.file("image.bat"), platform::kErrorBadExeFormat},
  };
  for (const Case& c : cases) {
    ChildProcess child;
    platform::Error error;
    EXPECT_EQ(child.start({c.program, "-ai", true}, error), StartOutcome::CannotStart) << c.program;
    EXPECT_EQ(error.code, c.code) << c.program;
    EXPECT_NE(error.operation.find(c.program), std::string::npos) << error.operation;
    EXPECT_TRUE(child.hasExited()) << "nothing is running";
    EXPECT_EQ(child.wait(0, error), WaitOutcome::Failed);
  }
}

// A tool must not find programs, libraries or scratch files where the user
// who started the installer, or a planted variable, says.
TEST(ProcessStart, ChildStartsInItsFolderWithAnEnvironmentOfItsOwn) {
  winetest::ScopedEnvironment planted("OVVB_PLANTED", "planted");
  const Knobs knobs;
  winetest::TemporaryFolder temp;
  ProcessStart start = knobs.start("", true);
  start.tempFolder = temp.path();
  ChildProcess child;
  platform::Error error;
  ASSERT_EQ(child.start(start, error), StartOutcome::Started) << error.message;
  ASSERT_EQ(child.wait(20000, error), WaitOutcome::Exited);
  const EchoReport report = parseEcho(child.takeOutput());
  EXPECT_TRUE(platform::equalsIgnoringAsciiCase(report.other.at("cwd"), start.folder))
      << report.other.at("cwd");
  std::map<std::string, std::string> variables;
  const std::string& all = report.other.at("env");
  for (size_t at = 0; at < all.size();) {
    const size_t end = std::min(all.find('|', at), all.size());
    const std::string entry = all.substr(at, end - at);
    const size_t equals = entry.find('=', 1);  // "=C:=C:\\x" is the system's own
    if (entry[0] != '=' && equals != std::string::npos)
      variables[platform::lowerAscii(entry.substr(0, equals))] = entry.substr(equals + 1);
    at = end + 1;
  }
  wchar_t system[MAX_PATH];
  const std::string system32 =
      platform::win32::toUtf8(std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)));
  EXPECT_EQ(variables["path"],
            system32 + ";" + system32 + "\\Wbem;" + system32 + "\\WindowsPowerShell\\v1.0");
  EXPECT_EQ(variables["temp"], temp.path());
  EXPECT_EQ(variables["tmp"], temp.path());
  EXPECT_EQ(variables["comspec"], system32 + "\\cmd.exe");
  EXPECT_EQ(variables["os"], "Windows_NT");
  EXPECT_FALSE(variables["systemroot"].empty());
  EXPECT_FALSE(variables["processor_architecture"].empty());
  for (const auto& [name, value] : variables) {
    // Wine adds its own WINE* variables to every process.
    EXPECT_TRUE(name == "path" || name == "temp" || name == "tmp" || name == "comspec" || name == "os" ||
                name == "systemroot" || name == "windir" || name == "systemdrive" || name == "pathext" ||
                name == "number_of_processors" || name.rfind("processor_", 0) == 0 ||
                name.rfind("wine", 0) == 0)
        << name << "=" << value;
  }
}

// Whichever way the child enters its job, nothing it starts is outside it.
TEST(ProcessStart, TheChildsTreeIsInItsJobFromTheStart) {
  for (const bool suspended : {false, true}) {
    SCOPED_TRACE(suspended ? "suspended, then assigned" : "job named at creation where Windows can");
    platform::win32::forceSuspendedJobEntry(suspended);
    const Knobs knobs{{"ECHO_ARGS_GRANDCHILD", "1"}, {"ECHO_ARGS_SLEEP_MS", "forever"}};
    ChildProcess child;
    platform::Error error;
    ASSERT_EQ(child.start(knobs.start("", true), error), StartOutcome::Started);
    if (suspended) {
      EXPECT_EQ(platform::win32::lastJobEntry(), platform::win32::JobEntry::AfterSuspendedStart);
    }
    const std::string seen = outputUntil(child, "grandchild:");
    const EchoReport report = parseEcho(seen);
    ASSERT_TRUE(report.other.count("grandchild")) << seen;
    HANDLE grand =
        OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::stoul(report.other.at("grandchild"))));
    ASSERT_NE(grand, nullptr);
    EXPECT_FALSE(child.kill().failed());
    EXPECT_EQ(WaitForSingleObject(grand, 5000), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the grandchild still runs";
    CloseHandle(grand);
  }
  platform::win32::forceSuspendedJobEntry(false);
  std::printf("[ note ] this system names the job at creation: %s\n",
              platform::win32::lastJobEntry() == platform::win32::JobEntry::AtCreation ? "yes" : "no");
}

TEST(ProcessOutput, LargeOutputIsCapturedWhole) {
  // Far more than a pipe holds: the child would block for ever if the
  // output were only read after it ended.
  constexpr size_t kBytes = size_t{8} << 20;
  const Knobs knobs{{"ECHO_ARGS_OUTPUT_BYTES", std::to_string(kBytes)}};
  ChildProcess child;
  platform::Error error;
  ASSERT_EQ(child.start(knobs.start("bulk", true), error), StartOutcome::Started);
  ASSERT_EQ(child.wait(60000, error), WaitOutcome::Exited);
  const std::string output = child.takeOutput();
  ASSERT_GT(output.size(), kBytes);
  const size_t bulk = output.size() - kBytes;
  EXPECT_EQ(output[bulk - 1], '\n') << "the bulk follows the last record";
  EXPECT_EQ(output.find_first_not_of('x', bulk), std::string::npos);
  EXPECT_EQ(parseEcho(output).arguments, std::vector<std::string>{"bulk"});
  EXPECT_FALSE(child.outputError().failed()) << "the end of the output is not a failure";
}

TEST(ProcessOutput, OutputBeyondTheLimitIsDrainedAndDropped) {
  const Knobs knobs{
      {"ECHO_ARGS_OUTPUT_BYTES", std::to_string(platform::kMaxCapturedOutput + (size_t{4} << 20))}};
  ChildProcess child;
  platform::Error error;
  ASSERT_EQ(child.start(knobs.start("", true), error), StartOutcome::Started);
  // The child only ends if the excess is read from the pipe.
  ASSERT_EQ(child.wait(120000, error), WaitOutcome::Exited);
  EXPECT_EQ(child.exitCode(), 0);
  EXPECT_EQ(child.takeOutput().size(), platform::kMaxCapturedOutput);
}

// A tool that leaves a helper running which inherited its standard output
// must not make the installer wait for that helper.
TEST(ProcessOutput, GrandchildHoldingThePipeDoesNotHangCollection) {
  const Knobs knobs{{"ECHO_ARGS_GRANDCHILD", "1"}};
  ChildProcess child;
  platform::Error error;
  ASSERT_EQ(child.start(knobs.start("parent", true), error), StartOutcome::Started);
  ASSERT_EQ(child.wait(20000, error), WaitOutcome::Exited);
  const auto begin = std::chrono::steady_clock::now();
  const EchoReport report = parseEcho(child.takeOutput());
  const auto took = std::chrono::steady_clock::now() - begin;
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_EQ(report.arguments, std::vector<std::string>{"parent"});
  EXPECT_FALSE(child.outputError().failed()) << "giving up on a grandchild is not a failure";
  ASSERT_TRUE(report.other.count("grandchild"));
  HANDLE grand = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                             static_cast<DWORD>(std::stoul(report.other.at("grandchild"))));
  ASSERT_NE(grand, nullptr);
  TerminateProcess(grand, 0);
  WaitForSingleObject(grand, 5000);
  CloseHandle(grand);
}

// Only the output pipe and NUL are handed down: an inheritable handle of
// ours (the log, another child's pipe) must not stay open in the child.
TEST(ProcessStart, ChildInheritsNoOtherHandles) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE probe = CreateEventW(&inheritable, TRUE, TRUE, nullptr);
  ASSERT_NE(probe, nullptr);
  const std::string probeValue = std::to_string(reinterpret_cast<uintptr_t>(probe));
  for (const bool capture : {true, false}) {
    winetest::TemporaryFolder folder;
    // Without capture the child has no pipe; it reports through a file.
    const Knobs knobs{{"ECHO_ARGS_PROBE_HANDLE", probeValue},
                      {"ECHO_ARGS_REPORT_FILE", capture ? "" : folder.file("report.txt")}};
    ChildProcess child;
    platform::Error error;
    ASSERT_EQ(child.start(knobs.start("", capture), error), StartOutcome::Started);
    ASSERT_EQ(child.wait(20000, error), WaitOutcome::Exited);
    std::string output = child.takeOutput();
    if (!capture) {
      ASSERT_FALSE(platform::readFile(folder.file("report.txt"), output, 1 << 20).failed());
    }
    const EchoReport report = parseEcho(output);
    ASSERT_TRUE(report.other.count("probe")) << output;
    EXPECT_EQ(report.other.at("probe"), "absent") << (capture ? "captured" : "not captured");
  }
  CloseHandle(probe);
}

// Another user can make a pipe of any name before us; a name of ours that is
// taken is passed over for a new one, and the pipe made first is never
// joined. Names come from a source the test controls, so the taken name is
// the one the start would use.
TEST(ProcessOutput, ATakenPipeNameIsReplacedNeverJoined) {
  static int calls;  // the first name is the taken one, every later one is free
  const platform::win32::RandomBytes source = [](void* buffer, ULONG size) {
    std::memset(buffer, calls++ == 0 ? 0xAB : 0xCD, size);
    return true;
  };
  const unsigned char taken[16] = {0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB,
                                   0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB};
  const std::wstring takenName = platform::win32::outputPipeName(taken);
  HANDLE squatter =
      CreateNamedPipeW(takenName.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 2, 0, 0, 0, nullptr);
  ASSERT_NE(squatter, INVALID_HANDLE_VALUE);

  calls = 0;
  platform::win32::OutputPipe pipe;
  const platform::Error made = platform::win32::createOutputPipe(pipe, source);
  ASSERT_FALSE(made.failed()) << made.operation;
  EXPECT_EQ(calls, 2);
  EXPECT_NE(pipe.name, takenName);
  EXPECT_EQ(pipe.name.size(), takenName.size()) << "32 hex digits";

  // A source that only ever gives taken names ends in a clear error, not a
  // loop and not the squatter's pipe.
  const platform::win32::RandomBytes stuck = [](void* buffer, ULONG size) {
    std::memset(buffer, 0xAB, size);
    return true;
  };
  platform::win32::OutputPipe none;
  const platform::Error refused = platform::win32::createOutputPipe(none, stuck);
  EXPECT_TRUE(refused.failed());
  EXPECT_NE(refused.operation.find("random names were all taken"), std::string::npos) << refused.operation;
  EXPECT_FALSE(none.server);
  CloseHandle(squatter);
}

// Only the system and the administrators may open the pipe, and whoever
// connects to it before the tool's end is opened costs a new name, never
// the start.
TEST(ProcessOutput, ThePipeIsTheAdministratorsAndAnEarlyConnectIsPassedOver) {
  static int calls;
  calls = 0;
  const platform::win32::RandomBytes source = [](void* buffer, ULONG size) {
    std::memset(buffer, 0x10 + calls++, size);
    return true;
  };
  static HANDLE intruder;
  intruder = INVALID_HANDLE_VALUE;
  const platform::win32::PipeMade connectFirst = [](const std::wstring& name) {
    if (intruder == INVALID_HANDLE_VALUE)
      intruder = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  platform::win32::OutputPipe pipe;
  const platform::Error made = platform::win32::createOutputPipe(pipe, source, connectFirst);
  ASSERT_FALSE(made.failed()) << made.operation << ": " << made.message;
  ASSERT_NE(intruder, INVALID_HANDLE_VALUE) << "the intruder could not connect: " << GetLastError();
  EXPECT_EQ(calls, 2) << "the pipe the intruder took was given up";
  ASSERT_TRUE(pipe.client);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(pipe.client.get(), "ok", 2, &written, nullptr));
  char got[2] = {};
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD read = 0;
  if (!ReadFile(pipe.server.get(), got, 2, nullptr, &overlapped)) {
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  }
  ASSERT_TRUE(GetOverlappedResult(pipe.server.get(), &overlapped, &read, TRUE));
  CloseHandle(overlapped.hEvent);
  EXPECT_EQ(std::string(got, read), "ok") << "the client end is connected to our server";
  CloseHandle(intruder);

  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  ASSERT_EQ(GetSecurityInfo(pipe.server.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  LPWSTR sddl = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
  // Protected, and two entries: the system's and the administrators'.
  const std::string text = platform::win32::toUtf8(sddl);
  EXPECT_EQ(text.rfind("D:P(A;;", 0), 0u) << text;
  EXPECT_NE(text.find(";;;SY)"), std::string::npos) << text;
  EXPECT_NE(text.find(";;;BA)"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '('), 2) << text;
  LocalFree(sddl);
  LocalFree(descriptor);
}

}  // namespace
