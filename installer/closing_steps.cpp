#include "installer/closing_steps.h"

#include "common/result_codes.h"
#include "platform/system.h"

int32_t foldClosingResults(int32_t code, int32_t dockResult, int32_t linkResult) {
  if (dockResult > 0 || linkResult > 0) return linkResult + dockResult + result::kClosingStepsBase;
  return code;
}

int32_t runClosingSteps(int32_t code, VBiosConfigs& cfg, LogWriter&) {
  cfg.removeSDriver();
  // The dock controller update (ECConfig) and the PCIe link restore
  // (WMIConfig) are not part of this program yet: neither runs, so both
  // results stay 0 and the code is unchanged.
  const int32_t dockResult = 0;
  const int32_t linkResult = 0;
  code = foldClosingResults(code, dockResult, linkResult);
  platform::sleepMs(1000);
  return code;
}
