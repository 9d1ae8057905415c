// The win32 HID layer for real under Wine: SetupAPI's interface list,
// CreateFileW on interface paths, hid.dll's attributes, capabilities and
// feature reports; first against Wine's own virtual mouse and keyboard, then
// against the dock controller stand-in (tests/wine/drivers), which records
// every report it sees.
#include <gtest/gtest.h>
#include <windows.h>
// setupapi.h after windows.h: it relies on the types windows.h declares.
#include <setupapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "hardware/hid.h"
#include "platform/win32/wide_text.h"
#include "tests/wine/test_drivers.h"

namespace {

namespace hid = hardware::hid;
namespace drivers = winetest::drivers;

std::vector<std::string> layerPaths() {
  const hid::InterfaceClass hidClass = hid::hidInterfaceClass();
  hid::InterfaceSet set = hid::openPresentInterfaces(hidClass);
  EXPECT_TRUE(set.valid());
  std::vector<std::string> paths;
  for (uint32_t i = 0;; ++i) {
    std::string path;
    const hid::InterfaceStep step = hid::interfacePath(set, hidClass, i, i % 2 == 1, path);
    if (step == hid::InterfaceStep::End) break;
    EXPECT_EQ(step, hid::InterfaceStep::Path) << "interface " << i;
    paths.push_back(path);
  }
  return paths;
}

// The same list read straight from SetupAPI, to compare spelling and order.
std::vector<std::string> setupApiPaths() {
  GUID guid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  std::vector<std::string> paths;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &data); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    std::vector<unsigned char> storage(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr))
      paths.push_back(platform::win32::toUtf8(detail->DevicePath));
  }
  SetupDiDestroyDeviceInfoList(set);
  return paths;
}

std::vector<uint8_t> greetingReport(size_t length) {
  std::vector<uint8_t> report(length, 0xFF);
  report[0] = OVVB_DOCK_REPORT_ID;
  std::memcpy(&report[1], OVVB_DOCK_GREETING, OVVB_DOCK_GREETING_LENGTH);
  report[1 + OVVB_DOCK_GREETING_LENGTH] = 0x00;
  return report;
}

std::vector<uint8_t> requestReport(size_t length, uint8_t group) {
  std::vector<uint8_t> report(length, 0xFF);
  report[0] = OVVB_DOCK_REPORT_ID;
  report[1] = 0xCE;
  report[2] = group;
  return report;
}

// ------------------------------------------------ Wine's own HID devices

TEST(Win32HidWithoutDock, ListsOpensAndRefusesFeaturesOfWinesOwnDevices) {
  winetest::requireNoDock();
  const std::vector<std::string> paths = layerPaths();
  EXPECT_EQ(paths, setupApiPaths()) << "every interface, spelled and ordered as SetupAPI reports it";
  ASSERT_FALSE(paths.empty()) << "Wine provides a virtual mouse and keyboard";
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    EXPECT_EQ(path.find("vid_6a3d&pid_1c58"), std::string::npos);
    uint32_t error = 1;
    hid::Device probe = hid::open(path, hid::kAccessNone, hid::kShareReadWrite, error);
    ASSERT_TRUE(probe.valid()) << "probe open, error " << error;
    EXPECT_EQ(error, 0u);
    hid::Attributes attributes;
    ASSERT_TRUE(hid::getAttributes(probe, attributes));
    EXPECT_NE(attributes.vendorId, 0);
    hid::Capabilities caps;
    ASSERT_EQ(hid::getCapabilities(probe, caps), hid::CapsResult::Ok);
    EXPECT_GT(caps.inputReportByteLength, 0) << "a mouse or keyboard has input reports";

    hid::Device device = hid::open(path, hid::kAccessReadWrite, hid::kShareReadWrite, error);
    ASSERT_TRUE(device.valid()) << "read/write open, error " << error;
    EXPECT_TRUE(hid::setNumInputBuffers(device, 300));
    std::vector<uint8_t> report = greetingReport(300);
    EXPECT_FALSE(hid::setFeature(device, report.data(), 300, error));
    EXPECT_NE(error, 0u);
    EXPECT_FALSE(hid::getFeature(device, report.data(), 300, error));
    EXPECT_NE(error, 0u);
  }
}

TEST(Win32HidWithoutDock, ABlockedReadEndsWhenCancelled) {
  winetest::requireNoDock();
  const std::vector<std::string> paths = layerPaths();
  ASSERT_FALSE(paths.empty());
  uint32_t error = 0;
  hid::Device device = hid::open(paths.front(), hid::kAccessReadWrite, hid::kShareReadWrite, error);
  ASSERT_TRUE(device.valid());
  hid::Capabilities caps;
  ASSERT_EQ(hid::getCapabilities(device, caps), hid::CapsResult::Ok);
  // Nobody moves Wine's virtual mouse: the read blocks until cancelled.
  bool ok = true;
  uint32_t readError = 0;
  std::atomic<bool> ended{false};
  std::thread reader([&] {
    std::vector<uint8_t> report(caps.inputReportByteLength);
    uint32_t read = 0;
    ok = hid::readReport(device, report.data(), caps.inputReportByteLength, read, readError);
    ended = true;
  });
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  while (!ended && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    hid::cancelReads(device);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  reader.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(readError, 995u) << "ERROR_OPERATION_ABORTED";
}

// ------------------------------------------------ the dock controller stand-in

class Win32HidDock : public ::testing::Test {
 protected:
  void SetUp() override {
    winetest::requireDock();
    if (HasFatalFailure()) return;
    uint32_t error = 0;
    device_ = hid::open(drivers::kDockInterfacePath, hid::kAccessReadWrite, hid::kShareReadWrite, error);
    ASSERT_TRUE(device_.valid()) << "error " << error;
  }
  hid::Device device_;
};

TEST_F(Win32HidDock, IsListedAsSetupApiSpellsItWithItsIdentityAndReportLength) {
  const std::vector<std::string> paths = layerPaths();
  EXPECT_EQ(paths, setupApiPaths());
  EXPECT_EQ(std::count(paths.begin(), paths.end(), std::string(drivers::kDockInterfacePath)), 1);

  uint32_t error = 0;
  hid::Device probe = hid::open(drivers::kDockInterfacePath, hid::kAccessNone, hid::kShareReadWrite, error);
  ASSERT_TRUE(probe.valid());
  hid::Attributes attributes;
  ASSERT_TRUE(hid::getAttributes(probe, attributes));
  EXPECT_EQ(attributes.vendorId, 0x6A3D);
  EXPECT_EQ(attributes.productId, 0x1C58);
  EXPECT_EQ(attributes.versionNumber, OVVB_DOCK_VERSION);
  hid::Capabilities caps;
  ASSERT_EQ(hid::getCapabilities(probe, caps), hid::CapsResult::Ok);
  EXPECT_EQ(caps.featureReportByteLength, 300);
  EXPECT_EQ(caps.usagePage, 0xFF00);
  EXPECT_EQ(caps.inputReportByteLength, 0);
  EXPECT_TRUE(hid::setNumInputBuffers(device_, 300));
}

TEST_F(Win32HidDock, FeatureReportsReachTheDeviceByteForByte) {
  uint32_t error = 0;
  const std::vector<uint8_t> greeting = greetingReport(300);
  ASSERT_TRUE(hid::setFeature(device_, greeting.data(), 300, error)) << error;
  const std::vector<uint8_t> request = requestReport(300, 0x03);
  ASSERT_TRUE(hid::setFeature(device_, request.data(), 300, error)) << error;
  std::vector<uint8_t> response(302, 0x00);
  response[0] = OVVB_DOCK_REPORT_ID;
  ASSERT_TRUE(hid::getFeature(device_, response.data(), 300, error)) << error;
  EXPECT_EQ(response[1], 0xCE);
  EXPECT_EQ(response[2], 0x03);
  EXPECT_EQ(response[3], 0xFF) << "an erased block";
  EXPECT_EQ(response[300], 0x00) << "nothing past the report length";

  const std::vector<drivers::WireRecord> wire = winetest::dockWire();
  ASSERT_EQ(wire.size(), 3u);
  EXPECT_EQ(wire[0].kind, 'S');
  EXPECT_TRUE(wire[0].ok);
  EXPECT_EQ(wire[0].bytes, greeting);
  EXPECT_EQ(wire[1].bytes, request);
  EXPECT_EQ(wire[2].kind, 'G');
  EXPECT_EQ(wire[2].bytes, std::vector<uint8_t>(response.begin(), response.begin() + 300));
}

TEST_F(Win32HidDock, MalformedRequestsFailAndTheDeviceStillAnswers) {
  uint32_t error = 0;
  std::vector<uint8_t> report = greetingReport(512);
  struct Case {
    const char* what;
    bool set;
    uint8_t reportId;
    uint32_t length;
  };
  const Case cases[] = {
      {"a fetch into a buffer shorter than the report", false, OVVB_DOCK_REPORT_ID, 64},
      {"a zero-length send", true, OVVB_DOCK_REPORT_ID, 0},
      {"a zero-length fetch", false, OVVB_DOCK_REPORT_ID, 0},
      {"an unknown report ID sent", true, 0x11, 300},
      {"an unknown report ID fetched", false, 0x11, 300},
      {"a send of one byte", true, OVVB_DOCK_REPORT_ID, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    report[0] = c.reportId;
    const bool ok = c.set ? hid::setFeature(device_, report.data(), c.length, error)
                          : hid::getFeature(device_, report.data(), c.length, error);
    EXPECT_FALSE(ok);
    EXPECT_NE(error, 0u);
  }
  // A longer buffer than the report: the class driver sends the report's
  // 300 bytes and no more.
  report = greetingReport(512);
  ASSERT_TRUE(hid::setFeature(device_, report.data(), 512, error)) << error;
  const std::vector<drivers::WireRecord> wire = winetest::dockWire();
  ASSERT_FALSE(wire.empty());
  EXPECT_EQ(wire.back().bytes, greetingReport(300));
  EXPECT_EQ(drivers::State(OVVB_DOCK_SERVICE).dword(OVVB_DOCK_GREETED, 0), 1u);
}

TEST_F(Win32HidDock, InjectedFaultsFailTheExchangeWithTheDevicesError) {
  drivers::State state(OVVB_DOCK_SERVICE);
  uint32_t error = 0;
  const std::vector<uint8_t> greeting = greetingReport(300);
  state.setDword(OVVB_DOCK_ACCEPT_GREETING, 0);
  EXPECT_FALSE(hid::setFeature(device_, greeting.data(), 300, error));
  EXPECT_EQ(error, 31u) << "ERROR_GEN_FAILURE, a refused report";
  state.setDword(OVVB_DOCK_ACCEPT_GREETING, 1);

  state.setDword(OVVB_DOCK_FAIL_SETS, 1);
  EXPECT_FALSE(hid::setFeature(device_, greeting.data(), 300, error));
  EXPECT_EQ(state.dword(OVVB_DOCK_FAIL_SETS, 9), 0u) << "counted down";
  ASSERT_TRUE(hid::setFeature(device_, greeting.data(), 300, error));

  const std::vector<uint8_t> request = requestReport(300, 0x01);
  ASSERT_TRUE(hid::setFeature(device_, request.data(), 300, error));
  state.setDword(OVVB_DOCK_FAIL_GETS, 1);
  std::vector<uint8_t> response(300, 0);
  response[0] = OVVB_DOCK_REPORT_ID;
  EXPECT_FALSE(hid::getFeature(device_, response.data(), 300, error));
  EXPECT_TRUE(hid::getFeature(device_, response.data(), 300, error));

  state.setDword(OVVB_DOCK_SILENT, 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(hid::setFeature(device_, greeting.data(), 300, error));
  EXPECT_FALSE(hid::getFeature(device_, response.data(), 300, error));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
      << "a silent device costs no hang";
}

}  // namespace
