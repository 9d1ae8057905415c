// The installer's dialogs. Inputs and outputs are class-wide members that the
// installation sequence writes before a dialog is shown and reads after it
// has closed; a dialog is shown by running the toolkit's message loop on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "ui/toolkit/form.h"

namespace OvVBiosInstaller {

class RestartForm : public toolkit::Form {
 public:
  RestartForm();
  static bool restart;  // false: the VBIOS was already current, nothing to restart for
 protected:
  void OnLoad() override;
  void OnClick(toolkit::ButtonId button) override;
};

class SupportSiteForm : public toolkit::Form {
 public:
  SupportSiteForm();

 protected:
  void OnLoad() override;
  void OnClick(toolkit::ButtonId button) override;
  void OnAnsweredUnseen() override;  // closes without opening the page
};

class PowerModeForm : public toolkit::Form {
 public:
  PowerModeForm();
  static int32_t results;  // 0: the user stopped the installation
 protected:
  void OnLoad() override;
  void OnClick(toolkit::ButtonId button) override;
};

class BiosCheckForm : public toolkit::Form {
 public:
  BiosCheckForm();
  static std::string version;  // the required BIOS version as the package wrote it
 protected:
  void OnLoad() override;
  void OnClick(toolkit::ButtonId button) override;
  void OnAnsweredUnseen() override;  // closes without opening the page
};

class InstallFail : public toolkit::Form {
 public:
  InstallFail();
  static int32_t errorNum;
  static std::string VbType;

 protected:
  void OnLoad() override;
  void OnClick(toolkit::ButtonId button) override;
};

class InstallingForm : public toolkit::Form {
 public:
  InstallingForm();
  ~InstallingForm() override;
  // Written only by the flash step: 0, 10 ... 100, or -1 = close now. Atomic
  // so that the listener thread's reads are well defined; no lock is needed.
  static std::atomic<int32_t> progress;

 protected:
  void OnLoad() override;
  void OnClick(toolkit::ButtonId button) override;
  std::string OnQueryEndSession() override;  // refuses, naming the installation as the reason
  void OnPowerBroadcast() override;

 private:
  void listen();  // polls `progress` every 500 ms and closes the window at 100 or -1
  std::thread listener_;
  std::atomic<bool> stop_{false};
};

// Creates an InstallingForm, runs its message loop until the window closes and
// releases it.
void ThreadInstallingFormTask();

// Owns the progress window's thread. The window closes itself when progress
// reaches 100 or -1; the destructor closes a window that is still open (the
// failure paths leave it) and joins the thread, so nothing outlives main.
class ProgressWindowThread {
 public:
  ProgressWindowThread() = default;
  ~ProgressWindowThread();
  ProgressWindowThread(const ProgressWindowThread&) = delete;
  ProgressWindowThread& operator=(const ProgressWindowThread&) = delete;
  void start();
  void stop();  // close the window if open and join; safe to call twice
 private:
  std::thread thread_;
};

}  // namespace OvVBiosInstaller
