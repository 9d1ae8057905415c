// NVAPI through the NVIDIA driver's nvapi64.dll. The library exports a single
// entry point, nvapi_QueryInterface, which hands out each call by its id.
#include "hardware/nvapi.h"

#include <windows.h>

#include <cstring>

#include "platform/win32/scoped_handle.h"
#include "platform/win32/system_library.h"

namespace hardware {
namespace {

// NVAPI's status for a call made before NvAPI_Initialize succeeded.
constexpr NvStatus kNvapiApiNotInitialized = -4;

// Ids of the calls, as NVIDIA's public nvapi_interface.h lists them.
constexpr unsigned kIdInitialize = 0x0150E828u;
constexpr unsigned kIdUnload = 0xD22BDD7Eu;
constexpr unsigned kIdEnumPhysicalGPUs = 0xE5AC921Fu;
constexpr unsigned kIdGetVbiosRevision = 0xACC3DA0Au;
constexpr unsigned kIdGetVbiosOEMRevision = 0x2D43FB31u;
constexpr unsigned kIdGetVbiosVersionString = 0xA561FD7Du;

using QueryInterfaceFn = void*(__cdecl*)(unsigned id);
using VoidCallFn = NvStatus(__cdecl*)();
using EnumFn = NvStatus(__cdecl*)(NvPhysicalGpuHandle* handles, uint32_t* count);
using RevisionFn = NvStatus(__cdecl*)(NvPhysicalGpuHandle gpu, uint32_t* revision);
using VersionStringFn = NvStatus(__cdecl*)(NvPhysicalGpuHandle gpu, char* text);

template <typename Fn>
Fn entryPoint(void* address) {
  return reinterpret_cast<Fn>(address);
}

}  // namespace

struct NvApi::Impl {
  platform::win32::ScopedModule library;
  QueryInterfaceFn queryInterface = nullptr;
  bool initialized = false;

  template <typename Fn>
  Fn resolve(unsigned id) const {
    return queryInterface == nullptr ? nullptr : entryPoint<Fn>(queryInterface(id));
  }

  void freeLibrary() {
    initialized = false;
    queryInterface = nullptr;
    library.reset();
  }

  NvStatus unload() {
    if (!initialized) return kNvapiApiNotInitialized;
    const auto call = resolve<VoidCallFn>(kIdUnload);
    const NvStatus status = call == nullptr ? kNvapiNoImplementation : call();
    freeLibrary();
    return status;
  }
};

NvApi::NvApi() : impl_(std::make_unique<Impl>()) {}

// A caller that returns early without Unload still leaves the driver's
// reference count as it found it.
NvApi::~NvApi() { impl_->unload(); }

NvStatus NvApi::Initialize() {
  if (impl_->initialized) return kNvapiOk;
  // System32 only: the default search order would take an nvapi64.dll
  // planted beside the installer or in the current folder and run it with
  // administrator rights.
  impl_->library = platform::win32::loadSystemLibrary(L"nvapi64.dll");
  if (!impl_->library) return kNvapiLibraryNotFound;
  impl_->queryInterface =
      platform::win32::exportedFunction<QueryInterfaceFn>(impl_->library, "nvapi_QueryInterface");
  const auto call = impl_->resolve<VoidCallFn>(kIdInitialize);
  if (call == nullptr) {
    impl_->freeLibrary();
    return kNvapiNoImplementation;
  }
  const NvStatus status = call();
  // Nobody unloads after a failed Initialize, so the library goes now.
  if (status != kNvapiOk) {
    impl_->freeLibrary();
    return status;
  }
  impl_->initialized = true;
  return kNvapiOk;
}

NvStatus NvApi::EnumPhysicalGPUs(NvPhysicalGpuHandle (&handles)[kNvapiMaxPhysicalGpus], uint32_t* count) {
  if (!impl_->initialized) return kNvapiApiNotInitialized;
  const auto call = impl_->resolve<EnumFn>(kIdEnumPhysicalGPUs);
  if (call == nullptr) return kNvapiNoImplementation;
  return call(handles, count);
}

NvStatus NvApi::GPU_GetVbiosRevision(NvPhysicalGpuHandle gpu, uint32_t* revision) {
  if (!impl_->initialized) return kNvapiApiNotInitialized;
  const auto call = impl_->resolve<RevisionFn>(kIdGetVbiosRevision);
  if (call == nullptr) return kNvapiNoImplementation;
  return call(gpu, revision);
}

NvStatus NvApi::GPU_GetVbiosOEMRevision(NvPhysicalGpuHandle gpu, uint32_t* revision) {
  if (!impl_->initialized) return kNvapiApiNotInitialized;
  const auto call = impl_->resolve<RevisionFn>(kIdGetVbiosOEMRevision);
  if (call == nullptr) return kNvapiNoImplementation;
  return call(gpu, revision);
}

NvStatus NvApi::GPU_GetVbiosVersionString(NvPhysicalGpuHandle gpu, char (&text)[kNvapiShortStringMax]) {
  std::memset(text, 0, sizeof text);
  if (!impl_->initialized) return kNvapiApiNotInitialized;
  const auto call = impl_->resolve<VersionStringFn>(kIdGetVbiosVersionString);
  if (call == nullptr) return kNvapiNoImplementation;
  const NvStatus status = call(gpu, text);
  // The driver's text is trusted no further than its buffer.
  text[sizeof text - 1] = '\0';
  return status;
}

NvStatus NvApi::Unload() { return impl_->unload(); }

}  // namespace hardware
