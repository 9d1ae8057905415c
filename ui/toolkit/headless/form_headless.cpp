// The headless toolkit: forms held in memory. Showing one writes it to the
// simulated machine's trace, and the simulated user (machine.ini [user]
// answers), a person at a terminal or the form's safe button answers it.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>

#include "platform/system.h"
#include "simulated/machine.h"
#include "ui/toolkit/desktop_visibility.h"
#include "ui/toolkit/form.h"
#include "ui/toolkit/headless/answers.h"
#include "ui/toolkit/headless/text_box.h"

namespace toolkit {

struct Form::Native {
  mutable std::mutex mutex;
  std::condition_variable closedChanged;
  bool closed = false;
  bool shown = false;
  bool minimized = false;
  bool interactive = false;
  bool progressSet = false;  // the bar shows a value someone set
  std::optional<int> tracedProgress;
  int clientWidth = 640;
  int clientHeight = 288;
};

namespace {

constexpr std::array<ButtonId, 3> kButtons{ButtonId::Button1, ButtonId::Button2, ButtonId::Button3};

bool isActionButton(const Button& button) { return button.Visible && !button.IsMinimize; }

bool hasActionButton(Form& form) {
  return std::any_of(kButtons.begin(), kButtons.end(),
                     [&](ButtonId id) { return isActionButton(form.button(id)); });
}

void traceShow(Form& form) {
  std::string buttons = "{";
  for (ButtonId id : kButtons) {
    const Button& button = form.button(id);
    if (!isActionButton(button)) continue;
    if (buttons.size() > 1) buttons += ',';
    buttons += std::string("\"") + buttonName(id) + "\":\"" + simulated::jsonEscape(button.Text) + "\"";
  }
  buttons += "}";
  simulated::Trace("dialog.show")
      .str("form", form.className)
      .str("title", form.Text)
      .str("label1", form.label1.Text)
      .raw("buttons", buttons)
      .write();
}

void traceClick(const Form& form, const char* button) {
  simulated::Trace("dialog.click").str("form", form.className).str("button", button).write();
}

// Called with the form's mutex held, once shown: each value the bar shows
// appears in the trace once, in order.
void traceProgressLocked(Form& form) {
  Form::Native& native = *form.native;
  const int value = form.progressBar1.Value;
  if (!native.shown || !native.progressSet || native.tracedProgress == value) return;
  native.tracedProgress = value;
  simulated::Trace("progress").num("value", value).write();
  if (native.interactive) platform::writeStandardOutput("  " + headless::drawProgress(value) + "\n");
}

// What a person at the terminal presses; nullopt = the system's close command.
std::optional<ButtonId> askAtTerminal(Form& form) {
  std::string choices;
  for (ButtonId id : kButtons) {
    if (form.button(id).Visible) choices += std::to_string(static_cast<int>(id)) + "/";
  }
  const std::string safe = std::to_string(static_cast<int>(form.safeButton));
  for (;;) {
    platform::writeStandardOutput("Press a button (" + choices + "c = close; Enter = " + safe + "): ");
    std::string line;
    if (!std::getline(std::cin, line)) {
      // End of input: nobody is left to ask, so behave as an unattended run.
      form.native->interactive = false;
      platform::writeStandardOutput("\n");
      return form.safeButton;
    }
    line.erase(std::remove_if(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\r'; }),
               line.end());
    if (line.empty()) return form.safeButton;
    if (line == "c" || line == "C" || line == "close") return std::nullopt;
    if (line.size() == 1 && line[0] >= '1' && line[0] <= '3') {
      const auto id = static_cast<ButtonId>(line[0] - '0');
      if (form.button(id).Visible) return id;
    }
  }
}

void press(Form& form, ButtonId id) {
  Button& button = form.button(id);
  traceClick(form, buttonName(id));
  if (button.IsMinimize) {
    form.Minimize();
  } else {
    form.DoClick(id);
  }
}

void waitUntilClosed(Form& form) {
  std::unique_lock lock(form.native->mutex);
  form.native->closedChanged.wait(lock, [&] { return form.native->closed; });
}

}  // namespace

void EnableVisualStyles() {}

Form::Form(std::string name) : className(std::move(name)), native(std::make_unique<Native>()) {}

Form::~Form() = default;

void Form::Close() {
  {
    std::lock_guard lock(native->mutex);
    native->closed = true;
  }
  native->closedChanged.notify_all();
}

bool Form::IsClosed() const {
  std::lock_guard lock(native->mutex);
  return native->closed;
}

void Form::SetProgress(int value) {
  std::lock_guard lock(native->mutex);
  progressBar1.Value = std::clamp(value, 0, 100);
  native->progressSet = true;
  traceProgressLocked(*this);
}

void Form::Minimize() {
  std::lock_guard lock(native->mutex);
  native->minimized = true;
}

bool Form::IsMinimized() const {
  std::lock_guard lock(native->mutex);
  return native->minimized;
}

void Form::SetClientSize(int width, int height) {
  std::lock_guard lock(native->mutex);
  native->clientWidth = width;
  native->clientHeight = height;
}

bool Run(Form& form) {
  if (form.IsClosed()) return false;
  if (AnswerIfUnseen(form)) return true;
  form.native->interactive = isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
  form.DoLoad();
  // The load step may already have started a thread that sets progress; its
  // values reach the trace only after the dialog itself.
  traceShow(form);
  if (form.native->interactive) platform::writeStandardOutput("\n" + headless::drawTextBox(form));
  {
    std::lock_guard lock(form.native->mutex);
    form.native->shown = true;
    traceProgressLocked(form);
  }
  form.DoShown();

  if (!hasActionButton(form)) {
    waitUntilClosed(form);
    return true;
  }
  bool pressedSafeButton = false;
  while (!form.IsClosed()) {
    const headless::Answer answer = headless::takeAnswer(form.className);
    if (answer.kind == headless::Answer::Kind::Close) {
      traceClick(form, "close");
      form.Close();
    } else if (answer.kind == headless::Answer::Kind::Click) {
      if (!form.button(answer.button).Visible) {
        std::cerr << "[user] answers: " << form.className << ":" << buttonName(answer.button)
                  << " dropped: the dialog shows no such button\n";
        continue;
      }
      press(form, answer.button);
    } else if (form.native->interactive) {
      const std::optional<ButtonId> choice = askAtTerminal(form);
      if (choice) {
        press(form, *choice);
      } else {
        traceClick(form, "close");
        form.Close();
      }
    } else if (!pressedSafeButton && isActionButton(form.button(form.safeButton))) {
      pressedSafeButton = true;
      press(form, form.safeButton);
    } else {
      // The safe button did not end the dialog (or there is none): nobody
      // else will, so close it rather than wait forever.
      traceClick(form, "close");
      form.Close();
    }
  }
  return true;
}

}  // namespace toolkit
