// OvVBiosPackageSign <packages folder> --pkcs12 FILE
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tools/entry/native_path.h"
#include "tools/entry/tool_main.h"
#include "tools/package_sign/detached_signer.h"
#include "tools/package_sign/sign_package.h"

namespace {

constexpr const char* kUsage =
    "usage: OvVBiosPackageSign <packages folder> --pkcs12 FILE\n"
    "  Writes package.sha256 (the SHA-256 of every file of the folder, as sha256sum prints it) and\n"
    "  package.sha256.p7s (its detached CMS signature) into the folder, replacing old ones. A signed\n"
    "  OvVBiosInstaller.exe runs only a package signed with the certificate that signed it.\n"
    "  FILE is a PKCS#12 (.p12/.pfx) file with the key and its certificate. The password is taken\n"
    "  from OVVB_SIGN_PASSWORD, or read from standard input when that is not set.\n"
    "Exit code: 0 signed, 2 not signed (the reason is printed), 3 usage.\n";

int fail(const std::string& why) {
  platform::writeStandardOutput("OvVBiosPackageSign: " + why + "\n");
  return 2;
}

}  // namespace

int toolMain(const std::vector<std::string>& args, const std::string&) {
  std::string folder, pkcs12Path;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--pkcs12" && i + 1 < args.size() && pkcs12Path.empty()) {
      pkcs12Path = args[++i];
    } else if (args[i].starts_with("-") || !folder.empty()) {
      platform::writeStandardOutput(kUsage);
      return 3;
    } else {
      folder = args[i];
    }
  }
  if (folder.empty() || pkcs12Path.empty()) {
    platform::writeStandardOutput(kUsage);
    return 3;
  }

  const std::filesystem::path certificateFile = kit::nativePath(pkcs12Path);
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(certificateFile, error);
  if (error) return fail("cannot read the certificate file " + pkcs12Path + ": " + error.message());
  if (size > kit::kMaxPkcs12Bytes) return fail(pkcs12Path + " is too large to be a PKCS#12 certificate file");
  std::string pkcs12(static_cast<size_t>(size), '\0');
  std::ifstream in(certificateFile, std::ios::binary);
  in.read(pkcs12.data(), static_cast<std::streamsize>(pkcs12.size()));
  if (static_cast<uintmax_t>(in.gcount()) != size)
    return fail("cannot read the certificate file " + pkcs12Path);

  // Never an argument: other users can list a program's command line.
  std::string password;
  if (const char* given = std::getenv("OVVB_SIGN_PASSWORD")) {
    password = given;
  } else if (!kit::readPasswordLine(password)) {
    return fail("no password: set OVVB_SIGN_PASSWORD or give it on standard input (at most " +
                std::to_string(kit::kMaxPasswordBytes) + " bytes)");
  }

  const kit::SignedPackage signedPackage = kit::signPackage(folder, pkcs12, password);
  if (!signedPackage.problem.empty()) return fail(signedPackage.problem);
  std::string out = "package.sha256: " + std::to_string(signedPackage.lines.size()) + " files\n";
  for (const std::string& line : signedPackage.lines) out += "  " + line + "\n";
  out += "package.sha256.p7s: signed by " + signedPackage.subject + "\n";
  platform::writeStandardOutput(out);
  return 0;
}
