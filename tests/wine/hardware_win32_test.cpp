// The Win32 hardware backends for real, under Wine: the power status, WMI
// queries of the local CIMV2 namespace (answered by the test prefix's WMI
// emulator), and the NVAPI client against the stub nvapi64.dll that the
// test prefix carries in system32.
#include <gtest/gtest.h>
#include <windows.h>
// objbase.h after windows.h: the lean windows.h leaves COM out.
#include <objbase.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "hardware/nvapi.h"
#include "hardware/pnp_devices.h"
#include "hardware/power.h"
#include "platform/win32/wide_text.h"
#include "tests/wine/wine_test_support.h"

namespace {

// ---------------------------------------------------------------- power

TEST(Win32Power, WineReportsMainsPower) { EXPECT_EQ(hardware::acLineStatus(), hardware::kAcOnline); }

// ---------------------------------------------------------------- WMI
// The test prefix's WMI emulator (tests/wine/emulators) answers the device
// queries from the machine named by OVVB_MACHINE, through the same COM calls
// Windows' WMI takes; every other class is Wine's own.

constexpr const char* kWithDriverVersion =
    "Select * from Win32_PnPSignedDriver Where HardWareID != NULL And DriverVersion != NULL";
constexpr const char* kAnyDriver = "Select * from Win32_PnPSignedDriver Where HardWareID != NULL";
constexpr uint32_t kWbemFailed = 0x80041001u;

// A machine folder holding machine.ini, named by OVVB_MACHINE for the scope.
class Machine {
 public:
  explicit Machine(const std::string& ini) : variable_("OVVB_MACHINE", folder_.path()) {
    std::ofstream(std::filesystem::path(platform::win32::toWide(folder_.file("machine.ini"))),
                  std::ios::binary)
        << ini;
  }

 private:
  winetest::TemporaryFolder folder_;
  winetest::ScopedEnvironment variable_;
};

struct Walk {
  platform::Error run;
  std::vector<hardware::PnpDevice> devices;
  hardware::NextDevice last = hardware::NextDevice::Failed;
  platform::Error error;
};

Walk walk(const char* wql) {
  Walk result;
  hardware::PnpDeviceQuery query;
  result.run = query.run(wql);
  if (result.run.failed()) return result;
  hardware::PnpDevice device;
  while ((result.last = query.next(device, result.error)) == hardware::NextDevice::Device) {
    if (const platform::Error read = query.readDriverVersion(device); read.failed()) {
      result.error = read;
      result.last = hardware::NextDevice::Failed;
      break;
    }
    result.devices.push_back(device);
  }
  EXPECT_FALSE(query.close().failed());
  return result;
}

std::string listed(const Walk& walk) {
  std::string text;
  for (const hardware::PnpDevice& d : walk.devices)
    text += d.hardwareId + (d.hasDriverVersion ? "=" + d.driverVersion : "") + ";";
  return text;
}

TEST(Win32Pnp, ListsTheMachinesDevicesInOrderFilteredAsTheQueryAsks) {
  const Machine machine(
      "[pnp]\n"
      "device = PCI\\VEN_8086&DEV_9A49 | 31.0.101.3430\n"
      "device = PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1 |\n"
      "device = | 1.0\n"
      "device = PCI\\VEN_10DE&DEV_2520 | 31.0.15.3623 ; a comment\n");
  const std::pair<const char*, const char*> cases[] = {
      {kWithDriverVersion, "PCI\\VEN_8086&DEV_9A49=31.0.101.3430;PCI\\VEN_10DE&DEV_2520=31.0.15.3623;"},
      {kAnyDriver,
       "PCI\\VEN_8086&DEV_9A49=31.0.101.3430;PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1;"
       "PCI\\VEN_10DE&DEV_2520=31.0.15.3623;"},
      // No condition: the device WMI lists without a hardware ID too.
      {"select * from WIN32_PNPSIGNEDDRIVER",
       "PCI\\VEN_8086&DEV_9A49=31.0.101.3430;PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1;=1.0;"
       "PCI\\VEN_10DE&DEV_2520=31.0.15.3623;"}};
  for (const auto& [wql, expected] : cases) {
    SCOPED_TRACE(wql);
    const Walk result = walk(wql);
    ASSERT_FALSE(result.run.failed()) << result.run.operation << ": " << result.run.message;
    EXPECT_EQ(result.last, hardware::NextDevice::End) << result.error.operation;
    EXPECT_EQ(listed(result), expected);
  }
}

TEST(Win32Pnp, AMachineWithoutDevicesListsNone) {
  for (const char* ini : {"[pnp]\n", "[pnp]\npresent = no\ndevice = PCI\\VEN_1002 | 1.0\n", "[user]\n"}) {
    SCOPED_TRACE(ini);
    const Machine machine(ini);
    const Walk result = walk(kWithDriverVersion);
    ASSERT_FALSE(result.run.failed()) << result.run.operation << ": " << result.run.message;
    EXPECT_EQ(result.last, hardware::NextDevice::End);
    EXPECT_TRUE(result.devices.empty()) << listed(result);
  }
}

TEST(Win32Pnp, TheMachinesFailPointsAndQueriesWmiRefuses) {
  const std::string devices = "device = PCI\\VEN_1002&DEV_73DF | 31.0.21001.45002\n";
  {
    const Machine machine("[pnp]\nfail = before_match\n" + devices);
    const Walk result = walk(kWithDriverVersion);
    EXPECT_EQ(result.run.code, kWbemFailed) << result.run.operation;
  }
  {
    // The driver version is what a search reads once the hardware ID matched.
    const Machine machine("[pnp]\nfail = after_match\n" + devices);
    const Walk result = walk(kAnyDriver);
    ASSERT_FALSE(result.run.failed()) << result.run.operation;
    EXPECT_EQ(result.last, hardware::NextDevice::Failed);
    EXPECT_EQ(result.error.code, kWbemFailed);
    EXPECT_NE(result.error.operation.find("DriverVersion"), std::string::npos) << result.error.operation;
  }
  const Machine machine("[pnp]\n" + devices);
  for (const char* wql : {"Select * from Win32_PnPSignedDriver Where DeviceName = 'x'",
                          "Select HardWareID from Win32_PnPSignedDriver"}) {
    const Walk result = walk(wql);
    EXPECT_EQ(result.run.code, 0x80041017u) << wql << ": " << result.run.operation;  // WBEM_E_INVALID_QUERY
  }
}

TEST(Win32Pnp, HostileRowsAreBounded) {
  {
    // A hardware ID longer than any Windows makes is never copied, and no
    // package names it: passed over, the search goes on to the next device.
    // A driver version that long is the matched device's: refused.
    const Machine machine("[pnp]\ndevice = PCI\\VEN_1002&DEV_73DF" + std::string(64 * 1024, 'A') +
                          " | 1.0\ndevice = PCI\\VEN_10DE&DEV_2520 | " + std::string(64 * 1024, '1') + "\n");
    const Walk result = walk(kWithDriverVersion);
    EXPECT_EQ(result.last, hardware::NextDevice::Failed);
    EXPECT_NE(result.error.operation.find("DriverVersion: value too long"), std::string::npos)
        << result.error.operation;
    EXPECT_TRUE(result.devices.empty());
  }
  std::string many = "[pnp]\n";
  for (int i = 0; i < 10000; ++i)
    many += "device = PCI\\VEN_8086&DEV_" + std::to_string(i) + " | 1.0." + std::to_string(i) + "\n";
  const Machine machine(many);
  const Walk result = walk(kWithDriverVersion);
  EXPECT_EQ(result.last, hardware::NextDevice::End);
  ASSERT_EQ(result.devices.size(), 10000u);
  EXPECT_EQ(result.devices.back().driverVersion, "1.0.9999");
}

TEST(Win32Pnp, RowsWithoutTheDeviceProperties) {
  // Win32_OperatingSystem is Wine's: it has a row but no HardWareID, and
  // the walk must stop with WMI's "not found" instead of inventing a device.
  const Walk result = walk("Select * from Win32_OperatingSystem");
  ASSERT_FALSE(result.run.failed()) << result.run.operation << ": " << result.run.message;
  EXPECT_EQ(result.last, hardware::NextDevice::Failed);
  EXPECT_EQ(result.error.code, 0x80041002u) << result.error.operation << ": " << result.error.message;
  EXPECT_NE(result.error.operation.find("HardWareID"), std::string::npos) << result.error.operation;
}

TEST(Win32Pnp, QueriesCanBeRepeatedAndAbandoned) {
  // Apartment and COM objects are released on each path; a leak or a
  // double CoUninitialize would show as a failure or crash in later runs.
  const Machine machine("[pnp]\ndevice = PCI\\VEN_1002&DEV_73DF | 31.0.21001.45002\n");
  for (int i = 0; i < 3; ++i) {
    hardware::PnpDeviceQuery abandoned;  // destroyed without close()
    ASSERT_FALSE(abandoned.run(kAnyDriver).failed());
  }
  hardware::PnpDeviceQuery reused;
  ASSERT_FALSE(reused.run(kWithDriverVersion).failed());
  ASSERT_FALSE(reused.run(kAnyDriver).failed());
  hardware::PnpDevice device;
  platform::Error error;
  EXPECT_EQ(reused.next(device, error), hardware::NextDevice::Device);
  EXPECT_EQ(reused.next(device, error), hardware::NextDevice::End);
  EXPECT_FALSE(reused.close().failed());
  EXPECT_EQ(reused.next(device, error), hardware::NextDevice::Failed) << "closed: nothing to walk";
}

TEST(Win32Pnp, WorksFromASingleThreadedApartment) {
  // The dialogs' thread may already be an STA; the query must not fail with
  // RPC_E_CHANGED_MODE there, nor undo an apartment that is not its own.
  const Machine machine("[pnp]\ndevice = PCI\\VEN_1002&DEV_73DF | 31.0.21001.45002\n");
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  {
    const Walk result = walk(kAnyDriver);
    EXPECT_FALSE(result.run.failed()) << result.run.operation << ": " << result.run.message;
    EXPECT_EQ(result.last, hardware::NextDevice::End);
    EXPECT_EQ(result.devices.size(), 1u);
  }
  // Still an STA of ours: a second STA initialisation is only counted.
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
  CoUninitialize();
  CoUninitialize();
}

// ---------------------------------------------------------------- NVAPI

class Win32Nvapi : public ::testing::Test {
 protected:
  static constexpr const char* kSwitches[] = {"OVVB_NVAPI_STUB_FAIL", "OVVB_NVAPI_STUB_MISSING",
                                              "OVVB_NVAPI_STUB_LONG_STRING"};
  static constexpr const char* kCalls[] = {"Initialize",          "Unload",
                                           "EnumPhysicalGPUs",    "GetVbiosRevision",
                                           "GetVbiosOEMRevision", "GetVbiosVersionString"};

  void SetUp() override {
    reset();
    const HMODULE stub = LoadLibraryExW(L"nvapi64.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    ASSERT_NE(stub, nullptr) << "the test prefix needs the stub nvapi64.dll in system32 "
                                "(scripts/wine-prefix.sh <prefix> <windows bin folder>)";
    const bool isStub = GetProcAddress(stub, "ovvbNvapiStub") != nullptr;
    FreeLibrary(stub);
    ASSERT_TRUE(isStub) << "system32\\nvapi64.dll is not the test stub";
    ASSERT_FALSE(loaded());
  }
  void TearDown() override { reset(); }

  static void reset() {
    for (const char* name : kSwitches) SetEnvironmentVariableA(name, nullptr);
    for (const char* call : kCalls)
      SetEnvironmentVariableA((std::string("OVVB_NVAPI_STUB_CALLS_") + call).c_str(), nullptr);
  }

  // How often the stub saw a call during this test.
  static int calls(const char* name) {
    char buffer[32];
    const DWORD length = GetEnvironmentVariableA((std::string("OVVB_NVAPI_STUB_CALLS_") + name).c_str(),
                                                 buffer, sizeof buffer);
    return length == 0 || length >= sizeof buffer ? 0 : std::atoi(buffer);
  }

  static bool loaded() { return GetModuleHandleW(L"nvapi64.dll") != nullptr; }
};

TEST_F(Win32Nvapi, ReadsTheVbiosThroughTheDriverLibrary) {
  hardware::NvApi nvapi;
  ASSERT_EQ(nvapi.Initialize(), hardware::kNvapiOk);
  hardware::NvPhysicalGpuHandle gpus[hardware::kNvapiMaxPhysicalGpus] = {};
  uint32_t count = 0, revision = 0, oem = 0;
  ASSERT_EQ(nvapi.EnumPhysicalGPUs(gpus, &count), hardware::kNvapiOk);
  EXPECT_EQ(count, 1u);
  ASSERT_NE(gpus[0], nullptr);
  EXPECT_EQ(nvapi.GPU_GetVbiosRevision(gpus[0], &revision), hardware::kNvapiOk);
  EXPECT_EQ(revision, 0x86040F00u);
  EXPECT_EQ(nvapi.GPU_GetVbiosOEMRevision(gpus[0], &oem), hardware::kNvapiOk);
  EXPECT_EQ(oem, 1u);
  char text[hardware::kNvapiShortStringMax];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(nvapi.GPU_GetVbiosVersionString(gpus[0], text), hardware::kNvapiOk);
  EXPECT_STREQ(text, "86.04.0F.00.01");
  EXPECT_TRUE(loaded());

  EXPECT_EQ(nvapi.Unload(), hardware::kNvapiOk);
  EXPECT_EQ(calls("Unload"), 1);
  EXPECT_FALSE(loaded()) << "Unload frees the library";
}

TEST_F(Win32Nvapi, TheMachinesGpuAndStatusesOrNoDriver) {
  {
    const Machine machine(
        "[nvapi]\nrevision = 0x86040F00\noem_revision = 0x02\nversion_string = 94.06.2F.00.AB\n"
        "revision_status = 0\noem_revision_status = -3\n");
    hardware::NvApi nvapi;
    ASSERT_EQ(nvapi.Initialize(), hardware::kNvapiOk);
    hardware::NvPhysicalGpuHandle gpus[hardware::kNvapiMaxPhysicalGpus] = {};
    uint32_t count = 0, revision = 0, oem = 0;
    ASSERT_EQ(nvapi.EnumPhysicalGPUs(gpus, &count), hardware::kNvapiOk);
    EXPECT_EQ(nvapi.GPU_GetVbiosRevision(gpus[0], &revision), hardware::kNvapiOk);
    EXPECT_EQ(revision, 0x86040F00u);
    EXPECT_EQ(nvapi.GPU_GetVbiosOEMRevision(gpus[0], &oem), -3);
    char text[hardware::kNvapiShortStringMax];
    EXPECT_EQ(nvapi.GPU_GetVbiosVersionString(gpus[0], text), hardware::kNvapiOk);
    EXPECT_STREQ(text, "94.06.2F.00.AB");
  }
  // A notebook without the NVIDIA driver.
  const Machine machine("[pnp]\n");
  hardware::NvApi nvapi;
  EXPECT_EQ(nvapi.Initialize(), hardware::kNvapiLibraryNotFound);
  EXPECT_FALSE(loaded());
}

TEST_F(Win32Nvapi, FailingCallsReportTheDriversStatus) {
  SetEnvironmentVariableA("OVVB_NVAPI_STUB_FAIL", "GetVbiosRevision,GetVbiosVersionString");
  hardware::NvApi nvapi;
  ASSERT_EQ(nvapi.Initialize(), hardware::kNvapiOk);
  hardware::NvPhysicalGpuHandle gpus[hardware::kNvapiMaxPhysicalGpus] = {};
  uint32_t count = 0, revision = 0;
  ASSERT_EQ(nvapi.EnumPhysicalGPUs(gpus, &count), hardware::kNvapiOk);
  EXPECT_EQ(nvapi.GPU_GetVbiosRevision(gpus[0], &revision), hardware::kNvapiError);
  EXPECT_EQ(revision, 0u);
  char text[hardware::kNvapiShortStringMax] = "stale text from an earlier call";
  EXPECT_EQ(nvapi.GPU_GetVbiosVersionString(gpus[0], text), hardware::kNvapiError);
  EXPECT_STREQ(text, "") << "the buffer is zero-filled before the call";
  EXPECT_EQ(nvapi.Unload(), hardware::kNvapiOk);
}

TEST_F(Win32Nvapi, InitializeFailingOrMissingReleasesTheLibraryWithoutUnload) {
  const std::pair<const char*, hardware::NvStatus> cases[] = {
      {"OVVB_NVAPI_STUB_FAIL", hardware::kNvapiError},
      {"OVVB_NVAPI_STUB_MISSING", hardware::kNvapiNoImplementation}};
  for (const auto& [variable, status] : cases) {
    SCOPED_TRACE(variable);
    reset();
    SetEnvironmentVariableA(variable, "Initialize");
    hardware::NvApi nvapi;
    EXPECT_EQ(nvapi.Initialize(), status);
    EXPECT_FALSE(loaded());
    hardware::NvPhysicalGpuHandle gpus[hardware::kNvapiMaxPhysicalGpus] = {};
    uint32_t count = 0;
    EXPECT_NE(nvapi.EnumPhysicalGPUs(gpus, &count), hardware::kNvapiOk);
    EXPECT_NE(nvapi.Unload(), hardware::kNvapiOk);
    EXPECT_EQ(calls("Unload"), 0);
    EXPECT_EQ(calls("EnumPhysicalGPUs"), 0);
  }
}

TEST_F(Win32Nvapi, MissingEntryPointIsNoImplementationAndLongTextIsCut) {
  SetEnvironmentVariableA("OVVB_NVAPI_STUB_MISSING", "GetVbiosOEMRevision");
  SetEnvironmentVariableA("OVVB_NVAPI_STUB_LONG_STRING", "1");
  hardware::NvApi nvapi;
  ASSERT_EQ(nvapi.Initialize(), hardware::kNvapiOk);
  hardware::NvPhysicalGpuHandle gpus[hardware::kNvapiMaxPhysicalGpus] = {};
  uint32_t count = 0, oem = 5;
  ASSERT_EQ(nvapi.EnumPhysicalGPUs(gpus, &count), hardware::kNvapiOk);
  EXPECT_EQ(nvapi.GPU_GetVbiosOEMRevision(gpus[0], &oem), hardware::kNvapiNoImplementation);
  EXPECT_EQ(oem, 5u);
  // An unterminated version text is cut at the buffer.
  char text[hardware::kNvapiShortStringMax];
  ASSERT_EQ(nvapi.GPU_GetVbiosVersionString(gpus[0], text), hardware::kNvapiOk);
  EXPECT_EQ(std::string(text), std::string(63, 'A'));
}

TEST_F(Win32Nvapi, DestructionUnloadsASessionLeftOpen) {
  {
    hardware::NvApi nvapi;
    ASSERT_EQ(nvapi.Initialize(), hardware::kNvapiOk);
    EXPECT_TRUE(loaded());
  }
  EXPECT_EQ(calls("Unload"), 1);
  EXPECT_FALSE(loaded());
}

}  // namespace
