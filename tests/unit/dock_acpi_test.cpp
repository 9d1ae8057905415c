// The \\.\ZELACPI client against the simulated platform driver: the bytes
// of each call shape, the bounded reading of replies, and the link restore.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dock/write_kr_bios.h"
#include "dock/zelacpi_client.h"
#include "simulated/machine.h"
#include "tests/unit/test_machine.h"

namespace {

using testing_machine::TestMachine;
namespace dock_link = result::dock_link;

constexpr uint32_t kDsts = 0x53545344;
constexpr uint32_t kDevs = 0x53564544;

std::vector<std::string> controls(const TestMachine& machine) {
  std::vector<std::string> found;
  for (const std::string& line : machine.traceLines()) {
    if (line.find("\"event\":\"acpi.control\"") != std::string::npos) found.push_back(line);
  }
  return found;
}

std::string field(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":\"";
  const size_t at = line.find(key);
  if (at == std::string::npos) return "";
  return line.substr(at + key.size(), line.find('"', at + key.size()) - at - key.size());
}

void putU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

TEST(ZelAcpi, LinkRestore) {
  struct Case {
    const char* name;
    std::string acpi;
    int32_t result;
    std::string printed;
    std::vector<std::string> codes;  // control codes issued, in order
    std::string dstsAfter;
  };
  const std::string evaluate = "0x00222404";
  const std::string wmi = "0x0022240C";
  const Case cases[] = {
      {"switched back",
       "[acpi]\n",
       dock_link::kDone,
       "WMI DSTS 0x0006005B: 65539 \nSwitch host PCIe back to Gen4\n",
       {evaluate, wmi},
       "0x00010004"},
      {"already Gen4",
       "[acpi]\ndsts = 0x00010004\n",
       dock_link::kDone,
       "WMI DSTS 0x0006005B: Gen4\n",
       {evaluate},
       "0x00010004"},
      {"DEVS replies 0",
       "[acpi]\ndevs_reply = 0\n",
       dock_link::kSwitchFailed,
       "WMI DSTS 0x0006005B: 65539 \nCannot switch host PCIe back to Gen4\n",
       {evaluate, wmi},
       "<absent>"},
      {"DEVS reply of 3 bytes counts as 0",
       "[acpi]\ndevs_reply_bytes = 3\n",
       dock_link::kSwitchFailed,
       "WMI DSTS 0x0006005B: 65539 \nCannot switch host PCIe back to Gen4\n",
       {evaluate, wmi},
       "0x00010004"},
      {"DSTS reply without arguments reads as 0",
       "[acpi]\ndsts_args = 0\n",
       dock_link::kDone,
       "WMI DSTS 0x0006005B: 0 \nSwitch host PCIe back to Gen4\n",
       {evaluate, wmi},
       "0x00010004"},
      {"status printed as a 32-bit long",
       "[acpi]\ndsts = 0xFFFFFFFF\n",
       dock_link::kDone,
       "WMI DSTS 0x0006005B: -1 \nSwitch host PCIe back to Gen4\n",
       {evaluate, wmi},
       "0x00010004"},
      {"no platform device", "", dock_link::kNoDevice, "InitializeZELACPIDevice() fail\n", {}, "<absent>"},
      {"platform device not present",
       "[acpi]\npresent = no\n",
       dock_link::kNoDevice,
       "InitializeZELACPIDevice() fail\n",
       {},
       "<absent>"},
  };
  for (const Case& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(c.acpi);
    testing::internal::CaptureStdout();
    EXPECT_EQ(writeKrBIOS(), c.result) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.name;
    std::vector<std::string> codes;
    for (const std::string& line : controls(machine)) codes.push_back(field(line, "code"));
    EXPECT_EQ(codes, c.codes) << c.name;
    EXPECT_EQ(simulated::MachineIni::load().get("acpi", "dsts", "<absent>"), c.dstsAfter) << c.name;
    EXPECT_FALSE(ZelAcpiDevice.device.valid()) << c.name;
  }
}

TEST(ZelAcpi, ExactInputLayouts) {
  TestMachine machine;
  machine.writeMachineIni("[acpi]\n");
  testing::internal::CaptureStdout();
  ASSERT_EQ(writeKrBIOS(), dock_link::kDone);
  testing::internal::GetCapturedStdout();
  const std::vector<std::string> lines = controls(machine);
  ASSERT_EQ(lines.size(), 2u);
  // Kind 2, DSTS, one argument in an 8-byte block: integer, length 4, 0x0006005B.
  EXPECT_EQ(field(lines[0], "input"),
            "02000000"
            "44535453"
            "01000000"
            "08000000"
            "0000"
            "0400"
            "5B000600");
  // DEVS, 8 argument bytes: 0x0006005B and 4.
  EXPECT_EQ(field(lines[1], "input"),
            "44455653"
            "08000000"
            "5B000600"
            "04000000");
}

TEST(ZelAcpi, CallShapesOnAnOpenDevice) {
  TestMachine machine;
  machine.writeMachineIni("[acpi]\ndsts = 0x00010003\n");
  uint32_t value = 77;
  // Closed device: no call at all, the value left alone.
  EXPECT_EQ(One_Method_INT(kDsts, 0x0006005B, &value), 0);
  EXPECT_EQ(Two_WMIMethod_INT(kDevs, 0x0006005B, 4, &value), 0);
  EXPECT_EQ(value, 77u);
  EXPECT_FALSE(UninitializeZELACPIDevice());
  EXPECT_TRUE(controls(machine).empty());

  ASSERT_TRUE(InitializeZELACPIDevice());
  EXPECT_EQ(One_Method_INT(kDsts, 0x0006005B, &value), 1);
  EXPECT_EQ(value, 0x00010003u);
  // The address layout reaches the driver as well.
  ZelAcpiDevice.inlineArguments = 0;
  value = 0;
  EXPECT_EQ(One_Method_INT(kDsts, 0x0006005B, &value), 1);
  EXPECT_EQ(value, 0x00010003u);
  ZelAcpiDevice.inlineArguments = 1;
  // Methods the driver does not know fail: the value reads 0, or stays.
  EXPECT_EQ(None_Method(kDsts, &value), 0);
  EXPECT_EQ(value, 0u);
  value = 5;
  EXPECT_EQ(None_WMIMethod(kDevs, &value), 0);
  EXPECT_EQ(One_WMIMethod_INT(kDevs, 0x0006005B, &value), 0);
  EXPECT_EQ(value, 5u);

  // The caller's output size bounds the copy and receives the count.
  const uint8_t arguments[8] = {0x5B, 0x00, 0x06, 0x00, 0x04, 0x00, 0x00, 0x00};
  uint8_t output[2] = {0xAA, 0xAA};
  uint32_t outputSize = 1;
  EXPECT_EQ(General_WMIMethod_INT(kDevs, arguments, sizeof arguments, output, &outputSize), 1);
  EXPECT_EQ(outputSize, 1u);
  EXPECT_EQ(output[0], 0x01);
  EXPECT_EQ(output[1], 0xAA);
  EXPECT_TRUE(UninitializeZELACPIDevice());

  const std::vector<std::string> lines = controls(machine);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(field(lines[1], "input").substr(0, 32),
            "02000000"
            "44535453"
            "01000000"
            "08000000");
  EXPECT_NE(field(lines[1], "input").substr(32), "000004005B000600");  // an address, not the argument
  EXPECT_EQ(field(lines[2], "input"),
            "01000000"
            "44535453" +
                std::string(32, '0'));
  EXPECT_EQ(field(lines[3], "input"),
            "44455653"
            "04000000"
            "00000000");
  EXPECT_EQ(field(lines[4], "input"),
            "44455653"
            "04000000"
            "5B000600");
}

TEST(ZelAcpi, GetAcpiArgumentStaysInsideTheOutput) {
  struct Argument {
    uint16_t type;
    uint16_t length;
  };
  struct Case {
    const char* name;
    uint32_t count;
    std::vector<Argument> arguments;  // laid out back to back from offset 12
    uint32_t index;
    uint32_t destinationSize;
    bool ok;
    uint32_t copied;
  };
  const Case cases[] = {
      {"integer", 1, {{0, 4}}, 0, 100, true, 8},
      {"short data still occupies 8", 1, {{0, 1}}, 0, 100, true, 8},
      {"second after a buffer of 20", 2, {{2, 20}, {0, 4}}, 1, 100, true, 8},
      {"index not below the count", 1, {{0, 4}}, 1, 100, false, 0},
      {"no arguments", 0, {}, 0, 100, false, 0},
      {"larger than the destination", 1, {{2, 97}}, 0, 100, false, 0},
      {"exactly the destination", 1, {{2, 96}}, 0, 100, true, 100},
      {"length past the output", 1, {{2, 65535}}, 0, 100000, false, 0},
      {"walk past the output", 0xFFFFFFFF, {{2, 700}, {2, 700}}, 5, 100, false, 0},
      {"last argument ends at 768", 1, {{2, 752}}, 0, 1000, true, 756},
      {"one byte too long", 1, {{2, 753}}, 0, 1000, false, 0},
  };
  for (const Case& c : cases) {
    uint8_t output[kAcpiOutputSize] = {};
    putU32(output + 8, c.count);
    uint32_t offset = 12;
    for (const Argument& a : c.arguments) {
      if (offset + 4 > sizeof output) break;
      output[offset] = static_cast<uint8_t>(a.type);
      output[offset + 2] = static_cast<uint8_t>(a.length);
      output[offset + 3] = static_cast<uint8_t>(a.length >> 8);
      offset += a.length > 4 ? 4u + a.length : 8u;
    }
    std::vector<uint8_t> destination(c.destinationSize + 16, 0xCC);
    EXPECT_EQ(GetAcpiArgument(output, destination.data(), c.index, c.destinationSize), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(destination[c.copied], 0xCC) << c.name;  // nothing beyond the argument
    }
  }
}

}  // namespace
