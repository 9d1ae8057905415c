// A stand-in for the NVIDIA driver's nvapi64.dll, for the Wine tests of the
// NVAPI client and the product's runs: one GPU. Initialize reads the
// simulated machine (OVVB_MACHINE, as the WMI emulator finds it): its
// [nvapi] statuses and revisions, as the simulation answers them, or the
// driver missing when machine.ini has no [nvapi]. Without a machine.ini the
// GPU has VBIOS 86.04.0F.00.01. On top, environment variables read at each
// call switch behaviour, so one test process can walk every path:
//   OVVB_NVAPI_STUB_FAIL=GetVbiosRevision,Enum      those calls return -1
//   OVVB_NVAPI_STUB_MISSING=GetVbiosVersionString   no entry point for them
//   OVVB_NVAPI_STUB_LONG_STRING=1                   the version text fills all 64 bytes, unterminated
// Names: Initialize, Unload, EnumPhysicalGPUs, GetVbiosRevision,
// GetVbiosOEMRevision, GetVbiosVersionString.
// Each call counts itself in OVVB_NVAPI_STUB_CALLS_<name>, which outlives the
// library, so a test can tell whether Unload came before the library was
// freed.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "tests/wine/emulators/machine_file.h"

namespace {

using winetest::emulators::MachineFile;
using winetest::emulators::parseNumber;

using Status = int;

constexpr Status kOk = 0;
constexpr Status kError = -1;
constexpr Status kLibraryNotFound = -2;
constexpr Status kInvalidArgument = -5;
constexpr Status kExpectedPhysicalGpuHandle = -101;

int theGpu = 0;

// What the driver answers, as Initialize last read the machine.
struct DriverAnswers {
  bool present = true;
  Status initialize = kOk, enumerate = kOk, revisionStatus = kOk, oemRevisionStatus = kOk,
         versionStatus = kOk;
  unsigned revision = 0x86040F00u;
  unsigned oemRevision = 0x01;
  std::string version = "86.04.0F.00.01";
};
DriverAnswers answers;

DriverAnswers readMachine() {
  const MachineFile machine = MachineFile::load();
  DriverAnswers read;
  if (!machine.found()) return read;
  read.present = machine.present("nvapi");
  const auto number = [&machine](const char* key, long long fallback) {
    const std::optional<std::string> text = machine.get("nvapi", key);
    return text ? parseNumber(*text).value_or(0) : fallback;
  };
  read.initialize = static_cast<Status>(number("initialize", kOk));
  read.enumerate = static_cast<Status>(number("enum", kOk));
  read.revisionStatus = static_cast<Status>(number("revision_status", kOk));
  read.oemRevisionStatus = static_cast<Status>(number("oem_revision_status", kOk));
  read.versionStatus = static_cast<Status>(number("version_string_status", kOk));
  read.revision = static_cast<unsigned>(number("revision", 0x86040F00u));
  read.oemRevision = static_cast<unsigned>(number("oem_revision", 0x01));
  read.version = machine.get("nvapi", "version_string").value_or(read.version);
  return read;
}

enum Call { kInitialize, kUnload, kEnum, kRevision, kOemRevision, kVersionString };

const char* const kCallNames[] = {"Initialize",          "Unload",
                                  "EnumPhysicalGPUs",    "GetVbiosRevision",
                                  "GetVbiosOEMRevision", "GetVbiosVersionString"};

std::string environment(const char* name) {
  char buffer[512];
  const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return {};
  return std::string(buffer, length);
}

bool listed(const char* variable, Call call) {
  const std::string list = "," + environment(variable) + ",";
  return list.find("," + std::string(kCallNames[call]) + ",") != std::string::npos;
}

void count(Call call) {
  const std::string variable = std::string("OVVB_NVAPI_STUB_CALLS_") + kCallNames[call];
  const std::string before = environment(variable.c_str());
  const long calls = before.empty() ? 0 : std::strtol(before.c_str(), nullptr, 10);
  SetEnvironmentVariableA(variable.c_str(), std::to_string(calls + 1).c_str());
}

Status enter(Call call, Status status = kOk) {
  count(call);
  return listed("OVVB_NVAPI_STUB_FAIL", call) ? kError : status;
}

Status __cdecl initialize() {
  answers = readMachine();
  if (!answers.present) {
    count(kInitialize);
    return kLibraryNotFound;
  }
  return enter(kInitialize, answers.initialize);
}

Status __cdecl unload() { return enter(kUnload); }

Status __cdecl enumPhysicalGpus(void** handles, unsigned* count) {
  const Status status = enter(kEnum, answers.enumerate);
  if (status != kOk) return status;
  if (handles == nullptr || count == nullptr) return kInvalidArgument;
  handles[0] = &theGpu;
  *count = 1;
  return kOk;
}

Status __cdecl getVbiosRevision(void* gpu, unsigned* revision) {
  const Status status = enter(kRevision, answers.revisionStatus);
  if (status != kOk) return status;
  if (gpu != &theGpu) return kExpectedPhysicalGpuHandle;
  if (revision == nullptr) return kInvalidArgument;
  *revision = answers.revision;
  return kOk;
}

Status __cdecl getVbiosOemRevision(void* gpu, unsigned* revision) {
  const Status status = enter(kOemRevision, answers.oemRevisionStatus);
  if (status != kOk) return status;
  if (gpu != &theGpu) return kExpectedPhysicalGpuHandle;
  if (revision == nullptr) return kInvalidArgument;
  *revision = answers.oemRevision;
  return kOk;
}

Status __cdecl getVbiosVersionString(void* gpu, char* text) {
  const Status status = enter(kVersionString, answers.versionStatus);
  if (status != kOk) return status;
  if (gpu != &theGpu) return kExpectedPhysicalGpuHandle;
  if (text == nullptr) return kInvalidArgument;
  if (!environment("OVVB_NVAPI_STUB_LONG_STRING").empty()) {
    std::memset(text, 'A', 64);
  } else {
    // A short string holds 63 characters and its terminator.
    std::memset(text, 0, 64);
    std::memcpy(text, answers.version.data(), answers.version.size() < 63 ? answers.version.size() : 63);
  }
  return kOk;
}

struct Entry {
  unsigned id;
  Call call;
  void* function;
};

}  // namespace

extern "C" {

__declspec(dllexport) void* __cdecl nvapi_QueryInterface(unsigned id) {
  const Entry entries[] = {
      {0x0150E828u, kInitialize, reinterpret_cast<void*>(&initialize)},
      {0xD22BDD7Eu, kUnload, reinterpret_cast<void*>(&unload)},
      {0xE5AC921Fu, kEnum, reinterpret_cast<void*>(&enumPhysicalGpus)},
      {0xACC3DA0Au, kRevision, reinterpret_cast<void*>(&getVbiosRevision)},
      {0x2D43FB31u, kOemRevision, reinterpret_cast<void*>(&getVbiosOemRevision)},
      {0xA561FD7Du, kVersionString, reinterpret_cast<void*>(&getVbiosVersionString)},
  };
  for (const Entry& entry : entries) {
    if (entry.id == id) return listed("OVVB_NVAPI_STUB_MISSING", entry.call) ? nullptr : entry.function;
  }
  return nullptr;
}

// Marks this library as the test stub, so a test can tell it from a real
// driver's nvapi64.dll.
__declspec(dllexport) int __cdecl ovvbNvapiStub() { return 1; }

}  // extern "C"
