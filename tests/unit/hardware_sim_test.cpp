// The simulated hardware read from machine.ini: AC power, the WMI device
// list and NVAPI, and what each leaves in the trace.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hardware/nvapi.h"
#include "hardware/pnp_devices.h"
#include "hardware/power.h"
#include "tests/unit/test_machine.h"

namespace {

using testing_machine::TestMachine;

constexpr const char* kQueryWithVersion =
    "Select * from Win32_PnPSignedDriver Where HardWareID != NULL And DriverVersion != NULL";
constexpr const char* kQueryAnyVersion = "Select * from Win32_PnPSignedDriver Where HardWareID != NULL";

std::vector<std::string> eventsOf(const TestMachine& machine, const std::string& event) {
  std::vector<std::string> found;
  for (const std::string& line : machine.traceLines()) {
    if (line.find("\"event\":\"" + event + "\"") != std::string::npos) found.push_back(line);
  }
  return found;
}

// ---------------------------------------------------------------- power

TEST(SimPower, ReadingsAndUnknownValues) {
  struct Case {
    const char* ini;
    std::vector<int> readings;
  };
  const Case cases[] = {
      {"", {hardware::kAcOnline, hardware::kAcOnline}},  // no [power] section: a plugged-in notebook
      {"[power]\n", {hardware::kAcOnline}},
      {"[power]\nac_line = 0\n", {hardware::kAcOffline, hardware::kAcOffline}},
      {"[power]\nac_line = 1\n", {hardware::kAcOnline}},
      {"[power]\nac_line = 255\n", {hardware::kAcUnknown}},
      {"[power]\nac_line = 7\n", {hardware::kAcUnknown}},
      {"[power]\nac_line = offline\n", {hardware::kAcUnknown}},
      // A comma list gives successive readings, and the last repeats.
      {"[power]\nac_line = 0, 255,1\n", {0, 255, 1, 1}},
  };
  for (const Case& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(c.ini);
    std::vector<int> readings;
    for (size_t i = 0; i < c.readings.size(); ++i) readings.push_back(hardware::acLineStatus());
    EXPECT_EQ(readings, c.readings) << c.ini;
  }
}

// ---------------------------------------------------------------- pnp

struct Listed {
  std::string hardwareId;
  bool hasDriverVersion;
  std::string driverVersion;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& d) {
  return out << d.hardwareId << " | " << (d.hasDriverVersion ? d.driverVersion : "(none)");
}

std::vector<Listed> listDevices(std::string_view query) {
  hardware::PnpDeviceQuery devices;
  std::vector<Listed> listed;
  const platform::Error run = devices.run(query);
  EXPECT_FALSE(run.failed()) << run.operation;
  hardware::PnpDevice device;
  platform::Error error;
  hardware::NextDevice next;
  while ((next = devices.next(device, error)) == hardware::NextDevice::Device) {
    EXPECT_FALSE(devices.readDriverVersion(device).failed());
    listed.push_back({device.hardwareId, device.hasDriverVersion, device.driverVersion});
  }
  EXPECT_EQ(next, hardware::NextDevice::End);
  EXPECT_FALSE(devices.close().failed());
  return listed;
}

TEST(SimPnp, QueriesSeeTheDevicesTheirConditionsAdmit) {
  const std::string twoGpusAndAChipset =
      "[pnp]\n"
      "device = PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1 | 31.0.21001.45002\n"
      "device = PCI\\VEN_8086&DEV_A0EF | \n"
      "device = PCI\\VEN_10DE&DEV_2560&SUBSYS_3A2F6A3D ; no version at all\n"
      "device = PCI\\VEN_10DE&DEV_24DD|27.21.14.5671\n";
  struct Case {
    const char* name;
    std::string ini;
    std::string query;
    std::vector<Listed> expected;
  };
  const Case cases[] = {
      {"driver version required: devices without one are left out, order kept",
       twoGpusAndAChipset,
       kQueryWithVersion,
       {{"PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1", true, "31.0.21001.45002"},
        {"PCI\\VEN_10DE&DEV_24DD", true, "27.21.14.5671"}}},
      {"no driver version required: every device, some without one",
       twoGpusAndAChipset,
       kQueryAnyVersion,
       {{"PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1", true, "31.0.21001.45002"},
        {"PCI\\VEN_8086&DEV_A0EF", false, ""},
        {"PCI\\VEN_10DE&DEV_2560&SUBSYS_3A2F6A3D", false, ""},
        {"PCI\\VEN_10DE&DEV_24DD", true, "27.21.14.5671"}}},
      {"WQL is case- and blank-insensitive",
       twoGpusAndAChipset,
       "SELECT * FROM win32_pnpsigneddriver WHERE hardwareid!=null AND driverversion  !=  null",
       {{"PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1", true, "31.0.21001.45002"},
        {"PCI\\VEN_10DE&DEV_24DD", true, "27.21.14.5671"}}},
      {"a device without a hardware ID is not reported", "[pnp]\ndevice = | 1.2.3.4\n", kQueryAnyVersion, {}},
      {"an unknown class has no rows", twoGpusAndAChipset, "Select * from Win32_Processor", {}},
      {"no [pnp] section: no devices", "[power]\nac_line = 1\n", kQueryAnyVersion, {}},
      {"present = no: no devices",
       "[pnp]\npresent = no\ndevice = PCI\\VEN_1002 | 1.0\n",
       kQueryAnyVersion,
       {}},
  };
  for (const Case& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(c.ini);
    EXPECT_EQ(listDevices(c.query), c.expected) << c.name;
  }
}

TEST(SimPnp, FailuresBeforeAndAfterTheMatch) {
  TestMachine machine;
  machine.writeMachineIni("[pnp]\ndevice = PCI\\VEN_1002&DEV_73DF | 1.0\nfail = before_match\n");
  hardware::PnpDevice device;
  platform::Error error;
  {
    // Before the match the query itself fails, is traced, walks nothing and closes harmlessly.
    hardware::PnpDeviceQuery failed;
    const platform::Error run = failed.run(kQueryWithVersion);
    EXPECT_TRUE(run.failed());
    EXPECT_FALSE(run.operation.empty());
    EXPECT_EQ(failed.next(device, error), hardware::NextDevice::Failed);
    EXPECT_TRUE(error.failed());
    EXPECT_FALSE(failed.close().failed());
    const std::vector<std::string> queries = eventsOf(machine, "wmi.query");
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_NE(queries[0].find(std::string("\"query\":\"") + kQueryWithVersion + "\""), std::string::npos);
  }
  // After the match only the close fails, and only once a device was handed out.
  machine.writeMachineIni(
      "[pnp]\ndevice = PCI\\VEN_1002&DEV_73DF | 1.0\ndevice = PCI\\VEN_10DE | \nfail = after_match\n");
  hardware::PnpDeviceQuery walked, untouched, empty;
  ASSERT_FALSE(walked.run(kQueryAnyVersion).failed());
  ASSERT_EQ(walked.next(device, error), hardware::NextDevice::Device);
  EXPECT_TRUE(walked.close().failed());
  EXPECT_FALSE(walked.close().failed()) << "a second close has nothing left to fail";
  ASSERT_FALSE(untouched.run(kQueryAnyVersion).failed());
  EXPECT_FALSE(untouched.close().failed());
  machine.writeMachineIni("[pnp]\ndevice = PCI\\VEN_10DE | \nfail = after_match\n");
  ASSERT_FALSE(empty.run(kQueryWithVersion).failed());  // the only device has no version
  EXPECT_EQ(empty.next(device, error), hardware::NextDevice::End);
  EXPECT_FALSE(empty.close().failed());
}

// ---------------------------------------------------------------- nvapi

TEST(SimNvapi, NoDriverMeansTheLibraryIsNotFound) {
  for (const char* ini : {"", "[nvapi]\npresent = no\n"}) {
    TestMachine machine;
    machine.writeMachineIni(ini);
    hardware::NvApi nvapi;
    EXPECT_EQ(nvapi.Initialize(), hardware::kNvapiLibraryNotFound) << ini;
    const std::vector<std::string> calls = eventsOf(machine, "nvapi");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(calls[0].find("\"call\":\"NvAPI_Initialize\",\"status\":-2"), std::string::npos) << calls[0];
  }
}

TEST(SimNvapi, ReadsTheConfiguredGpu) {
  TestMachine machine;
  machine.writeMachineIni(
      "[nvapi]\nrevision = 0x86040F00\noem_revision = 7\nversion_string = 86.04.0F.00.01" +
      std::string(100, '9') + "\n");
  hardware::NvApi nvapi;
  ASSERT_EQ(nvapi.Initialize(), hardware::kNvapiOk);

  hardware::NvPhysicalGpuHandle gpus[hardware::kNvapiMaxPhysicalGpus] = {};
  uint32_t count = 0;
  ASSERT_EQ(nvapi.EnumPhysicalGPUs(gpus, &count), hardware::kNvapiOk);
  EXPECT_EQ(count, 1u);
  ASSERT_NE(gpus[0], nullptr);
  EXPECT_EQ(gpus[1], nullptr);

  uint32_t revision = 0, oem = 0;
  EXPECT_EQ(nvapi.GPU_GetVbiosRevision(gpus[0], &revision), hardware::kNvapiOk);
  EXPECT_EQ(revision, 0x86040F00u);
  EXPECT_EQ(nvapi.GPU_GetVbiosOEMRevision(gpus[0], &oem), hardware::kNvapiOk);
  EXPECT_EQ(oem, 7u);  // decimal as well as hex
  char text[hardware::kNvapiShortStringMax];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(nvapi.GPU_GetVbiosVersionString(gpus[0], text), hardware::kNvapiOk);
  EXPECT_EQ(std::string(text), "86.04.0F.00.01" + std::string(49, '9'))
      << "cut to the short string, terminated";
  EXPECT_EQ(nvapi.Unload(), hardware::kNvapiOk);

  const char* const expected[] = {"NvAPI_Initialize",
                                  "NvAPI_EnumPhysicalGPUs",
                                  "NvAPI_GPU_GetVbiosRevision",
                                  "NvAPI_GPU_GetVbiosOEMRevision",
                                  "NvAPI_GPU_GetVbiosVersionString",
                                  "NvAPI_Unload"};
  const std::vector<std::string> calls = eventsOf(machine, "nvapi");
  ASSERT_EQ(calls.size(), std::size(expected));
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_NE(calls[i].find(std::string("\"call\":\"") + expected[i] + "\",\"status\":0"), std::string::npos)
        << calls[i];
  }
}

TEST(SimNvapi, DestructionUnloadsOnlyWhatIsStillLoaded) {
  TestMachine machine;
  machine.writeMachineIni("[nvapi]\nrevision = 0x86040F00\n");
  {
    hardware::NvApi returnsEarly;
    ASSERT_EQ(returnsEarly.Initialize(), hardware::kNvapiOk);
  }
  std::vector<std::string> calls = eventsOf(machine, "nvapi");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_NE(calls[1].find("\"call\":\"NvAPI_Unload\",\"status\":0"), std::string::npos) << calls[1];

  {
    hardware::NvApi unloaded;
    ASSERT_EQ(unloaded.Initialize(), hardware::kNvapiOk);
    ASSERT_EQ(unloaded.Unload(), hardware::kNvapiOk);
  }
  { hardware::NvApi neverLoaded; }
  calls = eventsOf(machine, "nvapi");
  EXPECT_EQ(calls.size(), 4u) << "no second Unload, and none for an interface never loaded";
}

TEST(SimNvapi, EachCallReturnsItsConfiguredStatusAndLeavesItsResultAlone) {
  struct Case {
    const char* key;
    int call;  // 0 initialize, 1 enum, 2 revision, 3 oem, 4 version string
  };
  const Case cases[] = {{"initialize", 0},
                        {"enum", 1},
                        {"revision_status", 2},
                        {"oem_revision_status", 3},
                        {"version_string_status", 4}};
  for (const Case& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(std::string("[nvapi]\n") + c.key + " = -9\n");
    hardware::NvApi nvapi;
    const hardware::NvStatus init = nvapi.Initialize();
    if (c.call == 0) {
      EXPECT_EQ(init, -9);
      EXPECT_NE(nvapi.Unload(), hardware::kNvapiOk) << "nothing to unload after a failed Initialize";
      continue;
    }
    ASSERT_EQ(init, hardware::kNvapiOk) << c.key;
    hardware::NvPhysicalGpuHandle gpus[hardware::kNvapiMaxPhysicalGpus] = {};
    uint32_t count = 77;
    const hardware::NvStatus enumStatus = nvapi.EnumPhysicalGPUs(gpus, &count);
    if (c.call == 1) {
      EXPECT_EQ(enumStatus, -9);
      EXPECT_EQ(count, 77u);
      EXPECT_EQ(gpus[0], nullptr);
      continue;
    }
    uint32_t value = 12345;
    char text[hardware::kNvapiShortStringMax] = "untouched";
    hardware::NvStatus status = 0;
    if (c.call == 2) status = nvapi.GPU_GetVbiosRevision(gpus[0], &value);
    if (c.call == 3) status = nvapi.GPU_GetVbiosOEMRevision(gpus[0], &value);
    if (c.call == 4) status = nvapi.GPU_GetVbiosVersionString(gpus[0], text);
    EXPECT_EQ(status, -9) << c.key;
    EXPECT_EQ(value, 12345u) << c.key;
    EXPECT_STREQ(text, "untouched") << c.key;
    const std::vector<std::string> calls = eventsOf(machine, "nvapi");
    ASSERT_FALSE(calls.empty());
    EXPECT_NE(calls.back().find("\"status\":-9"), std::string::npos) << calls.back();
  }
}

}  // namespace
