// Every machine.ini key the simulated machine reads: one row each, so the
// machine's readers, docs/simulated-machine.md's key list and the
// rehearsal's check of an author's machine cannot drift apart. A new key
// needs its row here before MachineIni reads it (it says so otherwise).
#pragma once

#include <array>
#include <string_view>

namespace simulated {

struct MachineKey {
  std::string_view section;
  std::string_view key;  // ends with '.' for a family of keys named by what follows (no_process.<program>)
  std::string_view fallback;
  std::string_view meaning;
};

inline constexpr MachineKey kMachineKeys[] = {
    {"user", "lcid", "1033", "the user's culture (LCID): the dialogs' language and the log's date format"},
    {"user", "answers", "", "scripted clicks, consumed in order: Form:button1 .. Form:button3, Form:close"},
    {"user", "desktop_visible", "yes",
     "no: no one can see the desktop (a deployment tool's session); each dialog takes its safe answer "
     "unseen"},
    {"time", "scale", "1",
     "factor on every sleep (pacing, pauses, retry waits, stand-in durations); 0 = no waiting"},
    {"time", "timeout_scale", "1", "factor on every child-process time-out (0.01 makes 90 s 0.9 s)"},
    {"time", "seed", "(clock)", "a non-negative integer makes the flash step's pacing repeat exactly"},
    {"processes", "no_process.", "0",
     "per program file name: its next N starts report no process (counts down)"},
    {"processes", "output_fail.", "0",
     "per program file name: its next N runs' output pipe fails (counts down)"},
    {"power", "ac_line", "1", "0 offline, 1 online, 255 unknown; a comma list gives successive readings"},
    {"pnp", "present", "yes", "no: no device list at all (as a missing [pnp] section)"},
    {"pnp", "device", "(none)", "repeatable, in WMI order: HardWareID | DriverVersion"},
    {"pnp", "fail", "none", "none, before_match or after_match: the device search fails there"},
    {"nvapi", "present", "yes", "no: the driver library cannot be loaded"},
    {"nvapi", "initialize", "0", "status of NvAPI_Initialize"},
    {"nvapi", "enum", "0", "status of NvAPI_EnumPhysicalGPUs"},
    {"nvapi", "revision", "0x86040F00", "the VBIOS revision"},
    {"nvapi", "revision_status", "0", "status of NvAPI_GPU_GetVbiosRevision"},
    {"nvapi", "oem_revision", "0x01", "the OEM revision"},
    {"nvapi", "oem_revision_status", "0", "status of NvAPI_GPU_GetVbiosOEMRevision"},
    {"nvapi", "version_string", "86.04.0F.00.01", "the VBIOS version text"},
    {"nvapi", "version_string_status", "0", "status of NvAPI_GPU_GetVbiosVersionString"},
    {"amdvbflash", "version", "020.001.000.038.016233",
     "the VBIOS on the GPU, printed by -ai (empty: no line)"},
    {"amdvbflash", "ai_exit", "0", "exit code of -ai"},
    {"amdvbflash", "ai_hang", "no", "yes: -ai prints its output, then never exits"},
    {"amdvbflash", "flash_exit", "0", "exit code of -fa"},
    {"amdvbflash", "flash_seconds", "5", "how long -fa takes (scaled)"},
    {"amdvbflash", "flash_completes", "yes", "no: -fa exits 0 without its completion line"},
    {"amdvbflash", "flash_hang", "no", "yes: -fa never exits"},
    {"amdvbflash", "ai_extra_output", "0",
     "bytes of empty lines -ai prints before its version line (512K, 64M)"},
    {"amdvbflash", "flash_extra_output", "0", "the same for a completed -fa, before its completion line"},
    {"amdvbflash", "flash_replaces", "(none)",
     "repeatable, <target> | <source>: as -fa starts, <source> is copied over <target> (a swap by the user)"},
    {"devcon64", "install_exit", "0", "exit code of install"},
    {"devcon64", "install_hang", "no", "yes: install never exits"},
    {"devcon64", "remove_exit", "0", "exit code of remove"},
    {"devcon64", "remove_hang", "no", "yes: remove never exits"},
    {"devcon64", "install_replaces", "(none)",
     "repeatable, <target> | <source>: as install starts, <source> is copied over <target>"},
    {"vendorflash", "exit", "0", "the NVIDIA flash program stand-in's exit code"},
    {"vendorflash", "seconds", "5", "how long it runs (scaled)"},
    {"vendorflash", "hang", "no", "yes: it never exits"},
    {"vendorflash", "helper", "no",
     "yes: it first starts a helper process that keeps writing until it is killed"},
    {"hid", "other", "(none)",
     "repeatable: an unrelated HID interface path, listed before the dock controller"},
    {"hid", "locked", "(none)",
     "repeatable: an interface the system holds exclusively (a read/write open fails)"},
    {"dock", "present", "yes", "no: the dock controller is not on the HID bus"},
    {"dock", "path",
     "\\\\?\\hid#vid_6a3d&pid_1c58&mi_01#8&2f1e0a7&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
     "its interface path"},
    {"dock", "feature_report_length", "300", "the feature report length it reports (0 to 65535)"},
    {"dock", "greeting", "accept", "reject: the greeting is refused and the controller stays locked"},
    {"dock", "fail_sets", "0", "the next N feature sends fail with error 31 (counts down)"},
    {"dock", "fail_gets", "0", "the next N feature fetches fail with error 31 (counts down)"},
    {"dock", "writes_left", "(no limit)", "the controller stores only N more group writes (counts down)"},
    {"dock", "block", "(erased)", "the block group as 128 hex digits (written back)"},
    {"dock", "text", "", "the text group, e.g. MB:A1;SN:B2;PRO:;PNUM:; (written back)"},
    {"acpi", "present", "yes", "no: opening \\\\.\\ZELACPI fails with error 2"},
    {"acpi", "dsts", "0x00010003", "what DSTS(0x0006005B) answers; 0x00010004 is Gen4"},
    {"acpi", "dsts_args", "1", "output arguments in the DSTS reply (0 = empty)"},
    {"acpi", "devs_reply", "1", "what DEVS(0x0006005B, 4) answers; 1 also sets dsts to Gen4"},
    {"acpi", "devs_reply_bytes", "4", "bytes in the DEVS reply (0 to 1024)"},
};

constexpr char lowerKeyChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool sameKeyText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerKeyChar(a[i]) != lowerKeyChar(b[i])) return false;
  return true;
}

// The row of a key (names compare without case, as machine.ini's do), or null.
constexpr const MachineKey* findMachineKey(std::string_view section, std::string_view key) {
  for (const MachineKey& row : kMachineKeys) {
    if (!sameKeyText(row.section, section)) continue;
    if (row.key.ends_with('.')
            ? key.size() > row.key.size() && sameKeyText(row.key, key.substr(0, row.key.size()))
            : sameKeyText(row.key, key))
      return &row;
  }
  return nullptr;
}

constexpr bool everyKeyOnce() {
  for (const MachineKey& row : kMachineKeys) {
    if (row.section.empty() || row.key.empty() || row.meaning.empty()) return false;
    if (!row.key.ends_with('.') && findMachineKey(row.section, row.key) != &row) return false;
  }
  return true;
}
static_assert(everyKeyOnce(), "every machine.ini key has one complete row");

}  // namespace simulated
