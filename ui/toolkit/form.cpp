// The parts of Form that every backend shares.
#include "ui/toolkit/form.h"

#include <chrono>
#include <thread>

#include "platform/system.h"

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

// Shared so that both backends keep the promise: at [time] scale = 0 the
// sleep returns at once, and a watcher polling through it would take a core
// from the children and windows it is waiting for.
void PollDelay(uint32_t ms) {
  const auto start = std::chrono::steady_clock::now();
  platform::sleepMs(ms);
  if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace toolkit
