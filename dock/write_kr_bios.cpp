#include "dock/write_kr_bios.h"

#include <cstdio>

#include "dock/zelacpi_client.h"
#include "platform/system.h"

namespace {

constexpr uint32_t kHostPcieLink = 0x0006005B;
constexpr uint32_t kGen4 = 0x00010004;
constexpr uint32_t kSwitchToGen4 = 4;
constexpr uint32_t kSwitched = 1;

}  // namespace

int32_t writeKrBIOS() {
  if (!InitializeZELACPIDevice()) {
    platform::writeStandardOutput("InitializeZELACPIDevice() fail\n");
    return result::dock_link::kNoDevice;
  }
  int32_t part = result::dock_link::kDone;
  uint32_t status = 0;
  One_Method_INT(methodName("DSTS"), kHostPcieLink, &status);
  if (status == kGen4) {
    platform::writeStandardOutput("WMI DSTS 0x0006005B: Gen4\n");
  } else {
    // The status as the platform's 32-bit long prints it.
    char line[64];
    std::snprintf(line, sizeof line, "WMI DSTS 0x0006005B: %ld \n",
                  static_cast<long>(static_cast<int32_t>(status)));
    platform::writeStandardOutput(line);
    uint32_t reply = 0;
    Two_WMIMethod_INT(methodName("DEVS"), kHostPcieLink, kSwitchToGen4, &reply);
    if (reply == kSwitched) {
      platform::writeStandardOutput("Switch host PCIe back to Gen4\n");
    } else {
      platform::writeStandardOutput("Cannot switch host PCIe back to Gen4\n");
      part = result::dock_link::kSwitchFailed;
    }
  }
  UninitializeZELACPIDevice();
  return part;
}
