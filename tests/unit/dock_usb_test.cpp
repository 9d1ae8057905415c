// The HID transport on the simulated HID bus: the device list, opening,
// the feature-report exchanges as the controller sees them, the report
// exchanges and the reader thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dock/usb.h"
#include "hardware/sim/hid_test_hooks.h"
#include "platform/error.h"
#include "tests/unit/test_machine.h"

namespace {

using testing_machine::TestMachine;

constexpr const char* kMouse =
    "\\\\?\\hid#vid_046d&pid_c52b&mi_00#7&1b2c3d4e&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr const char* kKeyboard =
    "\\\\?\\HID#VID_045E&PID_07A5&MI_01#7&AA&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr const char* kDock =
    "\\\\?\\hid#vid_6a3d&pid_1c58&mi_01#8&2f1e0a7&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

std::string dockMachine(const std::string& extra = "") {
  return std::string(testing_machine::kFastTime) + "[hid]\nother = " + kMouse + "\n[dock]\n" + extra;
}

std::vector<std::string> events(const TestMachine& machine, const std::string& event) {
  std::vector<std::string> found;
  for (const std::string& line : machine.traceLines()) {
    if (line.find("\"event\":\"" + event + "\"") != std::string::npos) found.push_back(line);
  }
  return found;
}

// The "data" field of a trace line.
std::string dataOf(const std::string& line) {
  const std::string key = "\"data\":\"";
  const size_t at = line.find(key);
  if (at == std::string::npos) return "";
  return line.substr(at + key.size(), line.find('"', at + key.size()) - at - key.size());
}

std::string hexOf(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[3];
  for (const uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  return text;
}

// The greeting frame, which unlocks the simulated controller.
std::vector<uint8_t> greetingFrame() {
  std::vector<uint8_t> frame = {0x5E};
  for (const char c : std::string("DockCfg-Unlock")) frame.push_back(static_cast<uint8_t>(c));
  frame.push_back(0x00);
  return frame;
}

TEST(DockUsb, DeviceListInBusOrder) {
  struct Case {
    std::string ini;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"", {"kept"}},  // no HID interface: true, the list as it was
      {dockMachine(), {"kept", kMouse, kDock}},
      {dockMachine("present = no\n"), {"kept", kMouse}},
      {std::string("[hid]\nother = ") + kKeyboard + "\nother = " + kMouse + "\n",
       {"kept", kKeyboard, kMouse}},
  };
  for (const Case& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(c.ini);
    std::vector<std::string> list = {"kept"};
    EXPECT_TRUE(USB::FindUSBDeviceList(list));
    EXPECT_EQ(list, c.expected) << c.ini;
  }
}

TEST(DockUsb, OpenDeviceReadsAttributesAndCapabilities) {
  TestMachine machine;
  machine.writeMachineIni(dockMachine("feature_report_length = 65\n") + "[hid]\nlocked = " + kMouse + "\n");
  USB usb;
  ASSERT_TRUE(usb.OpenDevice(kDock, nullptr));
  EXPECT_EQ(usb.deviceAttributes.vendorId, 0x6A3D);
  EXPECT_EQ(usb.deviceAttributes.productId, 0x1C58);
  EXPECT_EQ(usb.capabilities.featureReportByteLength, 65);
  EXPECT_TRUE(usb.deviceHandle.valid());

  // A locked interface opens for its attributes only: true, no handle, and
  // an exchange then fails; the dock's handle was closed first.
  ASSERT_TRUE(usb.OpenDevice(kMouse, nullptr));
  EXPECT_EQ(usb.deviceAttributes.vendorId, 0x046D);
  EXPECT_EQ(usb.deviceAttributes.productId, 0xC52B);
  EXPECT_FALSE(usb.deviceHandle.valid());
  const uint8_t frame[3] = {0x5E, 0xCE, 0x03};
  EXPECT_FALSE(usb.SendUSBReport(frame, 3, nullptr, 0));

  EXPECT_FALSE(usb.OpenDevice("\\\\?\\hid#vid_1234&pid_5678#missing", nullptr));
  EXPECT_FALSE(usb.deviceHandle.valid());
}

TEST(DockUsb, SizedExchangeFillsAndCutsToTheReportLength) {
  TestMachine machine;
  machine.writeMachineIni(dockMachine("feature_report_length = 20\n"));
  USB usb;
  ASSERT_TRUE(usb.OpenDevice(kDock, nullptr));
  std::vector<uint8_t> greeting = greetingFrame();
  // Longer than the report: only its first 20 bytes go out, so the copy is
  // bounded, and SendUSBReportFillFF bounds it as well.
  greeting.resize(40, 0xFF);
  EXPECT_TRUE(usb.SendUSBReportFillFF(greeting.data(), static_cast<int32_t>(greeting.size()), nullptr, 0));
  const uint8_t read[3] = {0x5E, 0xCE, 0x03};
  uint8_t recv[300];
  std::memset(recv, 0xAB, sizeof recv);
  // A receive size below the report length is refused by the class driver.
  EXPECT_FALSE(usb.SendUSBReport(read, 3, recv, 10));
  EXPECT_EQ(recv[0], 0xAB);
  EXPECT_TRUE(usb.SendUSBReport(read, 3, recv, 30));
  // Recv with RecvSize 0: only the send happens.
  EXPECT_TRUE(usb.SendUSBReport(read, 3, recv, 0));

  const std::vector<std::string> sets = events(machine, "hid.set_feature");
  ASSERT_EQ(sets.size(), 4u);
  std::vector<uint8_t> sentGreeting = greetingFrame();
  sentGreeting.resize(20, 0xFF);
  EXPECT_EQ(dataOf(sets[0]), hexOf(sentGreeting));
  std::vector<uint8_t> sentRead = {0x5E, 0xCE, 0x03};
  sentRead.resize(20, 0xFF);
  EXPECT_EQ(dataOf(sets[1]), hexOf(sentRead));
  EXPECT_EQ(events(machine, "hid.get_feature").size(), 2u);
  // Thirty bytes copied: the 20-byte report, report ID first, then zeros;
  // the rest of Recv untouched.
  EXPECT_EQ(std::vector<uint8_t>(recv, recv + 4), (std::vector<uint8_t>{0x5E, 0xCE, 0x03, 0xFF}));
  EXPECT_EQ(recv[19], 0xFF);
  EXPECT_EQ(recv[29], 0x00);
  EXPECT_EQ(recv[30], 0xAB);
}

TEST(DockUsb, UnusableReportLengthsAreRefused) {
  struct Case {
    int featureLength;
    bool sized;  // the sized exchange can stage any usable length
    bool fixed;  // the fixed-size ones only up to 300
  };
  const Case cases[] = {{0, false, false}, {1, false, false},  {2, true, true},
                        {300, true, true}, {301, true, false}, {4000, true, false}};
  for (const Case& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(dockMachine("feature_report_length = " + std::to_string(c.featureLength) + "\n"));
    USB usb;
    ASSERT_TRUE(usb.OpenDevice(kDock, nullptr));
    std::vector<uint8_t> send = greetingFrame();
    send.resize(300, 0xFF);
    // A 2-byte report cannot hold the greeting: the controller refuses it,
    // but the exchange itself goes out.
    const bool sizedSent = usb.SendUSBReport(send.data(), 16, nullptr, 0);
    EXPECT_EQ(sizedSent, c.sized && c.featureLength >= 16) << c.featureLength;
    EXPECT_EQ(events(machine, "hid.set_feature").size(), c.sized ? 1u : 0u) << c.featureLength;
    uint8_t recv[300] = {};
    usb.SendUSBReport(send.data(), uint16_t{0x5E}, recv);
    EXPECT_EQ(events(machine, "hid.set_feature").size(), (c.sized ? 1u : 0u) + (c.fixed ? 1u : 0u))
        << c.featureLength;
  }
}

TEST(DockUsb, FixedSizeExchanges) {
  TestMachine machine;
  machine.writeMachineIni(dockMachine("feature_report_length = 64\nblock = 0A0B\n"));
  USB usb;
  ASSERT_TRUE(usb.OpenDevice(kDock, nullptr));
  uint8_t send[300];
  std::memset(send, 0xFF, sizeof send);
  const std::vector<uint8_t> greeting = greetingFrame();
  std::memcpy(send, greeting.data(), greeting.size());
  EXPECT_TRUE(usb.SendUSBReport_light(send, nullptr));

  std::memset(send, 0xFF, sizeof send);
  send[0] = 0x5E;
  send[1] = 0xCE;
  send[2] = 0x03;
  uint8_t recv[300];
  std::memset(recv, 0xAB, sizeof recv);
  EXPECT_TRUE(usb.SendUSBReport(send, uint16_t{0x015E}, recv));
  EXPECT_EQ(std::vector<uint8_t>(recv, recv + 5), (std::vector<uint8_t>{0x5E, 0xCE, 0x03, 0x0A, 0x0B}));
  EXPECT_EQ(recv[63], 0xFF);
  EXPECT_EQ(recv[64], 0x00);  // all 300 staged bytes are copied, zeros after the report

  // A report ID the device lacks: the fetch fails with the system's code.
  EXPECT_FALSE(usb.SendUSBReport(send, uint16_t{0x07}, recv));
  EXPECT_STREQ(usb.lastLogMessage, "Can not communication with KB. LastError:(Get)87");
  machine.writeMachineIni(dockMachine("feature_report_length = 64\nfail_sets = 1\n"));
  EXPECT_FALSE(usb.SendUSBReport_light(send, recv));
  EXPECT_STREQ(usb.lastLogMessage, "Can not communication with KB. LastError:(Set)31");
}

TEST(DockUsb, SizedExchangeFailureTexts) {
  TestMachine machine;
  machine.writeMachineIni(dockMachine("fail_gets = 1\n"));
  USB usb;
  ASSERT_TRUE(usb.OpenDevice(kDock, nullptr));
  const std::vector<uint8_t> greeting = greetingFrame();
  ASSERT_TRUE(usb.SendUSBReport(greeting.data(), 16, nullptr, 0));
  const uint8_t read[3] = {0x5E, 0xCE, 0x01};
  uint8_t recv[300];
  EXPECT_FALSE(usb.SendUSBReport(read, 3, recv, 300));
  EXPECT_STREQ(usb.lastLogMessage, "Can not communication with KB. LastError:31(Get)");
  EXPECT_TRUE(usb.SendUSBReport(read, 3, recv, 300));  // the count ran down
  EXPECT_EQ(usb.featureSendBuffer, nullptr);
  EXPECT_EQ(usb.featureRecvBuffer, nullptr);
}

TEST(DockUsb, ReportExchanges) {
  TestMachine machine;
  machine.writeMachineIni(dockMachine() + "[hid]\nlocked = " + kMouse + "\n");
  hardware::sim::clearInputReports();
  USB usb;
  ASSERT_TRUE(usb.OpenDevice(kDock, nullptr));
  uint8_t send[300] = {0x00, 0x11, 0x22};
  uint8_t recv[300];

  struct Case {
    std::vector<uint8_t> response;
    bool reFalse;
    bool ok;
  };
  const Case cases[] = {
      {{0x00, 0x01, 0x02}, false, true},
      {{0x00, 0xFF, 0xAA}, false, false},
      {{0x00, 0xFF, 0xAA}, true, true},
  };
  for (const Case& c : cases) {
    hardware::sim::queueInputReport(kDock, c.response);
    std::memset(recv, 0xAB, sizeof recv);
    EXPECT_EQ(usb.SendUSBData(send, recv, true, c.reFalse), c.ok);
    if (c.ok) {
      EXPECT_EQ(std::vector<uint8_t>(recv, recv + 3), c.response);
    }
  }
  EXPECT_STREQ(usb.lastLogMessage, "Command Return Fail.");
  EXPECT_TRUE(usb.SendUSBData(send, nullptr, false, false));
  EXPECT_EQ(events(machine, "hid.write").size(), 4u);

  hardware::sim::queueInputReport(kDock, {0x00, 0x42});
  EXPECT_TRUE(usb.ReadUSBData(recv));
  EXPECT_EQ(recv[1], 0x42);

  // A failed read leaves its system error code in the first four bytes.
  ASSERT_TRUE(usb.OpenDevice(kMouse, nullptr));
  std::memset(recv, 0xAB, sizeof recv);
  EXPECT_FALSE(usb.ReadUSBData(recv));
  std::vector<uint8_t> expected(300, 0x00);
  expected[0] = platform::kErrorInvalidHandle;  // the read/write open was refused
  EXPECT_EQ(std::vector<uint8_t>(recv, recv + 300), expected);
  EXPECT_STREQ(usb.lastLogMessage, "Can not communication with KB.LastError:(Get)6");
}

TEST(DockUsb, ReaderThreadHandsReportsToTheWindowAndStops) {
  TestMachine machine;
  machine.writeMachineIni(dockMachine());
  hardware::sim::clearInputReports();
  int window = 0;
  std::atomic<int> reports{0};
  std::atomic<int> started{0};
  std::atomic<uint8_t> lastByte{0};
  hardware::sim::setWindowReceiver(
      [&](void* target, uint32_t message, uintptr_t, intptr_t lParam) -> intptr_t {
        EXPECT_EQ(target, &window);
        EXPECT_EQ(message, USB::kReportMessage);
        if (lParam == reinterpret_cast<intptr_t>(USB::kReaderStarted)) {
          ++started;
        } else {
          lastByte = reinterpret_cast<USB::ReaderContext*>(lParam)->report[1];
          ++reports;
        }
        return 0;
      });
  {
    USB usb;
    ASSERT_TRUE(usb.OpenDevice(kDock, &window));
    EXPECT_EQ(started, 1);
    hardware::sim::queueInputReport(kDock, {0x00, 0x07});
    hardware::sim::queueInputReport(kDock, {0x00, 0x08});
    for (int i = 0; i < 400 && reports < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(reports, 2);
    EXPECT_EQ(lastByte, 0x08);
    // The reader is now blocked on a silent device; replacing it and
    // releasing must not wait for a report that never comes.
    EXPECT_TRUE(usb.SetDisplayWindow(&window));
    EXPECT_TRUE(usb.SetDisplayWindow(nullptr));
    EXPECT_FALSE(usb.readThread.joinable());
    EXPECT_TRUE(usb.SetDisplayWindow(&window));
  }  // the destructor's Release stops the last reader
  hardware::sim::setWindowReceiver(nullptr);
}

TEST(DockUsb, FindUSBDeviceByPathOrUsage) {
  TestMachine machine;
  machine.writeMachineIni(dockMachine() + "other = " + kKeyboard + "\n");
  struct Case {
    const char* name;
    std::function<void(USB&)> target;
    bool found;
  };
  const Case cases[] = {
      {"no target set", [](USB&) {}, false},
      {"dock by path rule", [](USB& u) { u.SetWantedDevice(0x6A3D, 0x1C58); }, true},
      {"keyboard by path rule (mi_01 is case-sensitive)", [](USB& u) { u.SetWantedDevice(0x045E, 0x07A5); },
       false},
      {"mouse by usage", [](USB& u) { u.SetWantedUsage(0x046D, 0xC52B, 0x0002, 0x0001); }, true},
      {"dock with the wrong usage", [](USB& u) { u.SetWantedUsage(0x6A3D, 0x1C58, 0x0002, 0x0001); }, false},
  };
  for (const Case& c : cases) {
    USB usb;
    c.target(usb);
    EXPECT_EQ(usb.FindUSBDevice(), c.found) << c.name;
    EXPECT_EQ(usb.deviceHandle.valid(), c.found) << c.name;
  }
}

}  // namespace
