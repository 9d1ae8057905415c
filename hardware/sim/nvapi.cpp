// The simulated NVIDIA driver: [nvapi] of machine.ini gives each call's
// status and the values of one GPU. Every call is traced.
#include "hardware/nvapi.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "simulated/machine.h"

namespace hardware {
namespace {

// NVAPI's own statuses for misuse, so a caller that skips Initialize or
// passes a null pointer sees what the real driver would tell it.
constexpr NvStatus kNvapiApiNotInitialized = -4;
constexpr NvStatus kNvapiInvalidArgument = -5;
constexpr NvStatus kNvapiExpectedPhysicalGpuHandle = -101;

// The one GPU's handle: any non-null value the caller cannot mistake for
// another object.
int theGpu = 0;

NvStatus traced(const char* call, NvStatus status) {
  simulated::Trace("nvapi").str("call", call).num("status", status).write();
  return status;
}

// "0x86040F00" or "2248413952"; anything else reads as 0, as an unreadable
// value would from a broken driver.
uint32_t parseRevision(const std::string& text) {
  std::string_view digits = text;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (ec != std::errc() || end != digits.data() + digits.size()) return 0;
  return value;
}

}  // namespace

struct NvApi::Impl {
  bool initialized = false;
  simulated::MachineIni ini;

  NvStatus status(const char* key) const { return static_cast<NvStatus>(ini.getInt("nvapi", key, 0)); }
};

NvApi::NvApi() : impl_(std::make_unique<Impl>()) {}

// As the Windows backend does: a caller that returns early without Unload
// still unloads, and the trace shows the same Unload it would on Windows.
NvApi::~NvApi() {
  if (impl_->initialized) Unload();
}

NvStatus NvApi::Initialize() {
  impl_->ini = simulated::MachineIni::load();
  if (!impl_->ini.present("nvapi")) return traced("NvAPI_Initialize", kNvapiLibraryNotFound);
  const NvStatus status = impl_->status("initialize");
  impl_->initialized = status == kNvapiOk;
  return traced("NvAPI_Initialize", status);
}

NvStatus NvApi::EnumPhysicalGPUs(NvPhysicalGpuHandle (&handles)[kNvapiMaxPhysicalGpus], uint32_t* count) {
  constexpr const char* kCall = "NvAPI_EnumPhysicalGPUs";
  if (!impl_->initialized) return traced(kCall, kNvapiApiNotInitialized);
  if (count == nullptr) return traced(kCall, kNvapiInvalidArgument);
  const NvStatus status = impl_->status("enum");
  if (status == kNvapiOk) {
    for (NvPhysicalGpuHandle& handle : handles) handle = nullptr;
    handles[0] = &theGpu;
    *count = 1;
  }
  return traced(kCall, status);
}

NvStatus NvApi::GPU_GetVbiosRevision(NvPhysicalGpuHandle gpu, uint32_t* revision) {
  constexpr const char* kCall = "NvAPI_GPU_GetVbiosRevision";
  if (!impl_->initialized) return traced(kCall, kNvapiApiNotInitialized);
  if (gpu != &theGpu) return traced(kCall, kNvapiExpectedPhysicalGpuHandle);
  if (revision == nullptr) return traced(kCall, kNvapiInvalidArgument);
  const NvStatus status = impl_->status("revision_status");
  if (status == kNvapiOk) *revision = parseRevision(impl_->ini.get("nvapi", "revision", "0x86040F00"));
  return traced(kCall, status);
}

NvStatus NvApi::GPU_GetVbiosOEMRevision(NvPhysicalGpuHandle gpu, uint32_t* revision) {
  constexpr const char* kCall = "NvAPI_GPU_GetVbiosOEMRevision";
  if (!impl_->initialized) return traced(kCall, kNvapiApiNotInitialized);
  if (gpu != &theGpu) return traced(kCall, kNvapiExpectedPhysicalGpuHandle);
  if (revision == nullptr) return traced(kCall, kNvapiInvalidArgument);
  const NvStatus status = impl_->status("oem_revision_status");
  if (status == kNvapiOk) *revision = parseRevision(impl_->ini.get("nvapi", "oem_revision", "0x01"));
  return traced(kCall, status);
}

NvStatus NvApi::GPU_GetVbiosVersionString(NvPhysicalGpuHandle gpu, char (&text)[kNvapiShortStringMax]) {
  constexpr const char* kCall = "NvAPI_GPU_GetVbiosVersionString";
  if (!impl_->initialized) return traced(kCall, kNvapiApiNotInitialized);
  if (gpu != &theGpu) return traced(kCall, kNvapiExpectedPhysicalGpuHandle);
  const NvStatus status = impl_->status("version_string_status");
  if (status == kNvapiOk) {
    // A short string holds 63 characters and its terminator; a longer
    // configured text is cut, as the driver's fixed buffer would cut it.
    const std::string version = impl_->ini.get("nvapi", "version_string", "86.04.0F.00.01");
    const size_t length = std::min(version.size(), sizeof text - 1);
    std::memset(text, 0, sizeof text);
    std::memcpy(text, version.data(), length);
  }
  return traced(kCall, status);
}

NvStatus NvApi::Unload() {
  if (!impl_->initialized) return traced("NvAPI_Unload", kNvapiApiNotInitialized);
  impl_->initialized = false;
  return traced("NvAPI_Unload", kNvapiOk);
}

}  // namespace hardware
