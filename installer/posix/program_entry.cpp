#include <cstdio>
#include <exception>

#include "installer/install_sequence.h"
#include "platform/posix/standard_streams.h"
#include "simulated/machine.h"

namespace {

// A posix exit status keeps only the low 8 bits of codes such as 1001 or
// 3021, so the simulated machine's trace records the whole code.
int finish(int code) {
  simulated::Trace("installer.exit").num("exit_code", code).write();
  return code;
}

}  // namespace

// Arguments are accepted and ignored: the package beside the program decides.
int main(int, char**) {
  platform::posix::protectStandardStreams();
  try {
    return finish(runInstallation());
  } catch (const std::exception& failure) {
    // No operation lets a failure escape; this is the last line of defence,
    // and its exit code can never be mistaken for a success (0) or "up to date" (1).
    std::fprintf(stderr, "OvVBiosInstaller: unexpected failure: %s\n", failure.what());
    return finish(-1);
  }
}
