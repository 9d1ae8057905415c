// How fast the installer captures a child's standard output: a child printing
// 64 MiB, read as the installer reads its tools (decoded, cut into lines,
// bounded and scanned as it arrives), and for comparison kept whole, against
// `cat` reading the same bytes from a pipe.
// Prints figures; asserts nothing about time.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "common/tool_output.h"
#include "platform/process.h"

namespace {

constexpr long long kBytes = 64LL << 20;

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Only a Windows program is started: /usr/bin/head under a .exe name, in a
// folder of its own.
const std::filesystem::path& headFolder() {
  static const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("ovvb-bench-" + std::to_string(::getpid()));
  return folder;
}

std::string headProgram() {
  std::error_code ignored;
  std::filesystem::create_directories(headFolder(), ignored);
  const std::filesystem::path link = headFolder() / "head.exe";
  std::filesystem::create_symlink("/usr/bin/head", link, ignored);
  std::string windows = "Z:";
  for (const char c : link.string()) windows += c == '/' ? '\\' : c;
  return windows;
}

double captureOnce(size_t& captured, bool whole) {
  platform::ChildProcess child;
  platform::Error error;
  size_t streamed = 0;
  ToolOutput lines;
  lines.watchFor("Restart System To Complete VBIOS Update");
  platform::ProcessStart start{headProgram(), "-c " + std::to_string(kBytes) + " /dev/zero", true};
  if (!whole) {
    start.sink = [&streamed, &lines](std::string_view chunk) {
      streamed += chunk.size();
      lines.add(chunk);
    };
  }
  const auto begin = std::chrono::steady_clock::now();
  if (child.start(start, error) != platform::StartOutcome::Started) {
    std::fprintf(stderr, "cannot start head: %s\n", error.message.c_str());
    std::exit(1);
  }
  child.wait(600000, error);
  captured = child.takeOutput().size() + streamed;
  lines.finish();
  return seconds(std::chrono::steady_clock::now() - begin);
}

double catOnce() {
  const auto begin = std::chrono::steady_clock::now();
  const std::string command = "head -c " + std::to_string(kBytes) + " /dev/zero | cat >/dev/null";
  if (std::system(command.c_str()) != 0) std::exit(1);
  return seconds(std::chrono::steady_clock::now() - begin);
}

}  // namespace

int main() {
  double bestStream = 1e9, bestWhole = 1e9, bestCat = 1e9;
  size_t streamed = 0, whole = 0;
  for (int i = 0; i < 5; ++i) {
    bestStream = std::min(bestStream, captureOnce(streamed, false));
    bestWhole = std::min(bestWhole, captureOnce(whole, true));
    bestCat = std::min(bestCat, catOnce());
  }
  if (streamed != static_cast<size_t>(kBytes) || whole != static_cast<size_t>(kBytes)) {
    std::fprintf(stderr, "captured %zu and %zu bytes, expected %lld\n", streamed, whole, kBytes);
    return 1;
  }
  std::printf("capture of 64 MiB: %.3f s (%.0f MiB/s); cat through a pipe: %.3f s (%.0f MiB/s); ratio %.2f\n",
              bestStream, 64 / bestStream, bestCat, 64 / bestCat, bestStream / bestCat);
  std::printf("capture of 64 MiB kept whole in memory: %.3f s; ratio %.2f\n", bestWhole, bestWhole / bestCat);
  std::error_code ignored;
  std::filesystem::remove_all(headFolder(), ignored);
  return 0;
}
