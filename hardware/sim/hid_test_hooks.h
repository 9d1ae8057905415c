// What a test can do on the simulated HID bus beyond machine.ini: hand an
// interface input reports for its readers, and receive the messages that
// would reach a window.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "hardware/hid.h"

namespace hardware::sim {

// Queues one input report on the interface `path` (compared without regard
// to case); a blocked readReport on it returns with it.
void queueInputReport(std::string_view path, const std::vector<uint8_t>& report);

// Forgets every queued input report.
void clearInputReports();

// Receives postMessage and sendMessage; its result is sendMessage's. With
// no receiver every window is gone: postMessage fails, sendMessage gives 0.
using WindowReceiver =
    std::function<intptr_t(hid::Window window, uint32_t message, uintptr_t wParam, intptr_t lParam)>;
void setWindowReceiver(WindowReceiver receiver);

}  // namespace hardware::sim
