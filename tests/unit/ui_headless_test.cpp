// The dialogs on the headless toolkit: what each shows, how the simulated
// user's answers are taken, what each button leaves in the class-wide
// members, and the progress window's listener.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "simulated/machine.h"
#include "tests/unit/test_machine.h"
#include "ui/dialogs.h"
#include "ui/toolkit/form.h"
#include "ui/toolkit/headless/answers.h"
#include "ui/toolkit/headless/text_box.h"

namespace {

using OvVBiosInstaller::BiosCheckForm;
using OvVBiosInstaller::InstallFail;
using OvVBiosInstaller::InstallingForm;
using OvVBiosInstaller::PowerModeForm;
using OvVBiosInstaller::ProgressWindowThread;
using OvVBiosInstaller::RestartForm;
using OvVBiosInstaller::SupportSiteForm;
using testing_machine::kFastTime;
using testing_machine::TestMachine;
using toolkit::ButtonId;
using toolkit::headless::Answer;

constexpr const char* kBiosKey = "[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS]\n";

std::vector<std::string> eventsOf(const TestMachine& machine, const std::string& event) {
  std::vector<std::string> lines;
  for (const std::string& line : machine.traceLines()) {
    if (line.find("\"event\":\"" + event + "\"") != std::string::npos) lines.push_back(line);
  }
  return lines;
}

// `"name":"text"` as the trace writes it.
std::string field(const std::string& name, const std::string& text) {
  return "\"" + name + "\":\"" + simulated::jsonEscape(text) + "\"";
}

std::string remainingAnswers() { return simulated::MachineIni::load().get("user", "answers", ""); }

// Every test starts from the class-wide values of program start, with no one
// at a terminal to ask.
class HeadlessDialogs : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr); }

  void SetUp() override {
    machineWith("");
    RestartForm::restart = true;
    PowerModeForm::results = 1;
    BiosCheckForm::version = "1";
    InstallFail::errorNum = 0;
    InstallFail::VbType = "NV";
    InstallingForm::progress = 0;
  }

  void machineWith(const std::string& extra) { machine.writeMachineIni(std::string(kFastTime) + extra); }

  TestMachine machine;
};

// --- Answer tokens ---------------------------------------------------------

TEST(AnswerTokens, SplitAtAnyRunOfBlanks) {
  EXPECT_EQ(toolkit::headless::splitAnswers("  A:button1\tB:close \n C:button3  "),
            (std::vector<std::string>{"A:button1", "B:close", "C:button3"}));
  EXPECT_TRUE(toolkit::headless::splitAnswers("   ").empty());
}

TEST(AnswerTokens, ParseFormAndAction) {
  struct Case {
    const char* token;
    const char* form;
    bool valid;
    Answer::Kind kind;
    ButtonId button;
  };
  const Case cases[] = {
      {"PowerModeForm:button2", "PowerModeForm", true, Answer::Kind::Click, ButtonId::Button2},
      {"RestartForm:Button3", "RestartForm", true, Answer::Kind::Click, ButtonId::Button3},
      {"InstallFail:close", "InstallFail", true, Answer::Kind::Close, ButtonId::Button1},
      {"InstallFail:CLOSE", "InstallFail", true, Answer::Kind::Close, ButtonId::Button1},
      {"InstallFail:button4", "InstallFail", false, Answer::Kind::None, ButtonId::Button1},
      {"InstallFail:button", "InstallFail", false, Answer::Kind::None, ButtonId::Button1},
      {"InstallFail:", "InstallFail", false, Answer::Kind::None, ButtonId::Button1},
      {"button1", "", false, Answer::Kind::None, ButtonId::Button1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.token);
    const auto parsed = toolkit::headless::parseAnswerToken(c.token);
    EXPECT_EQ(parsed.form, c.form);
    EXPECT_EQ(parsed.valid, c.valid);
    EXPECT_EQ(parsed.answer.kind, c.kind);
    if (c.kind == Answer::Kind::Click) {
      EXPECT_EQ(parsed.answer.button, c.button);
    }
  }
}

TEST_F(HeadlessDialogs, AnswersAreTakenInOrderMalformedOnesDroppedAndTheRestWrittenBack) {
  machineWith(
      "[user]\nanswers = garbage PowerModeForm:button9  PowerModeForm:button1  PowerModeForm:close "
      "RestartForm:button1 ; a comment\n");
  Answer first = toolkit::headless::takeAnswer("PowerModeForm");
  EXPECT_EQ(first.kind, Answer::Kind::Click);
  EXPECT_EQ(first.button, ButtonId::Button1);
  EXPECT_EQ(remainingAnswers(), "PowerModeForm:close RestartForm:button1");

  EXPECT_EQ(toolkit::headless::takeAnswer("PowerModeForm").kind, Answer::Kind::Close);
  // The next token is RestartForm's: it waits for that dialog.
  EXPECT_EQ(toolkit::headless::takeAnswer("PowerModeForm").kind, Answer::Kind::None);
  EXPECT_EQ(remainingAnswers(), "RestartForm:button1");
  EXPECT_EQ(toolkit::headless::takeAnswer("RestartForm").kind, Answer::Kind::Click);
  EXPECT_EQ(remainingAnswers(), "");
  EXPECT_EQ(toolkit::headless::takeAnswer("RestartForm").kind, Answer::Kind::None);
}

// --- Unattended defaults and the close command -------------------------------

struct DefaultCase {
  const char* form;
  std::function<std::unique_ptr<toolkit::Form>()> make;
  const char* button;  // pressed without an answer
};

TEST_F(HeadlessDialogs, WithoutAnAnswerTheSafeButtonIsPressedSeenOrUnseen) {
  const DefaultCase cases[] = {
      {"InstallFail", [] { return std::make_unique<InstallFail>(); }, "button1"},
      {"RestartForm", [] { return std::make_unique<RestartForm>(); }, "button1"},
      {"SupportSiteForm", [] { return std::make_unique<SupportSiteForm>(); }, "button1"},
      {"BiosCheckForm", [] { return std::make_unique<BiosCheckForm>(); }, "button1"},
      {"PowerModeForm", [] { return std::make_unique<PowerModeForm>(); }, "button2"},
  };
  machineWith("[power]\nac_line = 1\n");
  for (const DefaultCase& c : cases) {
    SCOPED_TRACE(c.form);
    auto form = c.make();
    toolkit::Run(*form);
    EXPECT_TRUE(form->IsClosed());
    const auto clicks = eventsOf(machine, "dialog.click");
    ASSERT_FALSE(clicks.empty());
    EXPECT_EQ(clicks.back(), std::string("{\"event\":\"dialog.click\",\"form\":\"") + c.form +
                                 "\",\"button\":\"" + c.button + "\"}");
  }
  EXPECT_EQ(PowerModeForm::results, 0) << "Cancel is PowerModeForm's safe button";

  // Where no one can see the desktop the same button is taken without
  // showing the form, and the BIOS and driver pages are not opened for nobody.
  machineWith("[power]\nac_line = 1\n[user]\ndesktop_visible = no\n");
  PowerModeForm::results = 1;
  const size_t shown = eventsOf(machine, "dialog.show").size();
  const size_t clicked = eventsOf(machine, "dialog.click").size();
  const size_t opened = eventsOf(machine, "shell.open").size();
  for (const DefaultCase& c : cases) {
    SCOPED_TRACE(c.form);
    auto form = c.make();
    EXPECT_TRUE(toolkit::Run(*form));
    EXPECT_TRUE(form->IsClosed());
    EXPECT_TRUE(form->answeredUnseen);
    const auto unseen = eventsOf(machine, "dialog.unseen");
    ASSERT_FALSE(unseen.empty());
    EXPECT_NE(unseen.back().find(std::string("\"form\":\"") + c.form + "\""), std::string::npos);
    EXPECT_TRUE(unseen.back().ends_with(std::string("\"button\":\"") + c.button + "\"}")) << unseen.back();
  }
  EXPECT_EQ(eventsOf(machine, "dialog.show").size(), shown);
  EXPECT_EQ(eventsOf(machine, "dialog.click").size(), clicked);
  EXPECT_EQ(eventsOf(machine, "shell.open").size(), opened);
  EXPECT_EQ(PowerModeForm::results, 0);
}

TEST_F(HeadlessDialogs, AClosedFormIsNotShownAgain) {
  InstallFail form;
  EXPECT_TRUE(toolkit::Run(form));
  EXPECT_FALSE(toolkit::Run(form)) << "the caller must learn that nobody saw it";
  EXPECT_EQ(eventsOf(machine, "dialog.show").size(), 1u);
}

// --- PowerModeForm ---------------------------------------------------------

TEST_F(HeadlessDialogs, PowerModeRetryCloseAndMinimise) {
  struct Case {
    const char* acLine;
    const char* answers;
    int32_t before, after;  // PowerModeForm::results; only a button writes it
    std::vector<std::string> clicks;
    int sleeps;  // -1: not counted
    bool minimised;
  };
  const Case cases[] = {
      // Close takes no button action: neither Retry's wait nor a result.
      {"1", "PowerModeForm:close", 1, 1, {"close"}, 0, false},
      // Retry on mains goes on after its one-second pause.
      {"1", "PowerModeForm:button3 PowerModeForm:button1", 7, 1, {"button3", "button1"}, 1, true},
      // Retry without mains keeps the dialog open.
      {"0",
       "PowerModeForm:button1 PowerModeForm:button1 PowerModeForm:close",
       1,
       1,
       {"button1", "button1", "close"},
       -1,
       false},
      {"255",
       "PowerModeForm:button1 PowerModeForm:button1 PowerModeForm:close",
       1,
       1,
       {"button1", "button1", "close"},
       -1,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers + std::string(" on ") + c.acLine);
    std::remove((machine.root() / "trace.jsonl").c_str());
    machineWith(std::string("[power]\nac_line = ") + c.acLine + "\n[user]\nanswers = " + c.answers + "\n");
    PowerModeForm::results = c.before;
    PowerModeForm form;
    toolkit::Run(form);
    EXPECT_TRUE(form.IsClosed());
    EXPECT_EQ(PowerModeForm::results, c.after);
    EXPECT_EQ(form.IsMinimized(), c.minimised);
    std::vector<std::string> clicks;
    for (const std::string& button : c.clicks)
      clicks.push_back(R"({"event":"dialog.click","form":"PowerModeForm","button":")" + button + "\"}");
    EXPECT_EQ(eventsOf(machine, "dialog.click"), clicks);
    const auto sleeps = eventsOf(machine, "sleep");
    if (c.sleeps < 0) continue;
    ASSERT_EQ(sleeps.size(), static_cast<size_t>(c.sleeps));
    EXPECT_TRUE(sleeps.empty() || sleeps[0].find("\"ms\":1000") != std::string::npos) << sleeps[0];
  }
}

// --- What each dialog shows --------------------------------------------------

TEST_F(HeadlessDialogs, ShowEventNamesFormTitleLabelAndActionButtons) {
  InstallFail::errorNum = 101;
  {
    InstallFail form;
    toolkit::Run(form);
  }
  {
    PowerModeForm form;
    toolkit::Run(form);
  }
  {
    RestartForm form;
    toolkit::Run(form);
  }
  const auto shows = eventsOf(machine, "dialog.show");
  ASSERT_EQ(shows.size(), 3u);
  EXPECT_EQ(shows[0], "{\"event\":\"dialog.show\",\"form\":\"InstallFail\",\"title\":\"InstallFail\"," +
                          field("label1", "\n\nUnable to perform VBIOS Upgrade. (101)") +
                          ",\"buttons\":{\"button1\":\"OK\"}}");
  EXPECT_NE(shows[1].find("\"title\":\"Orvo VBIOS Installer\""), std::string::npos);
  EXPECT_NE(shows[1].find("\"buttons\":{\"button1\":\"Retry\",\"button2\":\"Cancel\"}"), std::string::npos);
  EXPECT_NE(shows[2].find(field("label1", "Attention\n\nUpdate completed, please restart the system.")),
            std::string::npos);
  EXPECT_NE(shows[2].find("\"buttons\":{\"button1\":\"No\",\"button3\":\"Yes\"}"), std::string::npos);
}

TEST_F(HeadlessDialogs, RestartYesDoesNotCloseAndOnlyNoEndsTheDialog) {
  machineWith("[user]\nanswers = RestartForm:button3 RestartForm:button3 RestartForm:button1\n");
  RestartForm form;
  toolkit::Run(form);
  EXPECT_EQ(eventsOf(machine, "dialog.click").size(), 3u);
  EXPECT_EQ(remainingAnswers(), "");
}

TEST_F(HeadlessDialogs, UpToDateRestartFormOffersOnlyOk) {
  RestartForm::restart = false;
  machineWith("[user]\nanswers = RestartForm:button3\n");
  RestartForm form;
  toolkit::Run(form);
  const auto shows = eventsOf(machine, "dialog.show");
  ASSERT_EQ(shows.size(), 1u);
  EXPECT_NE(shows[0].find(field("label1", "\n\nUpdate completed.") + ",\"buttons\":{\"button1\":\"OK\"}"),
            std::string::npos);
  // Yes is hidden, so the scripted Yes cannot be pressed: OK ends it.
  const auto clicks = eventsOf(machine, "dialog.click");
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_NE(clicks[0].find("\"button\":\"button1\""), std::string::npos);
}

TEST_F(HeadlessDialogs, BiosCheckShowsTheVersionExactlyAsConfigured) {
  BiosCheckForm::version = " 0312";
  BiosCheckForm form;
  toolkit::Run(form);
  EXPECT_EQ(
      form.label1.Text,
      "\n\nBIOS version V 0312 or higher is required for the VBIOS update.\nPlease update the BIOS from "
      "\"Windows Update\", \"Software Update\" of Tessel, or download the \"BIOS Update\" package from Orvo "
      "support site directly.");
}

TEST_F(HeadlessDialogs, FailureTextCarriesTheCodeOrTheDockConnectionRequest) {
  struct Case {
    int32_t code;
    const char* type;
    const char* board;  // nullptr: no BaseBoardProduct value
    const char* label;
  };
  const std::string connection =
      "\n\nUnable to perform VBIOS Upgrade. Please make sure the Kestrel is connected to the M16 and "
      "activated "
      "properly.";
  const Case cases[] = {
      {0, "NV", "M16", "\n\nUnable to perform VBIOS Upgrade. "},
      {101, "KRAMD", "M16", "\n\nUnable to perform VBIOS Upgrade. (101)"},
      {-1, "KRAMD", "M16", "\n\nUnable to perform VBIOS Upgrade. (-1)"},
      {202, "KRAMD", "M16", connection.c_str()},
      {202, "KRNV", "M16", connection.c_str()},
      {202, "KRAMD", nullptr, "\n\nUnable to perform VBIOS Upgrade. (202)"},
      {202, "kramd", "M16", "\n\nUnable to perform VBIOS Upgrade. (202)"},
      {202, "AMD", "M16", "\n\nUnable to perform VBIOS Upgrade. (202)"},
      {201, "KRNV", "M16", "\n\nUnable to perform VBIOS Upgrade. (201)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + " " + c.type + " " + (c.board ? c.board : "(none)"));
    machine.writeRegistry(std::string(kBiosKey) +
                          (c.board ? "\"BaseBoardProduct\"=\"" + std::string(c.board) + "\"\n"
                                   : "\"BIOSVersion\"=\"X1.308\"\n"));
    InstallFail::errorNum = c.code;
    InstallFail::VbType = c.type;
    InstallFail form;
    toolkit::Run(form);
    EXPECT_EQ(form.label1.Text, c.label);
  }
}

// --- Languages and the shell -------------------------------------------------

TEST_F(HeadlessDialogs, GermanFailureBiosPageAndTwoRestartRequests) {
  machineWith(
      "[user]\nlcid = 1031\nanswers = BiosCheckForm:button1 RestartForm:button3 RestartForm:button3 "
      "RestartForm:button1\n");
  machine.writeRegistry(std::string(kBiosKey) + "\"BaseBoardProduct\"=\"KR 15&A\"\n");
  InstallFail::errorNum = 101;
  {
    InstallFail form;
    toolkit::Run(form);
    EXPECT_EQ(form.label1.Text, "\n\nDie VBIOS-Aktualisierung kann nicht durchgeführt werden. (101)");
  }
  {
    BiosCheckForm form;
    toolkit::Run(form);
    EXPECT_TRUE(form.IsClosed());
  }
  const auto opened = eventsOf(machine, "shell.open");
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], "{\"event\":\"shell.open\"," +
                           field("target", std::string(OVVB_GLOBAL_SUPPORT_ROOT) +
                                               "de/supportonly/KR 15&A/Helpdesk_bios/") +
                           "," + field("as", "user") + "}");
  {
    RestartForm form;
    toolkit::Run(form);
    EXPECT_TRUE(form.IsClosed());
    EXPECT_EQ(form.button3.Text, "Ja");
  }
  const auto restarts = eventsOf(machine, "system.restart");
  ASSERT_EQ(restarts.size(), 2u);
  for (const std::string& line : restarts) {
    EXPECT_NE(line.find("\"flags\":2,\"reserved\":0"), std::string::npos) << line;
  }
}

TEST_F(HeadlessDialogs, LanguageIsChosenAfreshAtLoadAndAtClick) {
  machineWith("[user]\nlcid = 1041\n");
  machine.writeRegistry(std::string(kBiosKey) + "\"BIOSVersion\"=\"X1.308\"\n");
  PowerModeForm power;
  power.DoLoad();
  EXPECT_EQ(power.button1.FontSizePt, 12.0f);
  machineWith("[user]\nlcid = 1031\n");
  power.DoLoad();
  EXPECT_EQ(power.button1.FontSizePt, 10.0f);
  EXPECT_EQ(power.button1.Text, "Erneut versuchen");

  SupportSiteForm site;
  site.DoLoad();
  machineWith("[user]\nlcid = 1053\n");  // the culture changed while it was shown
  site.DoClick(ButtonId::Button1);
  const auto opened = eventsOf(machine, "shell.open");
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_NE(opened[0].find(field("target", std::string(OVVB_GLOBAL_SUPPORT_ROOT) + "se/")), std::string::npos)
      << "no board model: the Swedish site itself";
}

// --- The progress window -----------------------------------------------------

TEST_F(HeadlessDialogs, ProgressWindowClosesAtOneHundredAfterShowingItAndAtMinusOne) {
  InstallingForm::progress = 100;
  InstallingForm form;
  toolkit::Run(form);  // returns only because the listener closed the window
  EXPECT_TRUE(form.IsClosed());
  const auto shows = eventsOf(machine, "dialog.show");
  ASSERT_EQ(shows.size(), 1u);
  EXPECT_NE(shows[0].find("\"form\":\"InstallingForm\""), std::string::npos);
  EXPECT_NE(shows[0].find("\"buttons\":{}"), std::string::npos);
  const auto progress = eventsOf(machine, "progress");
  ASSERT_EQ(progress.size(), 1u);
  EXPECT_EQ(progress[0], "{\"event\":\"progress\",\"value\":100}");
  // The listener starts during the load, yet the bar's values follow the show.
  const auto lines = machine.traceLines();
  EXPECT_LT(std::find(lines.begin(), lines.end(), shows[0]),
            std::find(lines.begin(), lines.end(), progress[0]));
  EXPECT_EQ(eventsOf(machine, "sleep").size(), 2u) << "500 ms with the bar at 100, 500 ms before closing";

  std::remove((machine.root() / "trace.jsonl").c_str());
  InstallingForm::progress = -1;
  InstallingForm failed;
  toolkit::Run(failed);
  EXPECT_TRUE(failed.IsClosed());
  EXPECT_TRUE(eventsOf(machine, "progress").empty()) << "-1 closes it and is never shown";
}

TEST_F(HeadlessDialogs, ProgressWindowTracesEachNewValueOnceInOrder) {
  ProgressWindowThread window;
  window.start();
  for (int value = 0; value <= 100; value += 10) {
    // Wait (really) until the listener has shown the value before the next.
    const std::string expected = "{\"event\":\"progress\",\"value\":" + std::to_string(value) + "}";
    InstallingForm::progress = value;
    for (int i = 0; i < 5000; ++i) {
      const auto shown = eventsOf(machine, "progress");
      if (!shown.empty() && shown.back() == expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  window.stop();
  std::vector<std::string> values;
  for (const std::string& line : eventsOf(machine, "progress")) {
    values.push_back(line.substr(line.find("\"value\":") + 8));
  }
  EXPECT_EQ(values, (std::vector<std::string>{"0}", "10}", "20}", "30}", "40}", "50}", "60}", "70}", "80}",
                                              "90}", "100}"}));
}

TEST_F(HeadlessDialogs, StoppingTheProgressWindowClosesItWhateverTheProgress) {
  InstallingForm::progress = 50;  // a failed flash leaves it short of 100
  {
    ProgressWindowThread window;
    window.start();
    for (int i = 0; i < 5000 && eventsOf(machine, "progress").empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    window.stop();
    window.stop();
  }
  EXPECT_EQ(eventsOf(machine, "dialog.show").size(), 1u);
  const auto progress = eventsOf(machine, "progress");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), "{\"event\":\"progress\",\"value\":50}");

  // Asked to stop at once, perhaps before its window exists: the window
  // closes as soon as it opens and stop() does not hang.
  for (int i = 0; i < 20; ++i) {
    ProgressWindowThread early;
    early.start();
    early.stop();
  }
  EXPECT_LE(eventsOf(machine, "dialog.show").size(), 21u);
}

TEST_F(HeadlessDialogs, ProgressWindowRefusesEndOfSessionNamingTheInstallation) {
  InstallingForm form;
  EXPECT_EQ(form.DoQueryEndSession(), "Installing the VBIOS...");
  InstallFail other;
  EXPECT_EQ(other.DoQueryEndSession(), "") << "other dialogs let Windows end the session";
}

// --- The terminal drawing ----------------------------------------------------

// A watcher polling through PollDelay on a clock that does not run must not
// take a core from the children it waits for; the request is still traced.
TEST(PollDelay, AtScaleZeroStillYieldsARealMillisecond) {
  TestMachine machine;
  machine.writeMachineIni("[time]\nscale = 0\n");
  const auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) toolkit::PollDelay(500);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, std::chrono::milliseconds(5));
  EXPECT_LT(took, std::chrono::seconds(1));
  EXPECT_EQ(eventsOf(machine, "sleep").size(), 5u);
}

TEST(TextBox, WrapsAtBlanksKeepsEmptyLinesAndCutsLongWords) {
  EXPECT_EQ(toolkit::headless::wrapText("\n\nab cd ef", 5),
            (std::vector<std::string>{"", "", "ab cd", "ef"}));
  EXPECT_EQ(toolkit::headless::wrapText("abcdefgh", 3), (std::vector<std::string>{"abc", "def", "gh"}));
  // Wide characters take two columns each.
  EXPECT_EQ(toolkit::headless::wrapText("更新完成。", 4), (std::vector<std::string>{"更新", "完成", "。"}));
  EXPECT_EQ(toolkit::headless::displayWidth("Aé更"), 4u);
}

TEST_F(HeadlessDialogs, TextBoxShowsButtonsLeftToRightWithTheirDigits) {
  RestartForm form;
  form.DoLoad();
  const std::string box = toolkit::headless::drawTextBox(form);
  EXPECT_NE(box.find("[3: Yes]   [1: No]"), std::string::npos) << box;
  EXPECT_NE(box.find("Orvo VBIOS Installer"), std::string::npos);
  EXPECT_NE(box.find("[2: _]"), std::string::npos);
  EXPECT_NE(box.find("| Update completed, please restart the system."), std::string::npos);
}

}  // namespace
