#include "installer/package_signature_step.h"

#include <optional>

#include "common/result_codes.h"
#include "package/package_signature.h"
#include "platform/error.h"
#include "platform/signature.h"

namespace {

constexpr const char* kFunction = "Program.checkPackageSignature";

// The ERROR line, then the detail entry that names the file or the signer.
int32_t refuse(std::string_view reason, const std::string& detailEntry, LogWriter& w) {
  OvLog("ERROR package signature: " + std::string(reason), w);
  OvLog(detailEntry, w);
  return result::kPackageNotSigned;
}

}  // namespace

int32_t checkPackageCopySignature(const std::string& copyFolder, LogWriter& w) {
  std::optional<platform::Certificate> programSigner;
  // A signed program whose signature cannot be read must not fall back to
  // checking nothing.
  if (const platform::Error error = platform::readProgramSigner(programSigner); error.failed())
    return refuse("program signer not readable", platform::describeFailure(error, kFunction), w);
  const package::PackageSignatureCheck check = package::checkPackageSignature(copyFolder, programSigner);
  switch (check.verdict) {
    case package::SignatureVerdict::Unsigned:
      OvLog("WARNING neither the program nor the package is signed; the package was not checked", w);
      return result::kSuccess;
    case package::SignatureVerdict::Verified:
      OvLog("Package signed by \"" + check.signer + "\"; every file is as signed", w);
      return result::kSuccess;
    case package::SignatureVerdict::Refused:
      break;
  }
  return refuse(check.reason, platform::describeProblem(kFunction, check.detail), w);
}
