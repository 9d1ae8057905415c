// Scripted answers of the simulated user: machine.ini [user] answers, a
// blank-separated list of "Form:button1" / "Form:close" tokens taken in order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/toolkit/form.h"

namespace toolkit::headless {

struct Answer {
  enum class Kind {
    None,   // no answer is waiting for this form: the caller decides
    Click,  // press `button`
    Close,  // the system's close command
  };
  Kind kind = Kind::None;
  ButtonId button = ButtonId::Button1;
};

// One token, e.g. "PowerModeForm:button2". `form` is empty when the token has
// no ':' at all; `valid` is false when the part after ':' is neither
// button1..button3 nor close.
struct AnswerToken {
  std::string form;
  Answer answer;
  bool valid = false;
};

std::vector<std::string> splitAnswers(std::string_view text);
AnswerToken parseAnswerToken(std::string_view token);

// Takes the next answer meant for `form` from machine.ini and writes the
// remaining tokens back, so a second program run does not replay it. A token
// for another form stays where it is (that form has not been shown yet) and
// None is returned. Malformed tokens for this form are dropped with a note on
// standard error rather than blocking every answer behind them.
Answer takeAnswer(std::string_view form);

}  // namespace toolkit::headless
