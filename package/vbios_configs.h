// The package configuration of a run (configs.txt) and the state of the
// target checks that fill it step by step.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/log.h"
#include "package/check_rules.h"

inline constexpr int kMaxRomEntries = 100;
inline constexpr size_t kMaxConfigFileBytes = 1 << 20;  // a real configs.txt is a few hundred bytes

// The run copies the whole packages folder before it reads anything in it. A
// real package is a few ROM images of a few MiB, the flash tool, the device
// console and a driver: tens of MiB and tens of files. The bounds leave ample
// room for that and stop a folder that is plainly not a package (a mistaken
// Downloads folder, a planted flood) from filling ProgramData or holding the
// run for minutes before its first step. Each level of folders is one folder
// held open while its names are copied.
inline constexpr uint64_t kMaxPackageBytes = uint64_t{1} << 30;
inline constexpr uint32_t kMaxPackageEntries = 1000;
inline constexpr uint32_t kMaxPackageDepth = 16;

class VBiosInfo {
 public:
  std::string vbHWID = "UNKNOWN";
  std::string vbRom = "UNKNOWN";
  std::string vbRomVersion = "0.0.0.0.0";
  bool vbIsRawRom = false;
};

class VBiosConfigs {
 public:
  // Keeps the caller's writer (the installation sequence's).
  explicit VBiosConfigs(LogWriter& writer);
  // Opens its own writer on the installation log.
  VBiosConfigs();

  std::string myPath;  // program folder + "\packages"
  std::string VbConfig = "configs.txt";
  std::string VbReleaseVersion = "0.0.0";
  std::string VbType = "UNKNOWN";
  int32_t ECConfig = 0;
  int32_t WMIConfig = 0;
  int32_t VbCount = 0;
  bool VbIsRawRom = false;
  std::string CurVbVersion = "0.0.0.0.0";
  std::string VbRomVersion = "0.0.0.0.0";
  std::string CurHWID = "UNKNOWN";
  // The matched device's own hardware ID as WMI reported it (CurHWID is the
  // package's prefix): what the image is checked against before a flash.
  std::string CurDeviceHWID = "UNKNOWN";
  std::string VbRomHWID = "UNKNOWN";
  std::string VbFlashCmd;
  int32_t CurBios = 1;
  int32_t VbReqBios = 1;
  // The requirement as the package wrote it, blanks and all: the BIOS
  // dialog shows this text, not the parsed number.
  std::string VbReqBiosText = "1";
  std::string CurVGAVersion = "0.0.0.0";
  std::string VbReqVGAVersion = "0.0.0.0";
  std::string SDriverCmd;
  std::string SDriverUninstCmd;
  std::string ProductName = "UNKNOWN";
  // The tools' TEMP and TMP, a folder only the administrators may use;
  // empty: none is given to them.
  std::string toolTemp;
  LogWriter* w = nullptr;
  std::array<VBiosInfo, kMaxRomEntries> vb;

  int32_t readConfigs();
  int32_t setTargetVGA();
  int32_t checkTargetBIOS();
  int32_t checkTargetVGA();
  int32_t insallSDriver();
  int32_t removeSDriver();
  int32_t getCurVbVersion();
  int32_t checkUptodate();

  void OvLog(std::string_view message, LogWriter& writer);

  bool isAmdType() const { return package::isAmdPackageType(VbType); }

 private:
  std::unique_ptr<LogWriter> ownWriter_;
};
