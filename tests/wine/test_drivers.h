// The test drivers as a Wine test needs them: present with their default
// state, or absent. A driver that Wine cannot install or remove fails the
// test with the call that failed; it is never a skip.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/wine/drivers/driver_control.h"

namespace winetest {

inline void requireDock(uint32_t featureLength = OVVB_DOCK_DEFAULT_FEATURE_LENGTH) {
  namespace d = drivers;
  d::State state(OVVB_DOCK_SERVICE);
  state.clear();
  state.setDword(OVVB_DOCK_FEATURE_LENGTH, featureLength);
  const d::Outcome installed = d::installDock(d::driverFolder());
  ASSERT_EQ(installed, "") << "installing the dock controller stand-in (ovvb_drivers.exe install)";
  ASSERT_EQ(d::dockFeatureLength(), featureLength);
}

inline void requireNoDock() {
  const drivers::Outcome removed = drivers::removeDock();
  ASSERT_EQ(removed, "") << "removing the dock controller stand-in";
}

inline void requireAcpi() {
  drivers::State(OVVB_ACPI_SERVICE).clear();
  drivers::Outcome started = drivers::installAcpi(drivers::driverFolder());
  ASSERT_EQ(started, "") << "installing the ZELACPI stand-in (ovvb_drivers.exe install)";
}

inline void requireNoAcpi() {
  const drivers::Outcome stopped = drivers::stopAcpi();
  ASSERT_EQ(stopped, "") << "stopping the ZELACPI stand-in";
}

inline std::vector<drivers::WireRecord> dockWire() {
  return drivers::parseWire(drivers::State(OVVB_DOCK_SERVICE).binary(OVVB_DOCK_WIRE));
}

inline std::vector<drivers::ControlRecord> acpiCalls() {
  return drivers::parseCalls(drivers::State(OVVB_ACPI_SERVICE).binary(OVVB_ACPI_CALLS));
}

inline std::vector<uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

}  // namespace winetest
