#include "tools/dist/deployment_guide.h"

#include <map>

#include "common/log.h"
#include "common/result_code_table.h"
#include "common/result_codes.h"

namespace kit {

namespace {

// The closing steps fold two small results into one code; explain() knows
// which sums a run can give.
constexpr int32_t kLastClosingCode =
    result::kClosingStepsBase + result::dock_ec::kVbiosFailed + result::dock_link::kSwitchFailed;

DeployAs deployAs(int32_t code) {
  switch (code) {
    case result::kSuccess:
      return DeployAs::SoftReboot;
    case result::kUpToDate:
      return DeployAs::Success;
    case result::kPowerStop:
      return DeployAs::Retry;
  }
  // The 3000 range too: the VBIOS step ended well, but the dock controller
  // or the PCIe link was not set; calling that success would hide it.
  return DeployAs::Failure;
}

struct Kind {
  DeployAs as;
  const char* intune;
  const char* configMgr;
  const char* why;
};

constexpr Kind kKinds[] = {
    {DeployAs::Success, "Success", "Success",
     "The VBIOS on the dock's GPU is already at the package's version: nothing was flashed, nothing needs a "
     "restart. Neither tool counts 1 as success unless it is entered."},
    {DeployAs::SoftReboot, "Soft reboot", "Soft Reboot",
     "The VBIOS was flashed and the closing steps worked; the new VBIOS is active after the next restart. "
     "The "
     "installer never restarts the notebook by itself in a run no one sees, so the restart is the tool's to "
     "schedule."},
    {DeployAs::Retry, "Retry", "Fast Retry",
     "The notebook was on battery, and a VBIOS is never flashed on battery without a person agreeing. "
     "Nothing "
     "changed; a later run on AC power succeeds."},
    {DeployAs::Failure, "Failed", "Failure",
     "Someone has to look: the package, the notebook or the dock needs attention (the meaning says what). "
     "Codes 3001 to 3025 also belong here: the VBIOS step ended well (flashed, or already up to date), but "
     "the "
     "dock controller's configuration or the host PCIe link was not set; the new VBIOS still needs a "
     "restart, "
     "and a second run after it finds the VBIOS up to date and tries the closing steps again."},
};

const Kind& kindOf(DeployAs as) {
  for (const Kind& kind : kKinds) {
    if (kind.as == as) return kind;
  }
  return kKinds[3];
}

// Markdown would take a backslash (\\.\ZELACPI) or a bar as its own.
std::string cell(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '|' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string joinCodes(const std::vector<int32_t>& codes) {
  std::string out;
  for (int32_t code : codes) out += (out.empty() ? "" : ", ") + std::to_string(code);
  return out;
}

}  // namespace

std::vector<DeployedCode> deployedCodes() {
  std::vector<DeployedCode> out;
  for (const result::CodeInfo& info : result::codeTable()) {
    if (info.exit != result::ExitPath::NotFinal) out.push_back({info.code, deployAs(info.code)});
  }
  for (int32_t code = result::kClosingStepsBase + 1; code <= kLastClosingCode; ++code) {
    if (result::explain(code).known) out.push_back({code, deployAs(code)});
  }
  // What the entry point returns when a failure escapes every operation.
  if (result::explain(-1).known) out.push_back({-1, deployAs(-1)});
  return out;
}

std::string deploymentGuide() {
  const std::vector<DeployedCode> codes = deployedCodes();
  const std::string stateKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS";
  std::string out =
      "# Deploying OvVBiosInstaller with Intune or Configuration Manager\n\n"
      "`OvVBiosInstaller.exe` takes no arguments: it updates the VBIOS of the Kestrel dock's GPU from the "
      "`packages` folder beside it and needs administrator rights (its manifest asks for them). Deploy the "
      "program and its `packages` folder together, as one folder:\n\n"
      "| setting | value |\n|---|---|\n"
      "| install command | `OvVBiosInstaller.exe` |\n"
      "| uninstall command | none is needed (a VBIOS is not uninstalled); where one is required: "
      "`cmd.exe /c exit 0` |\n"
      "| install behaviour (Intune) / run as (Configuration Manager) | System |\n"
      "| restart behaviour | determined by return codes |\n"
      "| maximum run time | 30 minutes is ample: the flash tool is killed after 90 seconds |\n\n"
      "The notebook should be on AC power and the dock attached and switched on.\n\n"
      "## Return codes\n\n"
      "The exit code, the registry value `State` and the log's last state line (`state N`) are always the "
      "same code. Enter every code below as a return code of the app (Intune: Win32 app, Program > Return "
      "codes; Configuration Manager: deployment type, Return Codes):\n\n"
      "| Intune | Configuration Manager | codes | why |\n|---|---|---|---|\n";
  for (const Kind& kind : kKinds) {
    std::vector<int32_t> these;
    for (const DeployedCode& c : codes) {
      if (c.as == kind.as) these.push_back(c.code);
    }
    out += std::string("| ") + kind.intune + " | " + kind.configMgr + " | " + joinCodes(these) + " | " +
           cell(kind.why) + " |\n";
  }
  out +=
      "\nBoth tools come with entries of their own: 0 success, 1707 success, 3010 soft reboot, 1641 hard "
      "reboot and 1618 retry. ";
  struct Default {
    int32_t code;
    const char* intune;
  };
  for (const Default& d : {Default{0, "Success"}, Default{1707, "Success"}, Default{3010, "Soft reboot"},
                           Default{1641, "Hard reboot"}, Default{1618, "Retry"}}) {
    const result::Explanation known = result::explain(d.code);
    const Kind& kind = kindOf(deployAs(d.code));
    if (!known.known || kind.intune == std::string_view(d.intune)) continue;
    out += "**Change " + std::to_string(d.code) + " to " + kind.intune +
           "** (Configuration Manager: " + kind.configMgr + "): to this program it means \"" +
           cell(known.meaning) + "\". ";
  }
  out +=
      "The others are codes this program never ends with; they may stay.\n\n"
      "Every code, with what it means and what to do:\n\n"
      "| code | enter as | meaning | what to do |\n|---|---|---|---|\n";
  for (const DeployedCode& c : codes) {
    const result::Explanation e = result::explain(c.code);
    out += "| " + std::to_string(c.code) + " | " + kindOf(c.as).intune + " | " + cell(e.meaning) + " | " +
           cell(e.advice) + " |\n";
  }
  const std::string refused = std::to_string(result::kPackageNotSigned);
  out +=
      "\n## A signed installer needs a signed package\n\n"
      "The published `OvVBiosInstaller.exe` is signed by its publisher, and it runs a package only when "
      "the same certificate signed the package: `packages\\package.sha256` lists the SHA-256 of every "
      "file of the folder and `packages\\package.sha256.p7s` is its signature. The installer checks its "
      "own copy of the package before it reads any of it; a package without a signature, signed by "
      "anyone else, or with a file added, removed or changed since it was signed ends the run with " +
      refused +
      " (enter it as failed). Nothing of such a package is run or flashed, and nothing on the notebook "
      "changes. The log says why in a line `ERROR package signature: <reason>` and names the file or "
      "the signer in the next.\n\n"
      "- Deploy the packages folder exactly as the publisher shipped it: add no file (not even a note), "
      "remove none, change none. A package that must change goes back to its publisher to be signed "
      "again.\n"
      "- A signed installer takes no package signed by another certificate, so there is no key to manage "
      "on the notebooks and nothing a user can switch off.\n"
      "- An unsigned installer is a test build: it runs an unsigned package and writes `WARNING neither "
      "the program nor the package is signed; the package was not checked` to the log. Do not deploy "
      "one.\n";
  out +=
      "\n## Detecting the installed package\n\n"
      "Every completed run (codes 0, 1 and 3001 to 3025) writes the package's release version (its "
      "`ReleaseVersion` without a leading V, e.g. `1.2.0` for `V1.2.0`) to `DisplayVersion` under `" +
      stateKey +
      "`, in the 64-bit registry view. A run that stops earlier leaves the value of an earlier run in "
      "place.\n\n"
      "- Intune, registry rule: key path `" +
      stateKey +
      "`, value name `DisplayVersion`, detection method *String comparison*, operator *Equals*, value: the "
      "package's release version; *Associated with a 32-bit app on 64-bit clients*: No.\n"
      "- Configuration Manager, detection method *Registry*: hive `HKEY_LOCAL_MACHINE`, key "
      "`SOFTWARE\\Orvo\\VBIOS`, value `DisplayVersion`, data type String, *Equals* the package's release "
      "version; leave *associated with a 32-bit application on 64-bit systems* cleared.\n\n"
      "The script below checks the same value and also that the last run ended well, so that a run whose "
      "closing steps failed (3001 to 3025, which also writes `DisplayVersion`) is not taken as installed and "
      "is tried again. Intune takes it as a custom detection script (run it as a 64-bit process); "
      "Configuration Manager as a script detection method.\n\n"
      "```powershell\n"
      "# OvVBiosInstaller: detected when the last run recorded this package's version and ended well.\n"
      "$expected = '1.2.0'   # the package's ReleaseVersion without a leading V\n"
      "$record = Get-ItemProperty -Path 'Registry::" +
      stateKey +
      "' -ErrorAction SilentlyContinue\n"
      "if ($record -and [string]$record.DisplayVersion -eq $expected -and @(";
  std::string ended;
  for (const DeployedCode& c : codes) {
    if (c.as == DeployAs::Success || c.as == DeployAs::SoftReboot)
      ended += (ended.empty() ? "" : ", ") + std::to_string(c.code);
  }
  out +=
      ended +
      ") -contains [int]$record.State) {\n"
      "  Write-Output \"OvVBiosInstaller $expected detected\"\n"
      "  exit 0\n"
      "}\n"
      "exit 1\n"
      "```\n\n"
      "`ToolVersion` in the same key names the installer that wrote the record.\n\n"
      "## When no one can see the installer's dialogs\n\n"
      "Deployment tools run programs as the system account on a window station no user sees. The installer "
      "notices this (its window station is not visible) and never waits there for a click:\n\n"
      "- No dialog is shown; each one's safe answer is taken at once, and the log says so in one line, e.g. "
      "`InstallFail taken as answered (button1) because no one could see it`; for the dialog that "
      "closes a run it comes before the state line, which stays the run's last line.\n"
      "- The outcome dialogs (failure, driver update, BIOS requirement, done) are taken as OK. The driver "
      "update and BIOS requirement dialogs open no web page, since no one would see the browser.\n"
      "- The power dialog is taken as Cancel: on battery the run stops with 901 (enter it as retry).\n"
      "- The restart question is taken as No: the notebook is not restarted by the installer; code 0 asks "
      "the deployment tool for the restart.\n"
      "- The progress window is still created and still refuses a log-off or shut-down while the VBIOS is "
      "being written; the flash and its time-outs run as usual.\n\n"
      "Everything else, the exit code, the log and the registry record included, is as in a run a user "
      "watches. Where the visibility cannot be read, the installer behaves as if a user were there.\n\n"
      "## What to collect for support\n\n"
      "- The log `" +
      std::string(kLogPath) +
      "`: it keeps every run, one block each, ending with the run's state line. "
      "`OvVBiosLogExplain.exe OrvoVbInst.txt` explains each run: its steps, its code and what to do. "
      "A run that found the log held by another program (one that opened it to read without letting writers "
      "in) is in `OrvoVbInst-<yyyyMMdd-HHmmss>.txt` beside it, whose first line says so; collect those too.\n"
      "- The state record: `reg export \"" +
      stateKey +
      "\" OrvoVBIOS.reg /y /reg:64` (`State`, `ToolVersion`, `DisplayVersion`).\n"
      "- The package's `configs.txt` and the exit code the deployment tool reported.\n\n"
      "## Exit codes seen on Linux\n\n"
      "Package authors rehearse packages with the Linux build on simulated machines. A posix exit status "
      "keeps only the low 8 bits of a code (0 to 255), so larger codes show as other numbers; the whole "
      "code is in the log's state line, the registry's `State` and the trace's `installer.exit` event.\n\n"
      "| code | exit status |\n|---|---|\n";
  std::map<int32_t, std::vector<int32_t>> byStatus;
  for (const DeployedCode& c : codes) {
    byStatus[c.code & 0xFF].push_back(c.code);
    if (c.code > 0xFF || c.code < 0)
      out += "| " + std::to_string(c.code) + " | " + std::to_string(c.code & 0xFF) + " |\n";
  }
  std::string shared;
  for (const auto& [status, these] : byStatus) {
    if (these.size() > 1)
      shared += (shared.empty() ? "" : "; ") + std::to_string(status) + " is " + joinCodes(these);
  }
  if (!shared.empty())
    out += "\nSome statuses stand for more than one code (" + shared + "): read the log.\n";
  return out;
}

}  // namespace kit
