#include <algorithm>
#include <mutex>

#include "platform/system.h"
#include "ui/dialog_common.h"
#include "ui/dialog_text.h"
#include "ui/dialogs.h"

namespace OvVBiosInstaller {

std::atomic<int32_t> InstallingForm::progress{0};

namespace {

constexpr uint32_t kPollMs = 500;
constexpr int32_t kCloseNow = -1;

// The one progress window of the run, so that its owner can close it from
// another thread. A close asked for before the window exists is remembered
// and honoured as soon as it does.
struct OpenWindow {
  std::mutex mutex;
  InstallingForm* form = nullptr;
  bool closeRequested = false;
};

OpenWindow& openWindow() {
  static OpenWindow window;
  return window;
}

}  // namespace

InstallingForm::InstallingForm() : Form("InstallingForm") {
  Text = kDialogTitle;
  TopMost = false;
  label1.bounds = {20, 20, 600, 155};
  label1.TabIndex = 0;
  progressBar1.Visible = true;
  progressBar1.TabIndex = 1;
  makeMinimizeButton(button2, 7);
}

InstallingForm::~InstallingForm() {
  stop_ = true;
  if (listener_.joinable()) listener_.join();
}

void InstallingForm::OnLoad() {
  if (!listener_.joinable()) listener_ = std::thread([this] { listen(); });
  label1.Text = text::installingFormText(currentDialogLanguage()).message;
}

void InstallingForm::OnClick(toolkit::ButtonId) {}

std::string InstallingForm::OnQueryEndSession() {
  // The language as it is when Windows asks, each time it asks.
  return std::string(text::installingFormText(currentDialogLanguage()).shutdownBlockReason);
}

void InstallingForm::OnPowerBroadcast() { platform::writeStandardOutput("WM_POWERBROADCAST\n"); }

// Each pass reads `progress` once and uses only that reading, so a value
// that changes meanwhile is seen on the next pass, never half-used.
void InstallingForm::listen() {
  int32_t value = progress.load();
  while (value != kCloseNow) {
    const int shown = std::clamp(value, 0, 100);
    SetProgress(shown);
    toolkit::PollDelay(kPollMs);
    if (stop_) return;
    if (shown == 100) break;
    value = progress.load();
  }
  toolkit::PollDelay(kPollMs);
  if (stop_) return;
  platform::writeStandardOutput("Closing InstallingForm \n");
  Close();
}

void ThreadInstallingFormTask() {
  InstallingForm form;
  OpenWindow& window = openWindow();
  {
    std::lock_guard lock(window.mutex);
    if (window.closeRequested) {
      form.Close();
    } else {
      window.form = &form;
    }
  }
  toolkit::Run(form);
  std::lock_guard lock(window.mutex);
  if (window.form == &form) window.form = nullptr;
}

ProgressWindowThread::~ProgressWindowThread() { stop(); }

void ProgressWindowThread::start() {
  if (thread_.joinable()) return;  // one progress window at a time
  {
    OpenWindow& window = openWindow();
    std::lock_guard lock(window.mutex);
    window.closeRequested = false;
  }
  thread_ = std::thread(ThreadInstallingFormTask);
}

void ProgressWindowThread::stop() {
  {
    OpenWindow& window = openWindow();
    std::lock_guard lock(window.mutex);
    window.closeRequested = true;
    if (window.form != nullptr) window.form->Close();
  }
  if (thread_.joinable()) thread_.join();
  // The window, if there was one, is gone: a later window starts afresh.
  OpenWindow& window = openWindow();
  std::lock_guard lock(window.mutex);
  window.closeRequested = false;
}

}  // namespace OvVBiosInstaller
