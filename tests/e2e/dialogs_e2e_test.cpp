// Every exit's dialog through a whole run on a German notebook ([user] lcid
// 1031): the texts and captions as the user reads them, what the simulated
// user's clicks set off (web page, restart request), in the order it happened,
// and the exit code. The German texts are written out here on purpose rather
// than taken from the dialogs' tables, so that a wrong table row is caught.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/result_code_table.h"
#include "tests/e2e/exit_expectations.h"
#include "tests/e2e/installer_run.h"

namespace fs = std::filesystem;
using e2e::Ini;
using e2e::InstallerRun;
using e2e::kAmdConfigs;

namespace {

// --- Reading the trace -------------------------------------------------------

using Event = simulated::TraceEvent;

// What the user saw and did, one line per event, in order: "show Form",
// "click Form:button", "unseen Form:button" (taken as answered), "open <address> as <who>", "not opened
// <address>", "restart <flags> <reserved> <method>".
std::vector<std::string> story(const std::vector<Event>& events) {
  std::vector<std::string> lines;
  for (const Event& e : events) {
    const std::string& name = e.event;
    if (name == "dialog.show")
      lines.push_back("show " + e.get("form"));
    else if (name == "dialog.click")
      lines.push_back("click " + e.get("form") + ":" + e.get("button"));
    else if (name == "dialog.unseen")
      lines.push_back("unseen " + e.get("form") + ":" + e.get("button"));
    else if (name == "shell.open")
      lines.push_back("open " + e.get("target") + " as " + e.get("as"));
    else if (name == "shell.not_opened")
      lines.push_back("not opened " + e.get("url"));
    else if (name == "system.restart")
      lines.push_back("restart " + e.get("flags") + " " + e.get("reserved") + " " + e.get("method"));
  }
  return lines;
}

// --- The German texts --------------------------------------------------------

struct Dialog {
  std::string form;
  std::string title;
  std::string label1;
  std::map<std::string, std::string> buttons;  // visible action buttons
};

const std::string kTitle = "Orvo VBIOS Installer";
const std::string kFailText = "\n\nDie VBIOS-Aktualisierung kann nicht durchgeführt werden. ";
const Dialog kInstalling{
    "InstallingForm",
    kTitle,
    "VBIOS wird installiert...\n\nSchalten Sie Ihren PC nicht aus, ziehen Sie das Netzteil nicht ab, trennen "
    "Sie keine Geräte und passen Sie während des Installationsvorgangs keine Einstellungen an.",
    {}};

Dialog installFail(const std::string& text) {
  return {"InstallFail", "InstallFail", text, {{"button1", "OK"}}};
}

const Dialog kSupportSite{"SupportSiteForm",
                          kTitle,
                          "Warnung\n\nBitte rufen Sie die offizielle Webseite auf, um den neuesten Treiber "
                          "herunterzuladen und zu installieren, damit Sie fortfahren können.",
                          {{"button1", "OK"}}};

const Dialog kBiosCheck0310{
    "BiosCheckForm",
    kTitle,
    "\n\nFür die VBIOS-Aktualisierung ist BIOS-Version V0310 oder höher erforderlich.\n"
    "Bitte aktualisieren Sie das BIOS unter \"Windows Update\" im \"Software Update\" "
    "von Tessel, oder laden Sie das \"BIOS Update\"-Paket direkt von der "
    "Orvo-Support-Seite herunter.",
    {{"button1", "OK"}}};

const Dialog kPowerMode{
    "PowerModeForm",
    kTitle,
    "Warnung\n\nDas Netzteil muss vor der Aktualisierung von VBIOS angeschlossen werden.\n[Erneut versuchen] "
    "Nachdem das Netzteil angeschlossen wurde.\n[Abbrechen] So brechen Sie den VBIOS-Aktualisierungsvorgang "
    "ab.",
    {{"button1", "Erneut versuchen"}, {"button2", "Abbrechen"}}};

const Dialog kRestart{"RestartForm",
                      kTitle,
                      "Achtung\n\nDas Update ist abgeschlossen, bitte starten Sie das System neu.",
                      {{"button1", "Nein"}, {"button3", "Ja"}}};
const Dialog kUpToDate{"RestartForm", kTitle, "\n\nDas Update ist abgeschlossen.", {{"button1", "OK"}}};

const std::string kSite = std::string(OVVB_GLOBAL_SUPPORT_ROOT) + "de/";

// The notebook's BIOS key with this board model name, or none when empty.
std::string biosKey(const std::string& board) {
  return "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\r\n" +
         (board.empty() ? std::string() : "\"BaseBoardProduct\"=\"" + board + "\"\r\n") +
         "\"BIOSVersion\"=\"KR15A.308\"\r\n";
}

// --- The exits -----------------------------------------------------------------

struct ExitCase {
  const char* name;
  int code;
  const char* answers;
  std::function<void(InstallerRun&, Ini&, std::string&)> arrange;
  std::vector<Dialog> dialogs;  // every dialog shown, in order
  std::vector<std::string> story;
};

void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

void noArrangement(InstallerRun&, Ini&, std::string&) {}

const ExitCase kExits[] = {
    {"FailureShowsItsCode",
     101,
     "InstallFail:button1",
     [](InstallerRun& r, Ini&, std::string& cfg) {
       fs::remove(r.packages / "configs.txt");
       cfg.clear();
     },
     {installFail(kFailText + "(101)")},
     {"show InstallFail", "click InstallFail:button1"}},
    {"DockGpuMissingAsksToConnectTheDock",
     202,
     "",
     [](InstallerRun&, Ini& m, std::string&) { m.removeSection("pnp"); },
     {installFail(
         "\n\nDie VBIOS-Aktualisierung kann nicht durchgeführt werden. Stellen Sie bitte sicher, dass das "
         "[Kestrel] mit dem [KR15A] verbunden ist und ordnungsgemäß aktiviert wurde.")},
     {"show InstallFail", "click InstallFail:button1"}},
    {"DockGpuMissingOnAnUnknownBoardShowsTheCode",
     202,
     "",
     [](InstallerRun& r, Ini& m, std::string&) {
       m.removeSection("pnp");
       r.writeRegistry(biosKey(""));
     },
     {installFail(kFailText + "(202)")},
     {"show InstallFail", "click InstallFail:button1"}},
    {"FlashFailsBehindTheProgressWindow",
     903,
     "",
     [](InstallerRun&, Ini& m, std::string&) { m.set("amdvbflash", "flash_exit", "3"); },
     {kInstalling, installFail(kFailText + "(903)")},
     {"show InstallingForm", "show InstallFail", "click InstallFail:button1"}},
    // The version as written in the package, leading zero and all.
    {"OldBiosOpensTheGermanBiosPage",
     301,
     "BiosCheckForm:button1",
     [](InstallerRun&, Ini&, std::string& cfg) { cfg += "BiosVersion=0310\n"; },
     {kBiosCheck0310},
     {"show BiosCheckForm", "click BiosCheckForm:button1",
      "open " + kSite + "supportonly/KR15A/Helpdesk_bios/ as user"}},
    // The board model name goes into the address as read, whatever it holds.
    {"OldDriverOpensTheGermanDownloadPage",
     402,
     "SupportSiteForm:button1",
     [](InstallerRun& r, Ini&, std::string& cfg) {
       cfg += "VGAVersion=32.0.0.0\n";
       r.writeRegistry(biosKey("KR 15&A #2%ü"));
     },
     {kSupportSite},
     {"show SupportSiteForm", "click SupportSiteForm:button1",
      "open " + kSite + "supportonly/KR 15&A #2%ü/Helpdesk_download/ as user"}},
    {"OldDriverOnAnUnknownBoardOpensTheGermanSite",
     402,
     "SupportSiteForm:button1",
     [](InstallerRun& r, Ini&, std::string& cfg) {
       cfg += "VGAVersion=32.0.0.0\n";
       r.writeRegistry(biosKey(""));
     },
     {kSupportSite},
     {"show SupportSiteForm", "click SupportSiteForm:button1", "open " + kSite + " as user"}},
    // No desktop shell to open a page as the user: none is opened, the log
    // names it before the state line, and the dialog still closes.
    {"OldBiosWithoutADesktopShellOpensNoPage",
     301,
     "BiosCheckForm:button1",
     [](InstallerRun&, Ini& m, std::string& cfg) {
       cfg += "BiosVersion=0310\n";
       m.set("user", "desktop_shell", "no");
     },
     {kBiosCheck0310},
     {"show BiosCheckForm", "click BiosCheckForm:button1",
      "not opened " + kSite + "supportonly/KR15A/Helpdesk_bios/"}},
    {"OldDriverWithoutADesktopShellOpensNoPage",
     402,
     "SupportSiteForm:button1",
     [](InstallerRun&, Ini& m, std::string& cfg) {
       cfg += "VGAVersion=32.0.0.0\n";
       m.set("user", "desktop_shell", "no");
     },
     {kSupportSite},
     {"show SupportSiteForm", "click SupportSiteForm:button1",
      "not opened " + kSite + "supportonly/KR15A/Helpdesk_download/"}},
    // Retry while still on battery keeps the dialog; Cancel stops the run.
    {"BatteryRetryThenCancelStops",
     901,
     "PowerModeForm:button1 PowerModeForm:button2",
     [](InstallerRun&, Ini& m, std::string&) { m.set("power", "ac_line", "0"); },
     {kPowerMode},
     {"show PowerModeForm", "click PowerModeForm:button1", "click PowerModeForm:button2"}},
    // The adapter plugged in before Retry: the flash goes ahead.
    {"BatteryThenPluggedInRetryFlashes",
     0,
     "PowerModeForm:button1 RestartForm:button1",
     [](InstallerRun&, Ini& m, std::string&) { m.set("power", "ac_line", "0,1"); },
     {kPowerMode, kInstalling, kRestart},
     {"show PowerModeForm", "click PowerModeForm:button1", "show InstallingForm", "show RestartForm",
      "click RestartForm:button1"}},
    // Yes twice asks twice and leaves the dialog open; No closes it.
    {"FlashedThenRestartAskedTwice",
     0,
     "RestartForm:button3 RestartForm:button3 RestartForm:button1",
     noArrangement,
     {kInstalling, kRestart},
     {"show InstallingForm", "show RestartForm", "click RestartForm:button3", "restart 2 0 Win32Shutdown",
      "click RestartForm:button3", "restart 2 0 Win32Shutdown", "click RestartForm:button1"}},
    {"AlreadyUpToDateOnlySaysSo",
     1,
     "",
     [](InstallerRun&, Ini& m, std::string&) { m.set("amdvbflash", "version", "020.001.000.038.016300"); },
     {kUpToDate},
     {"show RestartForm", "click RestartForm:button1"}},
};

// The exit dialog a row's run ends with, "" when it ends with none.
std::string exitFormOf(const std::vector<std::string>& story) {
  for (auto line = story.rbegin(); line != story.rend(); ++line)
    for (const char* form : e2e::kExitForms)
      if (line->find(std::string(" ") + form) != std::string::npos) return form;
  return "";
}

// Which dialog a code ends with is the result code table's to say; a row
// written for another exit has nothing left to check, and says why.
std::string writtenForAnotherExit(int code, const std::vector<std::string>& story) {
  if (exitFormOf(story) == e2e::exitForm(result::explain(code).exit)) return "";
  return "the result code table no longer ends " + std::to_string(code) + " with " + exitFormOf(story);
}

class GermanExit : public testing::TestWithParam<ExitCase> {};

TEST_P(GermanExit, ShowsItsDialogInGermanAndDoesWhatTheClicksAsk) {
  const ExitCase& c = GetParam();
  if (const std::string why = writtenForAnotherExit(c.code, c.story); !why.empty()) GTEST_SKIP() << why;
  InstallerRun r;
  r.usePackage("amd-dock");
  Ini machine = e2e::amdMachine().set("user", "lcid", "1031").set("user", "answers", c.answers);
  std::string configs = kAmdConfigs;
  c.arrange(r, machine, configs);
  r.writeMachine(machine);
  if (!configs.empty()) r.writeConfigs(configs);

  EXPECT_EQ(r.run(), c.code) << r.output;
  const std::vector<Event> events = r.events("");
  EXPECT_EQ(story(events), c.story);
  std::vector<Dialog> shown;
  for (const Event& e : events) {
    if (e.event == "dialog.show")
      shown.push_back({e.get("form"), e.get("title"), e.get("label1"), e.members("buttons")});
  }
  ASSERT_EQ(shown.size(), c.dialogs.size());
  for (size_t i = 0; i < shown.size(); ++i) {
    SCOPED_TRACE(c.dialogs[i].form);
    EXPECT_EQ(shown[i].form, c.dialogs[i].form);
    EXPECT_EQ(shown[i].title, c.dialogs[i].title);
    EXPECT_EQ(shown[i].label1, c.dialogs[i].label1);
    EXPECT_EQ(shown[i].buttons, c.dialogs[i].buttons);
  }
  // Every scripted click was used up.
  EXPECT_EQ(r.machineIni().find("Form:button"), std::string::npos);
  // A page not opened is in the log with its address, and the state line
  // stays the run's last.
  const std::vector<std::string> log = r.logMessages();
  for (const Event& e : events) {
    if (e.event != "shell.not_opened") continue;
    EXPECT_FALSE(e.get("reason").empty());
    const std::string said =
        "WARNING the support page " + e.get("url") + " cannot be opened: " + e.get("reason");
    EXPECT_NE(std::find(log.begin(), log.end(), said), log.end()) << said;
  }
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "state " + std::to_string(c.code));
}

INSTANTIATE_TEST_SUITE_P(Lcid1031, GermanExit, testing::ValuesIn(kExits),
                         [](const testing::TestParamInfo<ExitCase>& info) { return info.param.name; });

// --- A session whose desktop no one can see ----------------------------------
// As under a deployment tool's system account: no dialog waits for a click.
// Each is taken as answered with its safe button, says so in one log line,
// and the run otherwise ends exactly as an unattended run on a visible desktop.

struct UnseenCase {
  const char* name;
  int code;
  std::function<void(Ini&, std::string&)> arrange;
  std::vector<std::string> story;
};

void PrintTo(const UnseenCase& c, std::ostream* os) { *os << c.name; }

const UnseenCase kUnseen[] = {
    {"FailureEndsWithItsCode",
     103,
     [](Ini&, std::string& cfg) { cfg = "VBiosType=KRAMD\n"; },
     {"unseen InstallFail:button1"}},
    {"BatteryStopsWith901",
     901,
     [](Ini& m, std::string&) { m.set("power", "ac_line", "0"); },
     {"unseen PowerModeForm:button2"}},
    // The progress window needs no answer and is still there during the flash.
    {"AcPowerFlashesAndDoesNotRestart",
     0,
     [](Ini&, std::string&) {},
     {"show InstallingForm", "unseen RestartForm:button1"}},
    {"UpToDate",
     1,
     [](Ini& m, std::string&) { m.set("amdvbflash", "version", "020.001.000.038.016300"); },
     {"unseen RestartForm:button1"}},
    // Nobody would see the web page: no browser is started.
    {"OldBiosOpensNoPage",
     301,
     [](Ini&, std::string& cfg) { cfg += "BiosVersion=0310\n"; },
     {"unseen BiosCheckForm:button1"}},
    {"OldDriverOpensNoPage",
     402,
     [](Ini&, std::string& cfg) { cfg += "VGAVersion=32.0.0.0\n"; },
     {"unseen SupportSiteForm:button1"}},
};

class UnseenDesktop : public testing::TestWithParam<UnseenCase> {};

// The log's messages with the one line a dialog answered unseen adds left
// out, and the run's own temporary folder named alike. How often the flash
// step saw its tool still running depends on timing, not on the desktop.
std::vector<std::string> comparableLog(const InstallerRun& r, bool dropUnseen) {
  std::vector<std::string> messages = r.logMessages();
  std::erase(messages, "VbFlashProcess is running ");
  if (dropUnseen)
    std::erase_if(messages, [](const std::string& m) { return m.ends_with(" because no one could see it"); });
  const std::string top = r.top.filename().string();
  for (std::string& m : messages) {
    for (size_t at = m.find(top); at != std::string::npos; at = m.find(top, at))
      m.replace(at, top.size(), "TOP");
  }
  return messages;
}

TEST_P(UnseenDesktop, TakesTheSafeAnswerAndEndsAsAnUnattendedRun) {
  const UnseenCase& c = GetParam();
  if (const std::string why = writtenForAnotherExit(c.code, c.story); !why.empty()) GTEST_SKIP() << why;
  auto runOnce = [&](InstallerRun& r, bool visible) {
    r.usePackage("amd-dock");
    Ini machine = e2e::amdMachine();
    if (!visible) machine.set("user", "desktop_visible", "no");
    std::string configs = kAmdConfigs;
    c.arrange(machine, configs);
    r.writeMachine(machine);
    r.writeConfigs(configs);
    return r.run();
  };
  InstallerRun unseen("program");
  InstallerRun seen("program");
  ASSERT_EQ(runOnce(unseen, false), c.code) << unseen.output;
  ASSERT_EQ(runOnce(seen, true), c.code) << seen.output;

  EXPECT_EQ(story(unseen.events("")), c.story);
  std::vector<std::string> answered;
  for (const std::string& m : unseen.logMessages()) {
    if (m.ends_with(" because no one could see it")) answered.push_back(m);
  }
  const std::string form = c.story.back().substr(7, c.story.back().find(':') - 7);
  const std::string button = c.story.back().substr(c.story.back().find(':') + 1);
  EXPECT_EQ(answered, std::vector<std::string>{form + " taken as answered (" + button +
                                               ") because no one could see it"});
  EXPECT_EQ(comparableLog(unseen, true), comparableLog(seen, false));
  ASSERT_GE(unseen.logMessages().size(), 2u);
  EXPECT_EQ(unseen.logMessages().back(), "state " + std::to_string(c.code))
      << "the state line stays the run's last line";
  for (const char* name : {"State", "ToolVersion", "DisplayVersion"})
    EXPECT_EQ(unseen.stateValue(name), seen.stateValue(name)) << name;
}

INSTANTIATE_TEST_SUITE_P(NoVisibleDesktop, UnseenDesktop, testing::ValuesIn(kUnseen),
                         [](const testing::TestParamInfo<UnseenCase>& info) { return info.param.name; });

}  // namespace
