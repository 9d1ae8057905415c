// Whether anyone can see this process's dialogs. A deployment tool runs the
// installer as the system account on a window station no user sees; a dialog
// there would wait for a click that never comes.
#pragma once

#include "ui/toolkit/form.h"

namespace toolkit {

// Per backend: win32 asks the process's window station (WSF_VISIBLE);
// headless reads machine.ini [user] desktop_visible. A query that fails
// counts as visible, so the interactive behaviour is the one kept.
bool DesktopVisible();

// Per backend: what the backend records of a form taken as answered
// (headless: a dialog.unseen trace event), before the answer is taken.
void NoteAnsweredUnseen(const Form& form);

// Shared by both backends' Run: a form with an action button on a desktop
// no one can see is loaded (so its texts are what it would have shown),
// marked answeredUnseen, answered and closed. Returns true when it was; a
// form without an action button (the progress window) is left to Run.
bool AnswerIfUnseen(Form& form);

}  // namespace toolkit
