#include "platform/system.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <string>

#include "platform/culture_patterns.h"
#include "platform/simulation.h"
#include "platform/win32/wide_text.h"

namespace platform {

namespace {

constexpr size_t kMaxWrite = size_t{1} << 30;

// Culture-formatted pieces are short; the size query guards against a
// user-defined pattern that is not.
template <typename Format>
std::wstring formatWith(Format format) {
  const int needed = format(nullptr, 0);
  if (needed <= 0) return {};
  std::wstring text(static_cast<size_t>(needed), L'\0');
  const int written = format(text.data(), needed);
  if (written <= 0) return {};
  text.resize(static_cast<size_t>(written - 1));  // the count includes the NUL
  return text;
}

bool toSystemTime(const LocalTime& time, SYSTEMTIME& out) {
  const auto fits = [](int value, int low, int high) { return value >= low && value <= high; };
  if (!fits(time.year, 1601, 30827) || !fits(time.month, 1, 12) || !fits(time.day, 1, 31) ||
      !fits(time.hour, 0, 23) || !fits(time.minute, 0, 59) || !fits(time.second, 0, 59)) {
    return false;
  }
  out = SYSTEMTIME{};
  out.wYear = static_cast<WORD>(time.year);
  out.wMonth = static_cast<WORD>(time.month);
  out.wDay = static_cast<WORD>(time.day);
  out.wHour = static_cast<WORD>(time.hour);
  out.wMinute = static_cast<WORD>(time.minute);
  out.wSecond = static_cast<WORD>(time.second);
  return true;
}

}  // namespace

void sleepMs(uint32_t ms) { Sleep(simulatedSleepMs(ms)); }

StayAwake::StayAwake() {
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  simulatedStayAwake(true);
}

StayAwake::~StayAwake() {
  SetThreadExecutionState(ES_CONTINUOUS);
  simulatedStayAwake(false);
}

uint32_t userLcid() { return GetUserDefaultLCID(); }

LocalTime localNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  LocalTime time;
  time.year = now.wYear;
  time.month = now.wMonth;
  time.day = now.wDay;
  time.hour = now.wHour;
  time.minute = now.wMinute;
  time.second = now.wSecond;
  return time;
}

std::string logTimestamp(const LocalTime& time) {
  try {
    SYSTEMTIME st{};
    if (toSystemTime(time, st)) {
      const std::wstring date = formatWith([&](wchar_t* buffer, int size) {
        return GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer, size);
      });
      const std::wstring clock = formatWith([&](wchar_t* buffer, int size) {
        return GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, size);
      });
      if (!date.empty() && !clock.empty()) return win32::toUtf8(date + L" " + clock);
    }
    // A date the system will not format (an impossible day) still gets a
    // stamp, so the log line is not lost.
    return formatGeneralDateTime(time, userLcid());
  } catch (const std::bad_alloc&) {
    return {};
  }
}

void writeStandardOutput(std::string_view text) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE || text.empty()) return;
  try {
    DWORD mode = 0;
    if (GetConsoleMode(output, &mode)) {
      // A console shows UTF-16 faithfully; raw UTF-8 bytes would be read in
      // its code page.
      const std::wstring wide = win32::toWide(text);
      std::wstring_view rest(wide);
      while (!rest.empty()) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(rest.size(), 16 * 1024));
        if (!WriteConsoleW(output, rest.data(), piece, &written, nullptr) || written == 0) return;
        rest.remove_prefix(written);
      }
      return;
    }
  } catch (const std::bad_alloc&) {
    return;
  }
  // A pipe or file gets the UTF-8 bytes unchanged; a reader that went away
  // must not disturb the caller, so failures are ignored.
  while (!text.empty()) {
    DWORD written = 0;
    const DWORD piece = static_cast<DWORD>(std::min(text.size(), kMaxWrite));
    if (!WriteFile(output, text.data(), piece, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

}  // namespace platform
