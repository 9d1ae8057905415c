// What the shell does for the dialogs: open a web page in the user's browser,
// and ask Windows to restart.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// What became of a web page: opened, or why not (one line, for the log).
struct WebPageOpening {
  bool opened = false;
  std::string reason;
};

// Hands the address, as one argument, to the "open" verb of the desktop's
// shell, which starts the user's default browser on it as the signed-in
// user. This process runs as administrator and never opens an address
// itself: whatever handles https (a per-user browser, a handler the user's
// programs may register) would run with its rights. Where no desktop shell
// takes it, the page is not opened. posix: a "shell.open" trace event, or
// "shell.not_opened" when the machine has no desktop shell.
WebPageOpening openWebAddress(std::string_view address);

// Empty when the desktop's shell can take a page now; otherwise why not, as
// openWebAddress would say. Lets the caller log the reason while the log is
// still being written, before a dialog that would open the page.
std::string webPagesCannotOpen();

// The address as the shell receives it: a double quote, which no web
// address may hold, would end the browser's argument on its command line, so
// it goes as %22, the form a browser sends anyway. Everything else stays.
std::string shellSafeAddress(std::string_view address);

// The plain reboot request of Win32_OperatingSystem.Win32Shutdown: no force
// bit, so applications are asked to close normally.
inline constexpr int32_t kRestartFlags = 2;
inline constexpr int32_t kRestartReserved = 0;

enum class RestartRequest {
  Requested,  // Win32Shutdown invoked on every instance (posix: traced)
  Fallback,   // no Win32Shutdown: the ordinary restart request was made instead
  Failed,     // neither could be asked; the caller carries on as before
};

// Asks once for an ordinary, non-forced restart and returns: whether it
// comes about is up to Windows, which ends this program on the way. posix:
// one "system.restart" trace event {flags, reserved} per invocation.
RestartRequest requestRestart();

}  // namespace platform
