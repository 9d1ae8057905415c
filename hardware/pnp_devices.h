// The signed-driver device list (WMI Win32_PnPSignedDriver).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace hardware {

struct PnpDevice {
  std::string hardwareId;
  std::string driverVersion;
  bool hasDriverVersion = false;  // false: WMI reported the device without one
};

enum class NextDevice { Device, End, Failed };

// One WQL query over the local default namespace, walked in WMI's order.
class PnpDeviceQuery {
 public:
  PnpDeviceQuery();
  ~PnpDeviceQuery();  // closes the enumeration if close() was not called
  PnpDeviceQuery(const PnpDeviceQuery&) = delete;
  PnpDeviceQuery& operator=(const PnpDeviceQuery&) = delete;

  platform::Error run(std::string_view wql);
  // The next device with its hardware ID; its driver version is read only
  // when asked for, as WMI reads a property of the device in hand.
  NextDevice next(PnpDevice& device, platform::Error& error);
  // Reads "DriverVersion" of the device next() returned last into `device`.
  platform::Error readDriverVersion(PnpDevice& device);
  platform::Error close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hardware
