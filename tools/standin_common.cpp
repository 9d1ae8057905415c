#include "tools/standin_common.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "platform/system.h"

#ifdef _WIN32
#include <windows.h>
// shellapi.h after windows.h: CommandLineToArgvW needs its types.
#include <shellapi.h>

#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_text.h"
#endif

namespace standin {

std::vector<std::string> arguments(int argc, char** argv) {
  std::vector<std::string> result;
#ifdef _WIN32
  // The C runtime's argv is in the ANSI code page; a ROM path outside it
  // would arrive mangled, so the arguments are taken from the wide text.
  (void)argc;
  (void)argv;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  const platform::win32::ScopedLocalMemory owner(reinterpret_cast<HLOCAL>(wide));
  for (int i = 1; wide != nullptr && i < count; ++i) result.push_back(platform::win32::toUtf8(wide[i]));
#else
  for (int i = 1; i < argc; ++i) result.emplace_back(argv[i]);
#endif
  return result;
}

void printLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

uint32_t durationMs(double seconds) {
  constexpr double kMaxSeconds = 24.0 * 60 * 60;
  if (!(seconds > 0)) return 0;  // also NaN
  return static_cast<uint32_t>(std::lround(std::min(seconds, kMaxSeconds) * 1000));
}

void waitScaled(uint32_t ms) {
#ifdef _WIN32
  // The win32 platform sleeps in real time, as the product must; the
  // stand-ins of the windows-sim build honour the machine's scale themselves
  // and record the wait as the posix platform would.
  simulated::Trace("sleep").num("ms", ms).write();
  const double scale = simulated::MachineIni::load().getDouble("time", "scale", 1.0);
  if (scale > 0 && ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::llround(std::min(scale, 1000.0) * ms)));
  }
#else
  platform::sleepMs(ms);
#endif
}

void hangUntilKilled() {
  while (true) std::this_thread::sleep_for(std::chrono::seconds(1));
}

}  // namespace standin
