#include <optional>
#include <string>

#include "platform/posix/native_files.h"
#include "platform/signature.h"
#include "platform/simulation.h"

namespace platform {

// A Linux program carries no signature of its own; on a simulated machine
// its machine.ini names the certificate that stands for one.
Error readProgramSigner(std::optional<Certificate>& signer) {
  signer.reset();
  const SimulationHooks* machine = simulation();
  if (machine == nullptr || machine->programSigner == nullptr) return {};
  const std::string path = machine->programSigner();
  if (path.empty()) return {};
  std::string bytes;
  if (Error error = posix::readNativeFile(path, bytes, kMaxCertificateFileBytes); error.failed()) {
    error.operation = "read the program's signer certificate " + path + " (" + error.operation + ")";
    return error;
  }
  Certificate certificate;
  if (Error error = readCertificate(bytes, certificate); error.failed()) {
    error.operation = "read the program's signer certificate " + path;
    return error;
  }
  signer = std::move(certificate);
  return {};
}

}  // namespace platform
