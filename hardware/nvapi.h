// The NVIDIA driver interface, as far as the installer uses it. Every call
// returns an NvAPI status, 0 meaning success.
#pragma once

#include <cstdint>
#include <memory>

namespace hardware {

using NvStatus = int32_t;
using NvPhysicalGpuHandle = void*;

inline constexpr NvStatus kNvapiOk = 0;
inline constexpr NvStatus kNvapiError = -1;
inline constexpr NvStatus kNvapiLibraryNotFound = -2;
inline constexpr NvStatus kNvapiNoImplementation = -3;
inline constexpr int kNvapiMaxPhysicalGpus = 64;
inline constexpr int kNvapiShortStringMax = 64;

// Loads the interface on Initialize and releases it on Unload or destruction.
class NvApi {
 public:
  NvApi();
  ~NvApi();
  NvApi(const NvApi&) = delete;
  NvApi& operator=(const NvApi&) = delete;

  NvStatus Initialize();
  NvStatus EnumPhysicalGPUs(NvPhysicalGpuHandle (&handles)[kNvapiMaxPhysicalGpus], uint32_t* count);
  NvStatus GPU_GetVbiosRevision(NvPhysicalGpuHandle gpu, uint32_t* revision);
  NvStatus GPU_GetVbiosOEMRevision(NvPhysicalGpuHandle gpu, uint32_t* revision);
  NvStatus GPU_GetVbiosVersionString(NvPhysicalGpuHandle gpu, char (&text)[kNvapiShortStringMax]);
  NvStatus Unload();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hardware
