// How fast the installer captures a child's standard output: a child printing
// 64 MiB, captured whole, against `cat` reading the same bytes from a pipe.
// Prints figures; asserts nothing about time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/process.h"

namespace {

constexpr long long kBytes = 64LL << 20;

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

double captureOnce(size_t& captured) {
  platform::ChildProcess child;
  platform::Error error;
  platform::ProcessStart start{"Z:\\usr\\bin\\head", "-c " + std::to_string(kBytes) + " /dev/zero", true};
  const auto begin = std::chrono::steady_clock::now();
  if (child.start(start, error) != platform::StartOutcome::Started) {
    std::fprintf(stderr, "cannot start head: %s\n", error.message.c_str());
    std::exit(1);
  }
  child.wait(600000, error);
  captured = child.takeOutput().size();
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
  double bestCapture = 1e9, bestCat = 1e9;
  size_t captured = 0;
  for (int i = 0; i < 5; ++i) {
    bestCapture = std::min(bestCapture, captureOnce(captured));
    bestCat = std::min(bestCat, catOnce());
  }
  if (captured != static_cast<size_t>(kBytes)) {
    std::fprintf(stderr, "captured %zu bytes, expected %lld\n", captured, kBytes);
    return 1;
  }
  std::printf("capture of 64 MiB: %.3f s (%.0f MiB/s); cat through a pipe: %.3f s (%.0f MiB/s); ratio %.2f\n",
              bestCapture, 64 / bestCapture, bestCat, 64 / bestCat, bestCapture / bestCat);
  return 0;
}
