// The rows of the WMI emulator as COM objects: one IWbemClassObject per
// device and the forward-only IEnumWbemClassObject that hands them out.
#pragma once

#include <windows.h>
// wbemidl.h after windows.h: it builds on the COM types windows.h declares.
#include <wbemidl.h>

#include <memory>

#include "tests/wine/emulators/wmi_devices.h"

namespace winetest::emulators {

// A new enumeration over the list, with one reference for the caller.
IEnumWbemClassObject* newDeviceEnumeration(std::shared_ptr<const DeviceList> list);

}  // namespace winetest::emulators
