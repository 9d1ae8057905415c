// The parts of Form that every backend shares.
#include "ui/toolkit/form.h"

namespace toolkit {

Button& Form::button(ButtonId id) {
  switch (id) {
    case ButtonId::Button1:
      return button1;
    case ButtonId::Button2:
      return button2;
    case ButtonId::Button3:
      break;
  }
  return button3;
}

const char* buttonName(ButtonId id) {
  switch (id) {
    case ButtonId::Button1:
      return "button1";
    case ButtonId::Button2:
      return "button2";
    case ButtonId::Button3:
      break;
  }
  return "button3";
}

}  // namespace toolkit
