// The project's small window toolkit: a Form with a message label, up to
// three buttons and an optional progress bar, shown by a per-thread message
// loop. Backends: win32 (real windows) and headless (memory + trace).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ui/toolkit/drag.h"

namespace toolkit {

enum class ButtonId { Button1 = 1, Button2 = 2, Button3 = 3 };

// Position and size in client pixels; no automatic scaling anywhere.
struct Bounds {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Every text is drawn in the one dialog face, bold; only the size varies.
inline constexpr float kDefaultFontSizePt = 12.0f;

struct Label {
  std::string Text;
  Bounds bounds{20, 20, 600, 200};
  float FontSizePt = kDefaultFontSizePt;
  // true: the label takes the size of its text at bounds.x/y and never
  // wraps; false: the text wraps at word boundaries within bounds.
  bool AutoSize = false;
  int TabIndex = 0;
};

struct Button {
  std::string Text;
  bool Visible = false;
  bool IsMinimize = false;  // the minimise glyph button; clicking it minimises
  Bounds bounds{445, 213, 175, 45};
  float FontSizePt = kDefaultFontSizePt;
  int TabIndex = 0;  // keyboard focus order: lower first
};

struct ProgressBar {
  bool Visible = false;
  int Value = 0;  // 0..100
  Bounds bounds{20, 225, 600, 25};
  int TabIndex = 1;
};

// Every text is drawn with GDI, so there is no other text rendering to choose.
void EnableVisualStyles();

class Form {
 public:
  explicit Form(std::string className);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  std::string className;  // "InstallFail", "RestartForm", ...
  std::string Text;       // window title (names the task-bar entry)
  Label label1;
  Button button1;
  Button button2;
  Button button3;
  ProgressBar progressBar1;
  bool TopMost = true;  // at creation; the activation on first display makes every form topmost
  // The button an unattended run presses: the one that ends the dialog
  // without taking a risk (OK, No, Cancel).
  ButtonId safeButton = ButtonId::Button1;
  // A mouse button held down on the background or on label1 moves the form.
  Drag drag;
  // Set by Run when no one could see the form (the process's desktop is not
  // visible, as under a deployment tool's system account): it was never
  // shown, and its unseen answer (OnAnsweredUnseen) was taken at once.
  bool answeredUnseen = false;

  void Close();  // ends the form's message loop; any thread
  bool IsClosed() const;
  void SetProgress(int value);  // any thread
  void Minimize();              // the form's thread
  bool IsMinimized() const;
  void SetClientSize(int width, int height);  // the form's thread; 640 x 288 at creation

  Button& button(ButtonId id);

  // Internal: called by the backends.
  void DoLoad() { OnLoad(); }
  void DoShown() { OnShown(); }
  void DoClick(ButtonId button) { OnClick(button); }
  std::string DoQueryEndSession() { return OnQueryEndSession(); }
  void DoPowerBroadcast() { OnPowerBroadcast(); }
  void DoAnsweredUnseen() { OnAnsweredUnseen(); }
  struct Native;
  std::unique_ptr<Native> native;

 protected:
  virtual void OnLoad() {}
  virtual void OnShown() {}
  virtual void OnClick(ButtonId) {}
  // A log-off, restart or shut-down asks whether it may go on. A non-empty
  // reason refuses it and names why; empty lets it go on.
  virtual std::string OnQueryEndSession() { return {}; }
  virtual void OnPowerBroadcast() {}
  // Run found that no one can see the form: by default its safe button's
  // click. A form must close itself here, or Run closes it.
  virtual void OnAnsweredUnseen() { OnClick(safeButton); }
};

// Runs the message loop with `form` as its main window until it closes
// (Application.Run(form)). Returns false, at once, when the form could not
// be shown (its window could not be created, or it was already closed).
// A form with an action button that no one could see is not shown: Run
// sets answeredUnseen, takes its unseen answer and returns true.
bool Run(Form& form);

// The wait between two polls of a thread that watches shared state for a
// form (platform::sleepMs). Where sleeping is simulated away it still yields
// a real millisecond, so such a loop never spins.
void PollDelay(uint32_t ms);

// "button1", "button2", "button3".
const char* buttonName(ButtonId id);

}  // namespace toolkit
