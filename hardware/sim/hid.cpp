// The simulated HID bus: the unrelated interfaces of [hid] other (listed
// first, in their order), then the dock controller of [dock] unless it is
// absent or present = no; [hid] locked interfaces refuse read/write opens. Unrelated interfaces behave like
// Wine's virtual mouse and keyboard: they open and describe themselves, and refuse feature reports with
// error 87. Every feature report is traced as sent and received; input and output reports are traced too.
#include "hardware/hid.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "hardware/sim/dock_controller.h"
#include "hardware/sim/hex_bytes.h"
#include "hardware/sim/hid_test_hooks.h"
#include "platform/ascii_text.h"
#include "platform/error.h"
#include "simulated/machine.h"

namespace hardware::hid {
namespace {

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;

// What an unrelated interface reports: a mouse's boot input report.
constexpr uint16_t kOtherUsagePage = 0x0001;
constexpr uint16_t kOtherUsage = 0x0002;
constexpr uint16_t kOtherInputLength = 5;
constexpr uint16_t kDockUsagePage = 0xFF00;
constexpr uint16_t kDockUsage = 0x0001;

struct SimInterfaceSet {
  std::vector<std::string> paths;
};

struct SimDevice {
  std::string path;  // as the bus lists it
  bool isDock = false;
  uint32_t access = 0;
  uint64_t cancelGeneration = 0;  // raised by cancelReads
};

// Guards the input queues and every SimDevice's cancel generation.
std::mutex busMutex;
std::condition_variable inputArrived;
std::map<std::string, std::deque<std::vector<uint8_t>>> inputQueues;  // by lower-case path

std::mutex windowMutex;
sim::WindowReceiver windowReceiver;

std::vector<std::string> busPaths(const simulated::MachineIni& ini) {
  std::vector<std::string> paths = ini.getAll("hid", "other");
  if (ini.present("dock")) paths.push_back(sim::dockPath(ini));
  return paths;
}

SimDevice* simDevice(const Device& device) {
  return device.valid() ? static_cast<SimDevice*>(device.native()) : nullptr;
}

// "vid_046d" in a path gives 0x046D; 0 when the path has none.
uint16_t idFromPath(std::string_view path, std::string_view tag) {
  const std::string lower = platform::lowerAscii(path);
  const size_t at = lower.find(tag);
  if (at == std::string::npos || at + tag.size() + 4 > lower.size()) return 0;
  uint16_t value = 0;
  const char* first = lower.data() + at + tag.size();
  const auto [end, ec] = std::from_chars(first, first + 4, value, 16);
  return ec == std::errc() && end == first + 4 ? value : 0;
}

void traceReport(const char* event, const SimDevice& device, const uint8_t* data, size_t length, bool ok) {
  simulated::Trace(event)
      .str("path", device.path)
      .str("data", sim::hexBytes(data, length))
      .boolean("ok", ok)
      .write();
}

uint16_t inputReportLength(const SimDevice& device) {
  return device.isDock ? sim::kDockReportLength : kOtherInputLength;
}

uint16_t outputReportLength(const SimDevice& device) { return device.isDock ? sim::kDockReportLength : 0; }

}  // namespace

void destroyInterfaceSet(void* native) noexcept { delete static_cast<SimInterfaceSet*>(native); }

void closeDevice(void* native) noexcept { delete static_cast<SimDevice*>(native); }

InterfaceClass hidInterfaceClass() {
  return InterfaceClass{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

InterfaceSet openPresentInterfaces(const InterfaceClass&) {
  auto* set = new SimInterfaceSet{busPaths(simulated::MachineIni::load())};
  return InterfaceSet(set);
}

InterfaceStep interfacePath(const InterfaceSet& set, const InterfaceClass&, uint32_t index, bool,
                            std::string& path) {
  const auto* sim = static_cast<const SimInterfaceSet*>(set.valid() ? set.native() : nullptr);
  if (sim == nullptr || index >= sim->paths.size()) return InterfaceStep::End;
  path = sim->paths[index];
  return InterfaceStep::Path;
}

Device open(std::string_view path, uint32_t access, uint32_t, uint32_t& error) {
  const simulated::MachineIni ini = simulated::MachineIni::load();
  const std::string wanted = platform::lowerAscii(path);
  const std::string dock = ini.present("dock") ? platform::lowerAscii(sim::dockPath(ini)) : std::string();
  for (const std::string& listed : busPaths(ini)) {
    if (platform::lowerAscii(listed) != wanted) continue;
    // [hid] locked: an interface the system holds exclusively, as Windows
    // does with keyboards and mice: it opens for its attributes only.
    if (access != kAccessNone) {
      for (const std::string& locked : ini.getAll("hid", "locked")) {
        if (platform::lowerAscii(locked) == wanted) {
          error = platform::kErrorAccessDenied;
          return Device();
        }
      }
    }
    error = 0;
    return Device(new SimDevice{listed, wanted == dock, access, 0});
  }
  error = platform::kErrorFileNotFound;
  return Device();
}

bool getAttributes(const Device& device, Attributes& attributes) {
  const SimDevice* sim = simDevice(device);
  if (sim == nullptr) return false;
  if (sim->isDock) {
    attributes = Attributes{sim::kDockVendorId, sim::kDockProductId, 0x0100};
  } else {
    attributes = Attributes{idFromPath(sim->path, "vid_"), idFromPath(sim->path, "pid_"), 0};
  }
  return true;
}

CapsResult getCapabilities(const Device& device, Capabilities& caps) {
  const SimDevice* sim = simDevice(device);
  if (sim == nullptr) return CapsResult::NoPreparsedData;
  if (sim->isDock) {
    caps = Capabilities{kDockUsage, kDockUsagePage, sim::kDockReportLength, sim::kDockReportLength,
                        sim::dockFeatureReportLength(simulated::MachineIni::load())};
  } else {
    caps = Capabilities{kOtherUsage, kOtherUsagePage, kOtherInputLength, 0, 0};
  }
  return CapsResult::Ok;
}

bool setFeature(const Device& device, const uint8_t* report, uint32_t length, uint32_t& error) {
  const SimDevice* sim = simDevice(device);
  if (sim == nullptr) {
    error = platform::kErrorInvalidHandle;
    return false;
  }
  bool ok = false;
  if ((sim->access & kGenericWrite) == 0) {
    error = platform::kErrorAccessDenied;
  } else if (!sim->isDock || length == 0) {
    error = platform::kErrorInvalidParameter;
  } else {
    ok = sim::dockSetFeature(sim->path, report, length, error);
  }
  traceReport("hid.set_feature", *sim, report, length, ok);
  return ok;
}

bool getFeature(const Device& device, uint8_t* report, uint32_t length, uint32_t& error) {
  const SimDevice* sim = simDevice(device);
  if (sim == nullptr) {
    error = platform::kErrorInvalidHandle;
    return false;
  }
  bool ok = false;
  if ((sim->access & kGenericRead) == 0) {
    error = platform::kErrorAccessDenied;
  } else if (!sim->isDock || length == 0) {
    error = platform::kErrorInvalidParameter;
  } else {
    ok = sim::dockGetFeature(sim->path, report, length, error);
  }
  // Received: the report the device filled, which is its feature length.
  const size_t received =
      ok ? std::min<size_t>(length, sim::dockFeatureReportLength(simulated::MachineIni::load())) : 0;
  traceReport("hid.get_feature", *sim, report, received, ok);
  return ok;
}

bool setNumInputBuffers(const Device& device, uint32_t count) {
  // The class driver accepts 2 to 512 buffers.
  return simDevice(device) != nullptr && count >= 2 && count <= 512;
}

bool writeReport(const Device& device, const uint8_t* report, uint32_t length, uint32_t& written,
                 uint32_t& error) {
  written = 0;
  const SimDevice* sim = simDevice(device);
  if (sim == nullptr) {
    error = platform::kErrorInvalidHandle;
    return false;
  }
  const uint16_t reportLength = outputReportLength(*sim);
  bool ok = false;
  if ((sim->access & kGenericWrite) == 0) {
    error = platform::kErrorAccessDenied;
  } else if (reportLength == 0 || length < reportLength) {
    error = platform::kErrorInvalidParameter;
  } else {
    ok = true;
    error = 0;
    written = reportLength;
  }
  traceReport("hid.write", *sim, report, ok ? reportLength : length, ok);
  return ok;
}

bool readReport(const Device& device, uint8_t* report, uint32_t length, uint32_t& read, uint32_t& error) {
  read = 0;
  SimDevice* sim = simDevice(device);
  if (sim == nullptr) {
    error = platform::kErrorInvalidHandle;
    return false;
  }
  const uint16_t reportLength = inputReportLength(*sim);
  if ((sim->access & kGenericRead) == 0) {
    error = platform::kErrorAccessDenied;
    return false;
  }
  if (length < reportLength) {
    error = platform::kErrorInvalidParameter;
    return false;
  }
  std::vector<uint8_t> arrived;
  {
    std::unique_lock<std::mutex> lock(busMutex);
    auto& queue = inputQueues[platform::lowerAscii(sim->path)];
    const uint64_t generation = sim->cancelGeneration;
    inputArrived.wait(lock, [&] { return !queue.empty() || sim->cancelGeneration != generation; });
    if (queue.empty()) {
      error = platform::kErrorOperationAborted;
      return false;
    }
    arrived = std::move(queue.front());
    queue.pop_front();
  }
  arrived.resize(reportLength, 0x00);
  std::copy(arrived.begin(), arrived.end(), report);
  read = reportLength;
  error = 0;
  traceReport("hid.read", *sim, report, reportLength, true);
  return true;
}

void cancelReads(const Device& device) {
  SimDevice* sim = simDevice(device);
  if (sim == nullptr) return;
  {
    const std::lock_guard<std::mutex> lock(busMutex);
    ++sim->cancelGeneration;
  }
  inputArrived.notify_all();
}

bool postMessage(Window window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  sim::WindowReceiver receiver;
  {
    const std::lock_guard<std::mutex> lock(windowMutex);
    receiver = windowReceiver;
  }
  if (!receiver || window == nullptr) return false;
  receiver(window, message, wParam, lParam);
  return true;
}

intptr_t sendMessage(Window window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  sim::WindowReceiver receiver;
  {
    const std::lock_guard<std::mutex> lock(windowMutex);
    receiver = windowReceiver;
  }
  if (!receiver || window == nullptr) return 0;
  return receiver(window, message, wParam, lParam);
}

}  // namespace hardware::hid

namespace hardware::sim {

void queueInputReport(std::string_view path, const std::vector<uint8_t>& report) {
  {
    const std::lock_guard<std::mutex> lock(hid::busMutex);
    hid::inputQueues[platform::lowerAscii(path)].push_back(report);
  }
  hid::inputArrived.notify_all();
}

void clearInputReports() {
  const std::lock_guard<std::mutex> lock(hid::busMutex);
  hid::inputQueues.clear();
}

void setWindowReceiver(WindowReceiver receiver) {
  const std::lock_guard<std::mutex> lock(hid::windowMutex);
  hid::windowReceiver = std::move(receiver);
}

}  // namespace hardware::sim
