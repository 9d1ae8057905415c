#include "ui/toolkit/desktop_visibility.h"

namespace toolkit {

namespace {

bool hasActionButton(Form& form) {
  for (ButtonId id : {ButtonId::Button1, ButtonId::Button2, ButtonId::Button3}) {
    const Button& button = form.button(id);
    if (button.Visible && !button.IsMinimize) return true;
  }
  return false;
}

}  // namespace

bool AnswerIfUnseen(Form& form) {
  // The progress window needs no answer: it is still created, so that it
  // still refuses a log-off or shut-down during the flash.
  if (!hasActionButton(form) || DesktopVisible()) return false;
  form.DoLoad();
  form.answeredUnseen = true;
  NoteAnsweredUnseen(form);
  form.DoAnsweredUnseen();
  if (!form.IsClosed()) form.Close();
  return true;
}

}  // namespace toolkit
