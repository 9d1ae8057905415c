#include "dock/dock_controller_client.h"

#include <cstdlib>
#include <vector>

#include "platform/system.h"

namespace {

// The controller's interfaces: USB vendor 6A3D, product 1C58, as the HID
// class writes them in the interface path.
constexpr const char* kControllerIdentity = "vid_6a3d&pid_1c58";

}  // namespace

COrvoDIvivazuv::COrvoDIvivazuv() : transport(std::make_unique<USB>()) {
  std::vector<std::string> devices;
  USB::FindUSBDeviceList(devices);
  for (const std::string& path : devices) {
    if (path.find(kControllerIdentity) == std::string::npos) continue;
    if (!transport->OpenDevice(path, nullptr)) {
      platform::writeStandardOutput("Open device fail\n");
      continue;
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      const bool greeted = Initial();
      platform::sleepMs(kGreetingPauseMs);
      if (greeted) return;
    }
  }
  platform::writeStandardOutput("Initial fail or DIvivazuv not found!\n");
}

bool COrvoDIvivazuv::Initial() {
  buildGreetingFrame(command);
  return transport->SendUSBReport(command.data, command.length, nullptr, 0);
}

int32_t COrvoDIvivazuv::ReadGcConfigs(std::string ConfigName) {
  const uint8_t group = STRUCT_GC_CONFIG::inBlockGroup(ConfigName) ? kDockBlockGroup : kDockTextGroup;
  buildReadRequest(command, group);
  bool answered = false;
  for (int attempt = 0; attempt < kAttempts && !answered; ++attempt) {
    answered = transport->SendUSBReport(command.data, command.length, response, kDockResponseSize);
    if (!answered) platform::sleepMs(kRetryPauseMs);
  }
  if (!answered) return kNoResponse;
  if (group == kDockBlockGroup) {
    decodeBlockGroup(response, config);
  } else {
    decodeTextGroup(response, config);
  }
  return kReadOk;
}

int32_t COrvoDIvivazuv::WriteGcConfig(std::string ConfigName, std::string data) {
  // INDEX3 is a view of the block response, not an item: there is nothing
  // to write, and the text-group frame a write would fall back to would
  // clear the text items.
  if (ConfigName == "INDEX3") return kNotWritten;
  config.clear();
  // Without the group's current values the frame would overwrite the other
  // items with fill bytes: no read, no write.
  if (ReadGcConfigs(ConfigName) != kReadOk) return kNotWritten;
  const int slot = STRUCT_GC_CONFIG::slotOf(ConfigName);
  if (slot >= 0) config.item[slot] = data;

  if (STRUCT_GC_CONFIG::inBlockGroup(ConfigName)) {
    buildBlockWriteFrame(command, config);
  } else {
    buildTextWriteFrame(command, config);
  }
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (transport->SendUSBReport(command.data, command.length, nullptr, 0)) return kWriteOk;
    platform::sleepMs(kRetryPauseMs);
  }
  return kNotWritten;
}

void COrvoDIvivazuv::Close() {
  transport.reset();
  std::exit(0);
}
