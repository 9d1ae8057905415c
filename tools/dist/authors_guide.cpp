// Prints PACKAGE-AUTHORS.md from the tables the installer and the checker
// run on, so the guide cannot drift from the code.
#include <cstdio>
#include <string>

#include "common/result_code_table.h"
#include "common/result_codes.h"
#include "package/config_line.h"
#include "package/package_manifest.h"
#include "package/vbios_configs.h"
#include "tools/package_check/package_check.h"

namespace {

std::string cell(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '|' ? std::string("\\|") : std::string(1, c);
  return out;
}

}  // namespace

int main() {
  std::string out =
      "# Making a package for OvVBiosInstaller\n\n"
      "The installer takes no arguments: it reads the `packages` folder beside `OvVBiosInstaller.exe`.\n\n"
      "## Files in the packages folder\n\n"
      "| file | needed by |\n|---|---|\n"
      "| `configs.txt` | every package: the settings below |\n"
      "| the ROM images named by `VBiosROM_n` | AMD packages (`VBiosType` AMD or KRAMD) |\n"
      "| the flash programs named by `VBiosROM_n` | NVIDIA packages (every other `VBiosType`) |\n"
      "| `amdvbflash.exe` (AMD's flash tool) | AMD packages |\n"
      "| `devcon64.exe` (Microsoft's device console) | AMD packages |\n"
      "| `amdtools.inf` (the flash tool's driver) | AMD packages |\n"
      "| `package.sha256` and `package.sha256.p7s` (the package's signature) | a signed installer: see "
      "Signing a package |\n\n"
      "The example layout in `packages/` has no vendor tools: add AMD's and Microsoft's own before "
      "shipping, then sign the package (a signed example stops being signed once a file is added).\n\n"
      "Before it reads anything, the installer copies the whole packages folder, subfolders included, to a "
      "folder only administrators can reach, and uses nothing but that copy. The folder may hold at most " +
      std::to_string(kMaxPackageEntries) + " files and folders and " + std::to_string(kMaxPackageBytes) +
      " bytes, with folders nested at most " + std::to_string(kMaxPackageDepth) +
      " deep, and no link, junction or other reparse point anywhere; otherwise the installer stops with "
      "102.\n\n"
      "## configs.txt\n\n"
      "One `key=value` per line, read as UTF-8 (a byte-order mark selects UTF-16 or UTF-32). A line ends at "
      "CR LF, "
      "LF or CR. A line without `=` is ignored; a comment line that holds `=` is a setting to the installer. "
      "Keys are case-sensitive and neither key nor value is trimmed; text after a second `=` is dropped. The "
      "last "
      "line wins. The file may hold at most " +
      std::to_string(kMaxConfigFileBytes) + " bytes and up to " + std::to_string(kMaxRomEntries) +
      " entries, numbered from 0 (`VBiosHWID_0`); the first entry number without a hardware ID ends the "
      "list. "
      "A line whose key is a notebook's board product name (`BaseBoardProduct`) sets that board's minimum "
      "BIOS "
      "build, like `BiosVersion`.\n\n"
      "| key | form | what it does |\n|---|---|---|\n";
  for (const package::ConfigKey& key : package::kConfigKeys)
    out += "| `" + std::string(key.name) + (key.numbered ? "n" : "") + "` | " + cell(key.form) + " | " +
           cell(key.effect) + " |\n";
  out +=
      "\nMandatory: `ReleaseVersion`, `VBiosType` and entry 0's `VBiosHWID_0`, `VBiosVersion_0`, "
      "`VBiosROM_0`; "
      "without one the installer stops with 103.\n\n"
      "## Checking a package: OvVBiosPackageCheck\n\n"
      "`OvVBiosPackageCheck.exe <packages folder> [--json] [--tools DIR]` reads the folder with the "
      "installer's own "
      "rules, shows what it makes of every line of `configs.txt`, and lists findings with file, line and "
      "severity. "
      "The tools must be in the package, as on a notebook; `--tools DIR` takes the ones it lacks from `DIR` "
      "(the "
      "simulated stand-ins) and says so. Exit code 0: clean (notes at most), 1: warnings, 2: errors.\n\n"
      "| finding | severity | what it means |\n|---|---|---|\n";
  for (const kit::CheckRule& rule : kit::kCheckRules)
    out += "| `" + std::string(rule.id) + "` | " + std::string(kit::severityName(rule.severity)) + " | " +
           cell(rule.what) + " |\n";
  out +=
      "\n## Signing a package: OvVBiosPackageSign\n\n"
      "A signed `OvVBiosInstaller.exe` runs a package only when the certificate that signed the program "
      "also signed the package, and nothing in it changed since. Otherwise it stops with " +
      std::to_string(result::kPackageNotSigned) +
      " before it reads anything of the package, and its log names the reason (`ERROR package signature: "
      "...`) and the file or signer. An unsigned installer (a test build) runs an unsigned package with a "
      "warning in its log, and checks a signed one against the package's own signer.\n\n"
      "Sign after the last change, vendor tools included, with the PKCS#12 file (`.pfx`/`.p12`) of the "
      "certificate the program is signed with:\n\n"
      "```\n"
      "set OVVB_SIGN_PASSWORD=...      (or leave it unset and type the password when asked)\n"
      "OvVBiosPackageSign.exe <packages folder> --pkcs12 publisher.pfx\n"
      "```\n\n"
      "It lists every file of the folder, subfolders included, with its SHA-256 in `package.sha256`, signs "
      "that file into `package.sha256.p7s`, replacing both when they are there, prints each line and the "
      "signer's subject, and then checks the folder as the installer signed with that certificate would. "
      "The password is never an argument. A link anywhere in the folder, or a folder over the copy's "
      "bounds, is not signed: the installer refuses it (102) either way. The Linux build has the same "
      "program (`build/linux/bin/OvVBiosPackageSign`); `make dist` signs the zip's example with the "
      "certificate that signs its programs.\n\n"
      "The two files, for tools of your own:\n\n"
      "- `package.sha256`: UTF-8 text, one line per file except the two signature files, in any order: 64 "
      "hex digits of the file's SHA-256, two blanks, its path relative to the packages folder with `/` "
      "between folder names. It is what `sha256sum` prints, so `sha256sum -c package.sha256` run in the "
      "folder checks a package, and `find . -type f ! -name 'package.sha256*' | sed 's#^\\./##' | xargs "
      "sha256sum > package.sha256` makes one. Also accepted: CR LF line ends, a last line without its "
      "line end, upper-case hex digits and `sha256sum`'s binary marker (` *` for the two blanks). Refused, "
      "with the line's number: a byte-order mark, a blank line, a line over " +
      std::to_string(package::kMaxManifestLineBytes) +
      " bytes, a path with `\\`, a `.` or `..` or empty folder name, a leading `/`, a character Windows "
      "names cannot hold, a name ending in a blank or a dot, text that is not UTF-8, the same path twice "
      "(letter case ignored, as Windows does), a line for one of the two signature files, more than " +
      std::to_string(package::kMaxManifestLines) +
      " lines, and no line at all.\n"
      "- `package.sha256.p7s`: a DER-encoded CMS (PKCS #7) SignedData over the exact bytes of "
      "`package.sha256`, detached, SHA-256, one signer carrying its own certificate and no other (no "
      "chain). `openssl cms -sign -binary -md sha256 -outform DER -in package.sha256 -signer cert.pem "
      "-inkey key.pem -out package.sha256.p7s` makes one.\n\n"
      "`OvVBiosPackageCheck` verifies a signature that is there (`signed` names the signer; "
      "`signature-broken` says what does not hold) and warns when there is none (`signature-missing`); "
      "`OvVBiosRehearse --signer cert.pem` rehearses the installer signed with that certificate.\n";
  out +=
      "\n## Result codes\n\n"
      "The exit code, the registry value `State` and the log's last line (`state N`) are always the same "
      "code.\n\n"
      "| code | set by | meaning | exit | what to do |\n|---|---|---|---|---|\n";
  for (const result::CodeInfo& info : result::codeTable())
    out += "| " + std::to_string(info.code) + " | " + cell(info.setBy) + " | " + cell(info.meaning) + " | " +
           std::string(result::exitPathName(info.exit)) + " | " + cell(info.advice) + " |\n";
  // Both parts failed: the meaning and the advice name each.
  const result::Explanation closing = result::explain(
      result::kClosingStepsBase + result::dock_ec::kGenFailed + result::dock_link::kSwitchFailed);
  out += "| 3000 + e + w | closing steps | " + cell(closing.meaning) + " (e: dock controller step " +
         std::to_string(result::dock_ec::kGenFailed) + "-" + std::to_string(result::dock_ec::kVbiosFailed) +
         ", w: platform link step " + std::to_string(result::dock_link::kNoDevice) + " or " +
         std::to_string(result::dock_link::kSwitchFailed) + ") | " +
         std::string(result::exitPathName(closing.exit)) + " | " + cell(closing.advice) + " |\n";
  out +=
      "\n## Detecting success in a deployment tool\n\n"
      "- Exit code 0 (flashed) or 1 (already up to date) is success; 3001-3025 means the VBIOS step "
      "succeeded "
      "but a closing step did not. Every other code is a failure.\n"
      "- `HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS`: `State` (DWORD) holds the same code, `ToolVersion` the "
      "installer's version and, after a completed run, `DisplayVersion` the package's `ReleaseVersion`.\n"
      "- The log `C:\\Windows\\Log\\OrvoVbInst.txt` keeps every run; `OvVBiosLogExplain.exe <log>` explains "
      "each.\n\n"
      "## Rehearsing a package on Linux\n\n"
      "From a source checkout: `make build-linux`, then `build/linux/bin/OvVBiosRehearse <packages folder> "
      "[--tools DIR] [--jobs N] [--report out.html]` runs the installer on simulated machines made from the "
      "package (older, equal and newer VBIOS, driver and BIOS requirements, battery, a failing and a hanging "
      "flash tool, no matching GPU, no dock) and prints one row per machine, then per kind of GPU how many "
      "machines were flashed, up to date or stopped. Simulated stand-ins play the vendor tools the package "
      "holds; a tool it lacks is missing on the machines too, as on a notebook, unless `--tools DIR` names a "
      "folder of stand-ins (`build/linux/bin`), which the notes then say. `--machines DIR` uses machine "
      "folders of your own (see docs/simulated-machine.md); each must end flashed or up to date. It exits 0 "
      "only when every machine ended as made for and at least one was flashed. `--signer cert.pem` rehearses "
      "the installer as signed with that certificate: a package it did not sign, or one changed since, ends "
      "with " +
      std::to_string(result::kPackageNotSigned) + " on every machine, as on the notebooks.\n";
  std::fputs(out.c_str(), stdout);
  return 0;
}
