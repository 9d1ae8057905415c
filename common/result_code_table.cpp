#include "common/result_code_table.h"

#include <array>

#include "common/result_codes.h"

namespace result {

namespace {

using enum ExitPath;

constexpr std::array kTable = {
    CodeInfo{kSuccess, "flash step", "The VBIOS was flashed and the closing steps reported no problem",
             Completion, true, "Nothing to do; the new VBIOS is active after the restart."},
    CodeInfo{.code = kUpToDate,
             .setBy = "checkUptodate",
             .meaning = "The VBIOS on the GPU is already at or above the package's version",
             .exit = Completion,
             .removesDriver = true,
             .advice = "Nothing was flashed and nothing needs doing; this counts as success.",
             .asksRestart = false},
    CodeInfo{kConfigNotFound, "readConfigs", "configs.txt not found", Failure, false,
             "The packages folder beside the program has no configs.txt: unpack the whole package again, "
             "keeping the packages folder next to the program."},
    CodeInfo{kConfigUnreadable, "readConfigs", "configs.txt cannot be read or parsed", Failure, false,
             "The packages folder is missing or unreadable, or a BiosVersion (or board) value or an entry "
             "number is not a valid number; the ERROR line names the line. Check the package with "
             "OvVBiosPackageCheck."},
    CodeInfo{kConfigIncomplete, "readConfigs", "Mandatory data missing from configs.txt", Failure, false,
             "ReleaseVersion, VBiosType or entry 0's VBiosHWID_0, VBiosVersion_0 or VBiosROM_0 is missing: "
             "a faulty package; check it with OvVBiosPackageCheck and rebuild it."},
    CodeInfo{kPackageNotSigned, "checkPackageSignature",
             "The package is not signed by the program's publisher, or has changed since it was signed",
             Failure, false,
             "The program is signed and runs only a package signed with the same certificate, every file as "
             "it was signed; the ERROR line after STEP1 names the file or the signer. Unpack the whole "
             "package again from its publisher; an author checks it with OvVBiosPackageCheck."},
    CodeInfo{kDeviceSearchFailed, "setTargetVGA", "The device search failed after a target had been found",
             Failure, false,
             "Windows' device list (WMI) failed during the search; restart the notebook and run again. If it "
             "repeats, repair WMI."},
    CodeInfo{kHwidNotFound, "setTargetVGA",
             "No ROM entry's hardware ID matches an installed device (also when the device search fails "
             "before a match)",
             Failure, false,
             "The dock's GPU was not found: check that the dock is attached and powered and its GPU shows in "
             "Device Manager, and that the package is the one for this dock's GPU."},
    CodeInfo{kBiosTooOld, "checkTargetBIOS", "The system BIOS is older than the package requires",
             BiosRequirement, false,
             "Update the notebook's system BIOS first, then run the installer again."},
    CodeInfo{kBiosCheckFailed, "checkTargetBIOS", "The system BIOS version cannot be read or parsed", Failure,
             false,
             "The registry's BIOSVersion under HARDWARE\\DESCRIPTION\\System\\BIOS is unreadable or has no "
             "number after its dot; the log line 'Full BIOS Version' shows what was found."},
    CodeInfo{
        kDriverTooOld, "checkTargetVGA",
        "The graphics driver is older than the package requires, or the two versions cannot be compared",
        DriverUpdate, false,
        "Install the graphics driver the package requires (the log's VGAVersion line shows the installed "
        "one), then run again."},
    CodeInfo{kDriverCheckFailed, "checkTargetVGA", "The driver version check failed", DriverUpdate, false,
             "A driver version component is not a number; update the graphics driver. If the package's "
             "VGAVersion is wrong, the package must be fixed."},
    CodeInfo{kDriverInstallTimeout, "insallSDriver", "Installing the flash tool's driver timed out", Failure,
             false, "devcon64.exe did not finish in 20 s; restart the notebook and run again."},
    CodeInfo{kDriverInstallFailed, "insallSDriver", "The driver installer ended with a non-zero exit code",
             Failure, false,
             "devcon64.exe could not install amdtools.inf (the log shows its exit code); check that "
             "amdtools.inf is in the packages folder and that security software allows driver installs."},
    CodeInfo{kDriverInstallError, "insallSDriver",
             "The driver installer failed to start or failed while running", Failure, false,
             "devcon64.exe is missing from the packages folder or was blocked; unpack the whole package "
             "again."},
    CodeInfo{kDriverRemoveFailed, "removeSDriver",
             "Removing the flash tool's driver timed out or ended with a non-zero exit code", NotFinal, false,
             "Ignored by the installer; the run's own code is what counts."},
    CodeInfo{kDriverRemoveError, "removeSDriver",
             "The driver remover failed to start or failed while running", NotFinal, false,
             "Ignored by the installer; the run's own code is what counts."},
    CodeInfo{kVersionReadTimeout, "getCurVbVersion",
             "The AMD version reader timed out after a version had been read", Failure, true,
             "amdvbflash -ai hung; restart the notebook (and the dock) and run again."},
    CodeInfo{kVersionReadExitCode, "getCurVbVersion",
             "The AMD version reader ended with a non-zero exit code after a version had been read", Failure,
             true, "amdvbflash -ai reported a problem (the log shows its exit code); restart and run again."},
    CodeInfo{kVersionReadError, "getCurVbVersion",
             "The run of the AMD version reader failed after a version line had been read", Failure, true,
             "The output of amdvbflash -ai was cut off; restart and run again."},
    CodeInfo{kNoVersion, "getCurVbVersion", "No usable AMD VBIOS version was read", Failure, true,
             "amdvbflash.exe is missing, could not reach the GPU or printed no Bios Version line; check that "
             "amdvbflash.exe is in the packages folder and the dock's GPU is attached."},
    CodeInfo{kNvapiInitFailed, "getCurVbVersion", "The NVIDIA driver interface fails to initialise",
             DriverUpdate, false,
             "The NVIDIA graphics driver is missing or broken; install it, then run again."},
    CodeInfo{kNvapiNoGpu, "getCurVbVersion", "No NVIDIA GPU could be enumerated", Failure, true,
             "The NVIDIA driver sees no GPU: check that the dock is attached and its GPU works in Device "
             "Manager."},
    CodeInfo{kNvapiNoRevision, "getCurVbVersion", "Reading the NVIDIA VBIOS revision fails", Failure, true,
             "The NVIDIA driver could not read the VBIOS; restart the notebook and the dock and run again."},
    CodeInfo{kUnknownVersionFormat, "checkUptodate", "The current AMD VBIOS version has an unknown format",
             Failure, true,
             "The package's VBiosVersion has a different number of components than the GPU's version (log "
             "line CurVbVersion): the package must be fixed."},
    CodeInfo{
        kUptodateCheckFailed, "checkUptodate", "The up-to-date decision failed", Failure, true,
        "A version component is not a number (package or GPU); the detail line after the ERROR line says "
        "which."},
    CodeInfo{kPowerStop, "power check", "On battery power and the user did not go on", NoDialog, true,
             "Connect the notebook to AC power and run again."},
    CodeInfo{kFlashTimeout, "flash step", "The flash process did not end in time and was killed", Failure,
             true,
             "The flash did not finish in 90 s. Do not restart before support has checked the GPU: run the "
             "installer again on AC power."},
    CodeInfo{kFlashExitCode, "flash step", "The flash process ended with a non-zero exit code", Failure, true,
             "The flash tool refused or failed (the log shows its output and code); run again on AC power. "
             "If it repeats, send the log to the package's maker."},
    CodeInfo{kFlashIncomplete, "flash step", "The AMD flash output lacked the completion line", Failure, true,
             "The flash tool did not confirm the update; run the installer again before restarting."},
    CodeInfo{
        kFlashError, "flash step", "The flash process failed to start, or the flash step failed", Failure,
        true,
        "The ROM file or flash program is missing or refused, or the working copy could not be made; the "
        "detail line says which. Unpack the package again."},
};

std::string dockPart(int32_t e) {
  switch (e) {
    case dock_ec::kGenFailed:
      return "the dock controller's GEN item could not be written (dock missing or silent)";
    case dock_ec::kNvapiInitializeFailed:
      return "the NVIDIA driver interface could not be used for the dock's VBIOS item";
    case dock_ec::kNvapiEnumFailed:
      return "no NVIDIA GPU was listed for the dock's VBIOS item";
    case dock_ec::kNvapiVersionFailed:
      return "the VBIOS version text could not be read for the dock";
    case dock_ec::kVbiosFailed:
      return "the dock controller's VBIOS item could not be written";
  }
  return {};
}

std::string linkPart(int32_t w) {
  if (w == dock_link::kNoDevice) return "the platform driver \\\\.\\ZELACPI could not be opened";
  if (w == dock_link::kSwitchFailed) return "the host PCIe link could not be switched back to Gen4";
  return {};
}

}  // namespace

std::span<const CodeInfo> codeTable() { return kTable; }

Explanation explain(int32_t code) {
  Explanation out;
  out.code = code;
  for (const CodeInfo& info : kTable) {
    if (info.code != code) continue;
    out = {true,
           code,
           std::string(info.setBy),
           std::string(info.meaning),
           info.exit,
           info.removesDriver,
           std::string(info.advice),
           info.asksRestart};
    return out;
  }
  if (const std::optional<ClosingParts> parts = closingParts(code)) {
    const auto [e, w] = *parts;
    out.known = true;
    out.setBy = "closing steps";
    out.exit = ExitPath::Completion;
    out.removesDriver = true;
    std::string what;
    if (e > 0) what = dockPart(e);
    if (w > 0) what += (what.empty() ? "" : "; ") + linkPart(w);
    out.meaning = "The VBIOS step ended well (flashed or already up to date), but " + what;
    std::string advice;
    if (e > 0)
      advice = "Check that the dock is attached and run the installer again to update its controller.";
    if (w > 0)
      advice +=
          std::string(advice.empty() ? "" : " ") +
          "The platform driver needs the notebook's chipset/platform package; reinstall it and run again.";
    out.advice = advice;
    return out;
  }
  if (code == -1) {
    out.known = true;
    out.setBy = "installer";
    out.meaning = "The installer met a failure it has no code for and stopped";
    out.exit = ExitPath::NoDialog;
    out.advice = "Send the whole log to the installer's maker.";
    return out;
  }
  out.meaning = "No run of this installer ends with this code";
  out.advice = "The log may come from another program or be damaged.";
  return out;
}

std::string_view exitPathName(ExitPath exit) {
  switch (exit) {
    case ExitPath::Completion:
      return "completion";
    case ExitPath::Failure:
      return "failure";
    case ExitPath::DriverUpdate:
      return "driver update";
    case ExitPath::BiosRequirement:
      return "BIOS requirement";
    case ExitPath::NoDialog:
      return "plain";
    case ExitPath::NotFinal:
      return "not final";
  }
  return "?";
}

}  // namespace result
