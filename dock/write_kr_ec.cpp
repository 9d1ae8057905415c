#include "dock/write_kr_ec.h"

#include <memory>
#include <string>

#include "dock/dock_controller_client.h"
#include "hardware/nvapi.h"
#include "platform/system.h"

namespace {

constexpr const char* kGenValue = "3";

// Steps 3 to 8: everything after GEN is written. The client stays with
// the caller, which deletes it once on every path.
int32_t writeVbiosVersion(COrvoDIvivazuv& client) {
  char version[hardware::kNvapiShortStringMax] = {};
  hardware::NvApi nvapi;
  if (nvapi.Initialize() != hardware::kNvapiOk) {
    platform::writeStandardOutput("FAIL to use API\n");
    return result::dock_ec::kNvapiInitializeFailed;  // nothing was loaded: no Unload
  }
  int32_t part = result::dock_ec::kWritten;
  hardware::NvPhysicalGpuHandle gpus[hardware::kNvapiMaxPhysicalGpus] = {};
  uint32_t count = 0;
  if (nvapi.EnumPhysicalGPUs(gpus, &count) != hardware::kNvapiOk) {
    platform::writeStandardOutput("FAIL to get Physical GPU\n");
    part = result::dock_ec::kNvapiEnumFailed;
  } else if (nvapi.GPU_GetVbiosVersionString(gpus[0], version) != hardware::kNvapiOk) {
    platform::writeStandardOutput("FAIL to get VBIOS Version String\n");
    part = result::dock_ec::kNvapiVersionFailed;
  } else {
    version[sizeof version - 1] = '\0';  // a driver that filled all 64 bytes
    if (client.WriteGcConfig("VBIOS", version) != COrvoDIvivazuv::kWriteOk) {
      platform::writeStandardOutput("FAIL to write Gc Config VBIOS\n");
      part = result::dock_ec::kVbiosFailed;
    }
  }
  nvapi.Unload();
  return part;
}

}  // namespace

int32_t writeKrEC() {
  const auto client = std::make_unique<COrvoDIvivazuv>();
  if (client->WriteGcConfig("GEN", kGenValue) != COrvoDIvivazuv::kWriteOk) {
    platform::writeStandardOutput("FAIL to write Gc Config GEN\n");
    return result::dock_ec::kGenFailed;
  }
  return writeVbiosVersion(*client);
}
