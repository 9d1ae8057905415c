// The project's small window toolkit: a Form with a message label, up to
// three buttons and an optional progress bar, shown by a per-thread message
// loop. Backends: win32 (real windows) and headless (memory + trace).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace toolkit {

enum class ButtonId { Button1 = 1, Button2 = 2, Button3 = 3 };

struct Label {
  std::string Text;
};

struct Button {
  std::string Text;
  bool Visible = false;
  bool IsMinimize = false;  // the minimise glyph button; clicking it minimises
};

struct ProgressBar {
  bool Visible = false;
  int Value = 0;  // 0..100
};

void EnableVisualStyles();
void SetCompatibleTextRenderingDefault(bool compatible);

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

  void Close();                     // ends the form's message loop; any thread
  bool IsClosed() const;
  void SetProgress(int value);      // any thread

  // Internal: called by the backends.
  void DoLoad() { OnLoad(); }
  void DoClick(ButtonId button) { OnClick(button); }
  struct Native;
  std::unique_ptr<Native> native;

 protected:
  virtual void OnLoad() {}
  virtual void OnShown() {}
  virtual void OnClick(ButtonId) {}
};

// Runs the message loop with `form` as its main window until it closes
// (Application.Run(form)). Returns at once for a form already closed.
void Run(Form& form);

}  // namespace toolkit
