#include "tests/e2e/package_signing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace fs = std::filesystem;

namespace e2e {

namespace {

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

void shell(const std::string& command) {
  ASSERT_EQ(std::system(("{ set -e; " + command + "; } >/dev/null 2>&1").c_str()), 0) << command;
}

class Signers {
 public:
  Signers() : folder_(fs::temp_directory_path() / ("ovvb-signers-" + std::to_string(::getpid()))) {
    fs::create_directories(folder_);
    publisher = make("publisher", "/C=TW/O=Orvo Test/CN=OvVBios test publisher");
    publisher.subject = "CN=OvVBios test publisher, O=Orvo Test, C=TW";
    stranger = make("stranger", "/CN=OvVBios test publisher");
    stranger.subject = "CN=OvVBios test publisher";
  }
  ~Signers() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  TestSigner publisher;
  TestSigner stranger;

 private:
  TestSigner make(const std::string& name, const std::string& subject) {
    TestSigner signer{folder_ / (name + ".pem"), folder_ / (name + "-key.pem"), {}};
    shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '" + subject + "' -keyout " +
          quoted(signer.key) + " -out " + quoted(signer.certificate));
    return signer;
  }
  fs::path folder_;
};

const Signers& signers() {
  static const Signers made;
  return made;
}

}  // namespace

const TestSigner& publisher() { return signers().publisher; }
const TestSigner& stranger() { return signers().stranger; }

void signPackage(const fs::path& packages, const TestSigner& signer) {
  // The line the authors' guide gives, with NUL-separated names.
  shell("cd " + quoted(packages) +
        " && find . -type f ! -name 'package.sha256*' -print0 | sed -z 's#^\\./##' | xargs -0 sha256sum "
        "> package.sha256");
  signManifest(packages, signer);
}

void signManifest(const fs::path& packages, const TestSigner& signer) {
  shell("openssl cms -sign -binary -md sha256 -outform DER -in " + quoted(packages / "package.sha256") +
        " -signer " + quoted(signer.certificate) + " -inkey " + quoted(signer.key) + " -out " +
        quoted(packages / "package.sha256.p7s"));
}

}  // namespace e2e
