// The AC line status as Windows reports it.
#include "hardware/power.h"

#include <windows.h>

namespace hardware {

int acLineStatus() {
  SYSTEM_POWER_STATUS status{};
  if (!GetSystemPowerStatus(&status)) return kAcUnknown;
  return status.ACLineStatus;
}

}  // namespace hardware
