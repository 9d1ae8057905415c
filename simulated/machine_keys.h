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
    {"user", "lcid", "1033",
     "linux: the user's culture (`Application.CurrentCulture.LCID`), which also picks the log's date format "
     "and the dialogs' language (read afresh by each dialog; an LCID no dialog was translated for, 0 and "
     "negative ones included, is English); windows-sim takes Wine's culture from `LANG`"},
    {"user", "answers", "",
     "scripted clicks, consumed in order and written back: `Form:button1` .. `Form:button3`, `Form:close` "
     "(the system's close command)"},
    {"user", "desktop_visible", "yes",
     "linux: `no` is a session whose desktop no one sees (a deployment tool's system account): each dialog "
     "with a button is not shown but taken as answered with its safe button (OK; Cancel for "
     "`PowerModeForm`; No for `RestartForm`), traced as `dialog.unseen` (`form`, `title`, `label1`, "
     "`button`) instead of `dialog.show`/`dialog.click`, and logged in one line; `answers` are not used. "
     "The progress window is shown as usual. The Windows builds ask the process's window station instead"},
    {"program", "signer", "(unsigned)",
     "linux: the path of a certificate (PEM or DER; a relative path is below the machine root) that stands "
     "for the Authenticode signature a Linux program cannot carry: the program is then signed by it and "
     "runs only a package signed with the same certificate (104 otherwise). Empty: an unsigned program, "
     "which checks a signed package against its own signer and runs an unsigned one with a warning. "
     "windows-sim reads the signature of its own exe, as the product does"},
    {"user", "desktop_shell", "yes",
     "`no`: the signed-in user's session has no desktop shell (no Explorer: a kiosk shell, a shell that "
     "ended), so the support pages of the BIOS and driver dialogs are not opened: the run logs one line with "
     "the address before the dialog and traces `shell.not_opened` at OK. Both sim builds; windows-sim "
     "otherwise asks Wine's own desktop shell (`explorer.exe /desktop`) and records the page it would open"},
    {"time", "scale", "1",
     "factor on every sleep (pacing, pauses, retry waits, stand-in durations), both sim builds; `0` = no "
     "waiting. Negative or not a number: `1`. Each sleep is also traced as `sleep` with the requested `ms`"},
    {"time", "timeout_scale", "1",
     "factor on every child-process time limit, both sim builds (`0.01` makes the flash step's 90 s 0.9 s); "
     "an infinite wait stays infinite"},
    {"time", "seed", "(clock)",
     "a non-negative integer makes the flash step's progress pacing repeat exactly"},
    {"processes", "no_process.", "0",
     "per program file name (case-insensitive, e.g. `vendorflash.exe`): the next N starts of that program "
     "return without a process (as `Process.Start` attaching to nothing); "
     "counts down"},
    {"processes", "output_fail.", "0",
     "per program file name: the next N runs of that program have their output pipe fail after all their "
     "output (a broken read); "
     "counts down. The program still starts and its output is read"},
    {"power", "ac_line", "1",
     "`0` offline, `1` online, `255` unknown (anything else reads as unknown); a comma list gives successive "
     "readings, the last one repeats"},
    {"pnp", "present", "yes", "no: no device list at all (as a missing [pnp] section)"},
    {"pnp", "device", "(none)",
     "repeatable, in WMI order: `HardWareID | DriverVersion`; an empty DriverVersion is reported without "
     "one"},
    {"pnp", "fail", "none", "`none`, `before_match` or `after_match`: the device search fails there"},
    {"nvapi", "present", "yes", "`no`: the driver library cannot be loaded"},
    {"nvapi", "initialize", "0", "status of NvAPI_Initialize"},
    {"nvapi", "enum", "0", "status of NvAPI_EnumPhysicalGPUs"},
    {"nvapi", "revision", "0x86040F00", "the VBIOS revision"},
    {"nvapi", "revision_status", "0", "status of NvAPI_GPU_GetVbiosRevision"},
    {"nvapi", "oem_revision", "0x01", "the OEM revision"},
    {"nvapi", "oem_revision_status", "0", "status of NvAPI_GPU_GetVbiosOEMRevision"},
    {"nvapi", "version_string", "86.04.0F.00.01", "the VBIOS version text"},
    {"nvapi", "version_string_status", "0", "status of NvAPI_GPU_GetVbiosVersionString"},
    {"amdvbflash", "version", "020.001.000.038.016233",
     "the VBIOS on the GPU, printed by `-ai` (empty: no \"Bios Version\" line); a completed `-fa` of an "
     "image holding `VBIOS_VERSION=<version>` writes it here"},
    {"amdvbflash", "ai_exit", "0", "exit code of `-ai`"},
    {"amdvbflash", "ai_hang", "no", "`yes`: `-ai` prints its output, then never exits"},
    {"amdvbflash", "flash_exit", "0", "exit code of `-fa`"},
    {"amdvbflash", "flash_seconds", "5", "how long `-fa` takes (scaled by `[time] scale`)"},
    {"amdvbflash", "flash_completes", "yes",
     "`no`: `-fa` exits 0 without \"Restart System To Complete VBIOS Update\""},
    {"amdvbflash", "flash_hang", "no", "`yes`: `-fa` never exits"},
    {"amdvbflash", "ai_extra_output", "0",
     "bytes of empty lines `-ai` prints before its \"Bios Version\" line (`512K`, `64M`, at most `4G`)"},
    {"amdvbflash", "flash_extra_output", "0",
     "the same for a completed `-fa`, before \"Restart System To Complete VBIOS Update\""},
    {"amdvbflash", "flash_replaces", "(none)",
     "repeatable, `<target> | <source>` (Windows paths): as `-fa` starts, the file `<source>` is copied over "
     "`<target>`, as a program of the user could swap a file of the packages folder during the flash"},
    {"devcon64", "install_exit", "0", "exit code of install"},
    {"devcon64", "install_hang", "no", "yes: install never exits"},
    {"devcon64", "remove_exit", "0", "exit code of remove"},
    {"devcon64", "remove_hang", "no", "yes: remove never exits"},
    {"devcon64", "install_replaces", "(none)",
     "repeatable, `<target> | <source>`: as `install` starts, `<source>` is copied over `<target>` (as "
     "`flash_replaces`)"},
    {"vendorflash", "exit", "0", "its exit code"},
    {"vendorflash", "seconds", "5", "how long it runs (scaled)"},
    {"vendorflash", "hang", "no", "`yes`: it never exits"},
    {"vendorflash", "helper", "no",
     "`yes`: it first starts a helper process of its own, which appends a line to `helper-vendorflash.txt` "
     "in the machine root every 50 ms until it is killed (a kill of the flash program must take it along)"},
    {"hid", "other", "(none)",
     "Repeatable. An unrelated HID interface path, listed before the dock controller, in this order. Its "
     "vendor and product ID come from `vid_XXXX` / `pid_XXXX` in the path; it describes itself as a mouse "
     "(usage page 1, usage 2, input reports of 5 bytes, no feature reports) and refuses feature reports with "
     "error 87, as Wine's virtual mouse and keyboard do"},
    {"hid", "locked", "(none)",
     "Repeatable. An interface the system holds exclusively (as Windows does with keyboards and mice): it "
     "opens without access rights for its attributes, but a read/write open fails with error 5"},
    {"dock", "present", "yes", "`no`: not on the HID bus"},
    {"dock", "path",
     "\\\\?\\hid#vid_6a3d&pid_1c58&mi_01#8&2f1e0a7&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
     "Its interface path"},
    {"dock", "feature_report_length", "300",
     "The feature report length it reports (0 to 65535). A send or fetch with a shorter buffer fails with "
     "error 87; a block write in a report shorter than 67 bytes is refused rather than stored half"},
    {"dock", "greeting", "accept", "`reject`: the greeting is refused, so the controller stays locked"},
    {"dock", "fail_sets", "0", "The next N feature sends fail with error 31 (counts down, written back)"},
    {"dock", "fail_gets", "0", "The next N feature fetches fail with error 31 (counts down, written back)"},
    {"dock", "writes_left", "(no limit)",
     "The controller stores only N more group writes, then refuses them (counts down, written back)"},
    {"dock", "block", "(erased)",
     "The block group (4PARTID, GEN, VBIOS: offsets 3 to 66 of the frames) as 128 hexadecimal digits; "
     "written back atomically after each block write. A short value is padded with 0xFF"},
    {"dock", "text", "",
     "The text group, e.g. `MB:A1;SN:B2;PRO:;PNUM:;`; written back atomically after each text write. A text "
     "that machine.ini could not keep as it is (blanks at an end, a `;` or `#` after a blank, control bytes) "
     "is written as `hex:` followed by its bytes in hexadecimal, and read back the same way"},
    {"acpi", "present", "yes", "`no`: opening `\\\\.\\ZELACPI` fails with error 2"},
    {"acpi", "dsts", "0x00010003", "What DSTS(0x0006005B) answers as output argument 0; 0x00010004 is Gen4"},
    {"acpi", "dsts_args", "1",
     "Output arguments in the DSTS reply (0 = an empty reply; the further ones are integers 0)"},
    {"acpi", "devs_reply", "1",
     "What DEVS(0x0006005B, 4) answers. A reply of 1 also sets `dsts` to 0x00010004 (written back)"},
    {"acpi", "devs_reply_bytes", "4", "Bytes in the DEVS reply (0 to 1024)"},
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
