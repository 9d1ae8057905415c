// The dock and link code of the closing steps with the real win32 backends
// under Wine: the HID transport, the dock controller client and writeKrEC
// against Wine's own HID devices and against the dock controller stand-in;
// the ZELACPI client and writeKrBIOS without and with the platform driver
// stand-in. Both stand-ins record what reached them, so these tests check the
// bytes on the wire, not only the results.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dock/dock_controller_client.h"
#include "dock/usb.h"
#include "dock/write_kr_bios.h"
#include "dock/write_kr_ec.h"
#include "dock/zelacpi_client.h"
#include "tests/wine/test_drivers.h"

namespace {

namespace drivers = winetest::drivers;
namespace dock_ec = result::dock_ec;
namespace dock_link = result::dock_link;
using winetest::bytes;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::vector<uint8_t> text(const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); }

std::vector<uint8_t> fill(size_t count) { return std::vector<uint8_t>(count, 0xFF); }

// A report as the device sees it: the frame, then 0xFF to `length`.
std::vector<uint8_t> report(const std::vector<uint8_t>& frame, size_t length = 300) {
  std::vector<uint8_t> out = frame;
  out.resize(length, 0xFF);
  return out;
}

const std::vector<uint8_t> kGreetingFrame = concat({{0x5E}, text("DockCfg-Unlock"), {0x00}});

std::vector<uint8_t> le32(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> out;
  for (uint32_t v : values)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string hex(const std::vector<uint8_t>& data) {
  std::string out;
  char two[4];
  for (uint8_t b : data) {
    std::snprintf(two, sizeof two, "%02X ", b);
    out += two;
  }
  return out;
}

// ------------------------------------------------ no dock, no platform driver

TEST(DockWithoutDrivers, TheTransportSeesOnlyWinesDevicesAndTheClientGivesUpInBoundedTime) {
  winetest::requireNoDock();
  if (HasFatalFailure()) return;
  std::vector<std::string> list = {"kept"};
  ASSERT_TRUE(USB::FindUSBDeviceList(list));
  ASSERT_GE(list.size(), 2u) << "Wine's virtual mouse and keyboard";
  EXPECT_EQ(list.front(), "kept") << "paths already in the list stay";
  for (size_t i = 1; i < list.size(); ++i) {
    SCOPED_TRACE(list[i]);
    EXPECT_EQ(list[i].rfind("\\\\?\\hid#", 0), 0u);
    USB usb;
    ASSERT_TRUE(usb.OpenDevice(list[i], nullptr));
    EXPECT_NE(usb.deviceAttributes.vendorId, 0);
    EXPECT_GT(usb.capabilities.inputReportByteLength, 0);
    // Wine's devices have no feature report: refused, not a crash or hang.
    uint8_t response[300] = {};
    EXPECT_FALSE(usb.SendUSBReport(kGreetingFrame.data(), 16, response, 300));
    EXPECT_EQ(std::string(usb.lastLogMessage).rfind("Feature report length 0 unusable", 0), 0u)
        << usb.lastLogMessage;
  }

  // No controller: the constructor finds none, the GEN write reads five
  // times with a second's pause after each and gives up without writing.
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(writeKrEC(), dock_ec::kGenFailed);
  const double seconds = secondsSince(start);
  EXPECT_GE(seconds, 4.9);
  EXPECT_LT(seconds, 8.0) << "five 1 s pauses and nothing longer";
}

TEST(DockWithoutDrivers, AMissingPlatformDeviceGives10WithoutAControlCall) {
  winetest::requireNoAcpi();
  if (HasFatalFailure()) return;
  const size_t before = winetest::acpiCalls().size();
  EXPECT_EQ(writeKrBIOS(), dock_link::kNoDevice);
  EXPECT_FALSE(InitializeZELACPIDevice());
  EXPECT_FALSE(UninitializeZELACPIDevice());
  uint32_t value = 7;
  EXPECT_EQ(One_Method_INT(methodName("DSTS"), 0x0006005B, &value), 0);
  EXPECT_EQ(winetest::acpiCalls().size(), before);
}

// ------------------------------------------------ the dock controller stand-in

std::vector<uint8_t> storedBlock() {
  // 4PARTID 0123456789ABCDEF, GEN "7", VBIOS "86.04.0F.00.01".
  return concat({bytes({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x00}),
                 fill(7),
                 text("GEN"),
                 {1},
                 text("7"),
                 fill(11),
                 text("VER"),
                 {14},
                 text("86.04.0F.00.01"),
                 fill(14)});
}

class DockController : public ::testing::Test {
 protected:
  void SetUp() override { setUpDock(300); }
  void setUpDock(uint32_t featureLength) {
    winetest::requireDock(featureLength);
    if (HasFatalFailure()) return;
    state_.setBinary(OVVB_DOCK_BLOCK, storedBlock());
    state_.setBinary(OVVB_DOCK_TEXT, text("MB:A1;SN:B2;PRO:P9;PNUM:N5;"));
  }
  drivers::State state_{OVVB_DOCK_SERVICE};
};

TEST_F(DockController, GreetsReadsAndWritesBothGroupsWithTheExactBytes) {
  COrvoDIvivazuv client;
  std::vector<drivers::WireRecord> wire = winetest::dockWire();
  ASSERT_EQ(wire.size(), 1u) << "one greeting, accepted at once";
  EXPECT_EQ(wire[0].kind, 'S');
  EXPECT_EQ(wire[0].bytes, report(kGreetingFrame));

  ASSERT_EQ(client.ReadGcConfigs("GEN"), COrvoDIvivazuv::kReadOk);
  EXPECT_EQ(client.config.item[kSlot4PARTID], "0123456789ABCDEF");
  EXPECT_EQ(client.config.item[kSlotGEN], "7");
  EXPECT_EQ(client.config.item[kSlotVBIOS], std::string("86.04.0F.00.01\xFF"));
  ASSERT_EQ(client.ReadGcConfigs("MBSN"), COrvoDIvivazuv::kReadOk);
  EXPECT_EQ(client.config.item[kSlotMBSN], "A1");
  EXPECT_EQ(client.config.item[kSlotSSN], "B2");
  EXPECT_EQ(client.config.item[kSlotPROJECT], "P9");
  EXPECT_EQ(client.config.item[kSlotPARTNUMBER], "N5");
  wire = winetest::dockWire();
  ASSERT_EQ(wire.size(), 5u);
  EXPECT_EQ(wire[1].bytes, report({0x5E, 0xCE, 0x03}));
  EXPECT_EQ(wire[2].kind, 'G');
  EXPECT_EQ(wire[2].bytes, report(concat({{0x5E, 0xCE, 0x03}, storedBlock()})));
  EXPECT_EQ(wire[3].bytes, report({0x5E, 0xCE, 0x01}));
  EXPECT_EQ(wire[4].bytes, report(concat({{0x5E, 0xCE, 0x01}, text("MB:A1;SN:B2;PRO:P9;PNUM:N5;"), {0x00}})));

  ASSERT_EQ(client.WriteGcConfig("SSN", "XY"), COrvoDIvivazuv::kWriteOk);
  EXPECT_EQ(state_.binary(OVVB_DOCK_TEXT), text("MB:A1;SN:XY;PRO:P9;PNUM:N5;"));
  ASSERT_EQ(client.WriteGcConfig("PROJECT", std::string(300, 'p')), COrvoDIvivazuv::kWriteOk);
  EXPECT_EQ(state_.binary(OVVB_DOCK_TEXT).size(), 251u) << "a long text group is cut to 251 bytes";

  ASSERT_EQ(client.WriteGcConfig("4PARTID", "A1B2"), COrvoDIvivazuv::kWriteOk);
  wire = winetest::dockWire();
  const std::vector<uint8_t> block = concat({bytes({0xA1, 0xB2, 0x00}),
                                             fill(13),
                                             text("GEN"),
                                             {1},
                                             text("7"),
                                             fill(11),
                                             text("VER"),
                                             {15},
                                             text("86.04.0F.00.01"),
                                             fill(14)});
  EXPECT_EQ(wire.back().bytes, report(concat({{0x5E, 0xCF, 0x03}, block})));
  EXPECT_EQ(state_.binary(OVVB_DOCK_BLOCK), block);

  const size_t written = wire.size();
  EXPECT_EQ(client.WriteGcConfig("INDEX3", "x"), COrvoDIvivazuv::kNotWritten);
  EXPECT_EQ(winetest::dockWire().size(), written) << "INDEX3 is not written, nor read for a write";
}

TEST_F(DockController, WriteKrEcWritesGenAndTheNvapiVersionText) {
  EXPECT_EQ(writeKrEC(), dock_ec::kWritten);
  const std::vector<uint8_t> block = state_.binary(OVVB_DOCK_BLOCK);
  ASSERT_EQ(block.size(), 64u);
  EXPECT_EQ(std::vector<uint8_t>(block.begin() + 16, block.begin() + 32),
            concat({text("GEN"), {1}, text("3"), fill(11)}));
  EXPECT_EQ(std::vector<uint8_t>(block.begin() + 32, block.end()),
            concat({text("VER"), {14}, text("86.04.0F.00.01"), fill(14)}))
      << "the test nvapi64.dll's version text";

  // Greeting; GEN: read, fetch, write; VBIOS: read, fetch, write.
  const std::vector<drivers::WireRecord> wire = winetest::dockWire();
  const char kinds[] = {'S', 'S', 'G', 'S', 'S', 'G', 'S'};
  ASSERT_EQ(wire.size(), std::size(kinds));
  for (size_t i = 0; i < wire.size(); ++i) {
    EXPECT_EQ(wire[i].kind, kinds[i]) << i;
    EXPECT_TRUE(wire[i].ok) << i;
    EXPECT_EQ(wire[i].bytes.size(), 300u) << i;
  }
  EXPECT_EQ(wire[3].bytes, report(concat({{0x5E, 0xCF, 0x03},
                                          bytes({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x00}),
                                          fill(7),
                                          text("GEN"),
                                          {1},
                                          text("3"),
                                          fill(11),
                                          text("VER"),
                                          {15},
                                          text("86.04.0F.00.01"),
                                          fill(14)})));
  if (std::getenv("OVVB_PRINT_WIRE")) {
    for (const drivers::WireRecord& record : wire)
      std::printf("%c %s\n", record.kind,
                  hex(std::vector<uint8_t>(record.bytes.begin(), record.bytes.begin() + 70)).c_str());
  }
}

TEST_F(DockController, InjectedFaultsCostRetriesAndNeverClearTheOtherItems) {
  // A refused greeting: five attempts, then every read is refused too.
  state_.setDword(OVVB_DOCK_ACCEPT_GREETING, 0);
  {
    COrvoDIvivazuv client;
    EXPECT_EQ(winetest::dockWire().size(), 5u);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(client.WriteGcConfig("GEN", "3"), COrvoDIvivazuv::kNotWritten);
    EXPECT_GE(secondsSince(start), 4.9);
  }
  EXPECT_EQ(state_.binary(OVVB_DOCK_BLOCK), storedBlock());

  // A failed send and a failed fetch are retried within the five attempts
  // of the read.
  state_.setDword(OVVB_DOCK_ACCEPT_GREETING, 1);
  COrvoDIvivazuv client;
  state_.setDword(OVVB_DOCK_FAIL_SETS, 1);
  state_.setDword(OVVB_DOCK_FAIL_GETS, 1);
  EXPECT_EQ(client.WriteGcConfig("SSN", "Z"), COrvoDIvivazuv::kReadOk);
  EXPECT_EQ(state_.binary(OVVB_DOCK_TEXT), text("MB:A1;SN:Z;PRO:P9;PNUM:N5;"));
  EXPECT_EQ(state_.dword(OVVB_DOCK_FAIL_SETS, 9), 0u);
  EXPECT_EQ(state_.dword(OVVB_DOCK_FAIL_GETS, 9), 0u);
}

TEST_F(DockController, ShortAndLongFeatureReportsAreBoundedAndCorrect) {
  // 64 bytes: the greeting and reads fit, the 67-byte block frame does not:
  // the controller refuses the cut frame and the block stays as it was.
  setUpDock(64);
  {
    COrvoDIvivazuv client;
    ASSERT_EQ(client.transport->capabilities.featureReportByteLength, 64);
    ASSERT_EQ(client.ReadGcConfigs("VBIOS"), COrvoDIvivazuv::kReadOk);
    EXPECT_EQ(client.config.item[kSlotVBIOS], std::string("86.04.0F.00.01\xFF"));
    EXPECT_EQ(client.WriteGcConfig("SSN", "S6"), COrvoDIvivazuv::kWriteOk);
    EXPECT_EQ(state_.binary(OVVB_DOCK_TEXT), text("MB:A1;SN:S6;PRO:P9;PNUM:N5;"));
    EXPECT_EQ(client.WriteGcConfig("GEN", "3"), COrvoDIvivazuv::kNotWritten);
    EXPECT_EQ(state_.binary(OVVB_DOCK_BLOCK), storedBlock());
    for (const drivers::WireRecord& record : winetest::dockWire()) EXPECT_EQ(record.bytes.size(), 64u);
  }
  // 1 byte, a report of its ID alone: nothing to carry a frame, so the
  // transport refuses it before touching a buffer.
  setUpDock(1);
  {
    COrvoDIvivazuv client;
    EXPECT_LE(client.transport->capabilities.featureReportByteLength, 1);
    EXPECT_TRUE(winetest::dockWire().empty());
  }
  // 512 bytes: reports go out whole; a fetch of 300 bytes is shorter than
  // the report, which the class driver refuses, so nothing is read or written.
  setUpDock(512);
  COrvoDIvivazuv client;
  ASSERT_EQ(client.transport->capabilities.featureReportByteLength, 512);
  const std::vector<drivers::WireRecord> wire = winetest::dockWire();
  ASSERT_EQ(wire.size(), 1u);
  EXPECT_EQ(wire[0].bytes, report(kGreetingFrame, 512));
  EXPECT_EQ(client.ReadGcConfigs("GEN"), COrvoDIvivazuv::kNoResponse);
  EXPECT_EQ(client.config.item[kSlotGEN], "");
  EXPECT_EQ(state_.binary(OVVB_DOCK_BLOCK), storedBlock());
  // The fixed-size exchanges work in 300-byte buffers: a longer report is
  // refused, not written past them.
  uint8_t send[300], recv[300];
  std::memcpy(send, report(kGreetingFrame).data(), 300);
  const size_t sent = winetest::dockWire().size();
  EXPECT_FALSE(client.transport->SendUSBReport(send, uint16_t{0x5E}, recv));
  EXPECT_FALSE(client.transport->SendUSBReport_light(send, recv));
  EXPECT_EQ(winetest::dockWire().size(), sent);
}

// ------------------------------------------------ the platform driver stand-in

class ZelAcpi : public ::testing::Test {
 protected:
  void SetUp() override {
    winetest::requireAcpi();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(InitializeZELACPIDevice());
  }
  void TearDown() override { UninitializeZELACPIDevice(); }
  drivers::State state_{OVVB_ACPI_SERVICE};
};

TEST_F(ZelAcpi, EveryCallShapeSendsItsLayoutAndDecodesTheReply) {
  const uint32_t dsts = methodName("DSTS"), devs = methodName("DEVS");
  uint32_t value = 0;
  EXPECT_NE(One_Method_INT(dsts, 0x0006005B, &value), 0);
  EXPECT_EQ(value, 0x00010003u);
  EXPECT_EQ(Two_WMIMethod_INT(devs, 0x0006005B, 4, &value), 1);
  EXPECT_EQ(value, 1u);

  // The other shapes, answered by whatever the firmware returns.
  state_.setBinary(OVVB_ACPI_ACPI_RAW,
                   concat({le32({OVVB_ACPI_OUTPUT_SIGNATURE, 20, 1}), {0, 0, 4, 0}, le32({42})}));
  state_.setBinary(OVVB_ACPI_WMI_RAW, le32({0x1234, 0x5678}));
  EXPECT_NE(None_Method(methodName("ABCD"), &value), 0);
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(One_WMIMethod_INT(methodName("WXYZ"), 9, &value), 1);
  EXPECT_EQ(value, 0x1234u);
  EXPECT_EQ(None_WMIMethod(methodName("WXYZ"), &value), 1);
  uint8_t out[3] = {};
  uint32_t outSize = sizeof out;
  const std::vector<uint8_t> general = le32({5, 6, 7});
  EXPECT_NE(General_WMIMethod_INT(methodName("GENR"), general.data(), 12, out, &outSize), 0);
  EXPECT_EQ(outSize, 3u) << "no more than the caller's buffer";
  EXPECT_EQ(out[0], 0x34);

  const std::vector<drivers::ControlRecord> calls = winetest::acpiCalls();
  const std::vector<std::pair<uint32_t, std::vector<uint8_t>>> expected = {
      {kIoctlAcpiEvaluate, concat({le32({2, dsts, 1, 8}), {0, 0, 4, 0}, le32({0x0006005B})})},
      {kIoctlWmiMethod, le32({devs, 8, 0x0006005B, 4})},
      {kIoctlAcpiEvaluate, le32({1, methodName("ABCD"), 0, 0, 0, 0})},
      {kIoctlWmiMethod, le32({methodName("WXYZ"), 4, 9})},
      {kIoctlWmiMethod, le32({methodName("WXYZ"), 4, 0})},
      {kIoctlWmiMethod, le32({methodName("GENR"), 12, 5, 6, 7})},
  };
  ASSERT_EQ(calls.size(), expected.size());
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(calls[i].code, expected[i].first);
    EXPECT_EQ(calls[i].input, expected[i].second);
    EXPECT_EQ(calls[i].outputSize, calls[i].code == kIoctlAcpiEvaluate ? 768u : 1024u);
    EXPECT_EQ(calls[i].status, 0u);
  }
}

TEST_F(ZelAcpi, RepliesThatAreEmptyShortOrLyingReadAsZero) {
  const uint32_t dsts = methodName("DSTS"), devs = methodName("DEVS");
  struct Case {
    const char* what;
    std::vector<uint8_t> reply;
  };
  std::vector<uint8_t> full768 = concat({le32({OVVB_ACPI_OUTPUT_SIGNATURE, 768, 1}), {0, 0, 0xFF, 0xFF}});
  full768.resize(768, 0x11);
  std::vector<uint8_t> manyArguments =
      concat({le32({OVVB_ACPI_OUTPUT_SIGNATURE, 768, 0xFFFFFFFF}), {0, 0, 250, 2}});
  manyArguments.resize(768, 0x22);
  const Case cases[] = {
      {"no arguments", le32({OVVB_ACPI_OUTPUT_SIGNATURE, 12, 0})},
      {"fewer bytes than the header", bytes({0x41, 0x65})},
      {"nothing at all", {}},
      {"an argument longer than the 768 bytes", full768},
      {"a count and a length that lie", manyArguments},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    state_.setBinary(OVVB_ACPI_ACPI_RAW, c.reply);
    uint32_t value = 99;
    One_Method_INT(dsts, 0x0006005B, &value);
    EXPECT_EQ(value, 0u);
  }
  state_.remove(OVVB_ACPI_ACPI_RAW);

  for (uint32_t replyBytes : {0u, 3u}) {
    state_.setDword(OVVB_ACPI_DEVS_REPLY_BYTES, replyBytes);
    uint32_t value = 99;
    EXPECT_EQ(Two_WMIMethod_INT(devs, 0x0006005B, 4, &value), 1);
    EXPECT_EQ(value, 0u) << replyBytes << " bytes";
  }
}

TEST_F(ZelAcpi, WriteKrBiosReadsTheLinkAndSwitchesItBackOnlyWhenNeeded) {
  UninitializeZELACPIDevice();  // writeKrBIOS opens and closes the device itself
  struct Case {
    const char* what;
    uint32_t dsts, dstsArgs, devsReply, devsBytes;
    int32_t result;
    size_t calls;
    uint32_t dstsAfter;
  };
  const Case cases[] = {
      {"already Gen4", 0x00010004, 1, 1, 4, dock_link::kDone, 1, 0x00010004},
      {"switched back", 0x00010003, 1, 1, 4, dock_link::kDone, 2, 0x00010004},
      {"DEVS replying 0", 0x00010003, 1, 0, 4, dock_link::kSwitchFailed, 2, 0x00010003},
      {"an empty DSTS reply", 0x00010004, 0, 0, 4, dock_link::kSwitchFailed, 2, 0x00010004},
      {"a DEVS reply of 2 bytes", 0x00010003, 1, 1, 2, dock_link::kSwitchFailed, 2, 0x00010004},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    state_.clear();
    state_.setDword(OVVB_ACPI_DSTS, c.dsts);
    state_.setDword(OVVB_ACPI_DSTS_ARGS, c.dstsArgs);
    state_.setDword(OVVB_ACPI_DEVS_REPLY, c.devsReply);
    state_.setDword(OVVB_ACPI_DEVS_REPLY_BYTES, c.devsBytes);
    EXPECT_EQ(writeKrBIOS(), c.result);
    EXPECT_EQ(winetest::acpiCalls().size(), c.calls);
    EXPECT_EQ(state_.dword(OVVB_ACPI_DSTS, 0), c.dstsAfter);
  }
}

}  // namespace
