// Small services every Windows PC has: sleeping, the user's culture, the
// clock of the log, standard output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// posix: multiplied by [time] scale and recorded as a "sleep" trace event.
void sleepMs(uint32_t ms);

// The LCID of the user's regional-format culture (posix: [user] lcid).
uint32_t userLcid();

struct LocalTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

LocalTime localNow();

// "Short date" + " " + "long time" of the user's culture, as .NET's
// DateTime.ToString() gives it: 12/7/2026 9:48:52 PM for en-US.
std::string logTimestamp(const LocalTime& time);

// Writes to the process's standard output, if it has one; a GUI program
// started without redirection has none and the text is dropped.
void writeStandardOutput(std::string_view text);

}  // namespace platform

namespace platform {

// While it lives, the system is asked not to sleep (SetThreadExecutionState
// with ES_CONTINUOUS | ES_SYSTEM_REQUIRED): a notebook that sleeps in the
// middle of a flash can leave the GPU without a readable VBIOS. Its end
// withdraws the request (ES_CONTINUOUS alone). The request belongs to the
// thread: made and withdrawn on the same one. A simulated machine traces
// both calls (posix: only traces them).
class StayAwake {
 public:
  StayAwake();
  ~StayAwake();
  StayAwake(const StayAwake&) = delete;
  StayAwake& operator=(const StayAwake&) = delete;
};

// Seed for the flash step's progress pacing: the clock (posix: [time] seed
// when set, so a simulated run can be repeated exactly).
uint64_t pacingSeed();

}  // namespace platform
