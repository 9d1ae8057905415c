#include "installer/closing_steps.h"

#include "common/result_codes.h"
#include "dock/write_kr_bios.h"
#include "dock/write_kr_ec.h"
#include "platform/system.h"

int32_t runClosingSteps(int32_t code, VBiosConfigs& cfg, LogWriter& w) {
  int32_t dockResult = 0;
  int32_t linkResult = 0;
  if (cfg.ECConfig != 0) {
    dockResult = writeKrEC();
    if (dockResult == result::dock_ec::kGenFailed) {
      OvLog("WARNING Write KR EC config 'GEN' fail", w);
    } else if (dockResult > result::dock_ec::kGenFailed) {
      OvLog("WARNING Write KR EC config 'VBIOS' fail", w);
    }
  }
  if (cfg.WMIConfig != 0) {
    linkResult = writeKrBIOS();
    if (linkResult == result::dock_link::kNoDevice) {
      OvLog("WARNING InitializeZELACPIDevice() fail", w);
    } else if (linkResult == result::dock_link::kSwitchFailed) {
      OvLog("WARNING Cannot switch host PCIe back to Gen4", w);
    }
  }
  code = result::foldClosingResults(code, dockResult, linkResult);
  platform::sleepMs(1000);
  return code;
}
