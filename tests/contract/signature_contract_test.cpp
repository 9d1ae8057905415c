// What both signature backends promise (platform/signature.h, the folder
// listing) and the package check built on them, with the same fixtures
// (tests/contract/signatures, made by OpenSSL) against OpenSSL natively and
// bcrypt/crypt32 under Wine: the same verdicts, the same subject text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/package_manifest.h"
#include "package/package_signature.h"
#include "platform/files.h"
#include "platform/folder_listing.h"
#include "platform/signature.h"
#include "signature_fixtures.h"
#include "tests/contract/machine.h"

namespace {

using contract::Machine;
using platform::SignatureFault;

std::string fixture(std::string_view name) {
  for (const SignatureFixture& f : kSignatureFixtures) {
    if (f.name == name) return std::string(f.bytes);
  }
  ADD_FAILURE() << "no fixture " << name;
  return {};
}

platform::Certificate certificate(std::string_view name) {
  platform::Certificate out;
  const platform::Error error = platform::readCertificate(fixture(name), out);
  EXPECT_FALSE(error.failed()) << name << ": " << error.operation;
  return out;
}

constexpr const char* kSubject = "CN=OvVBios test publisher, O=Orvo Test, C=TW";

TEST(SignatureContract, DigestsOfBytesAndFiles) {
  platform::Sha256Digest digest{};
  ASSERT_FALSE(platform::sha256("abc", digest).failed());
  EXPECT_EQ(platform::hexDigest(digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  Machine machine;
  const std::string big(300 * 1024 + 7, 'r');  // more than one piece of reading
  ASSERT_FALSE(platform::writeFileAtomic(machine.file("big.rom"), big).failed());
  platform::Sha256Digest ofBytes{}, ofFile{};
  ASSERT_FALSE(platform::sha256(big, ofBytes).failed());
  const platform::Error read = platform::sha256OfFile(machine.file("big.rom"), big.size(), ofFile);
  ASSERT_FALSE(read.failed()) << read.operation << ": " << read.message;
  EXPECT_EQ(ofFile, ofBytes);
  EXPECT_EQ(platform::sha256OfFile(machine.file("big.rom"), big.size() - 1, ofFile).code,
            platform::kErrorFileTooLarge);
  EXPECT_EQ(platform::sha256OfFile(machine.file("absent.rom"), 10, ofFile).code,
            platform::kErrorFileNotFound);
}

TEST(SignatureContract, CertificatesReadAsTheSameBytesAndSubject) {
  const platform::Certificate pem = certificate("publisher.pem");
  const platform::Certificate der = certificate("publisher.der");
  EXPECT_EQ(pem.der, fixture("publisher.der"));
  EXPECT_EQ(der.der, pem.der);
  EXPECT_EQ(pem.subject, kSubject);
  platform::Certificate none;
  EXPECT_EQ(platform::readCertificate(fixture("publisher.pem") + fixture("other.pem"), none).code,
            platform::kErrorInvalidData);
  EXPECT_EQ(platform::readCertificate("not a certificate", none).code, platform::kErrorInvalidData);
  EXPECT_EQ(platform::readCertificate(fixture("publisher.der").substr(0, 400), none).code,
            platform::kErrorInvalidData);
}

TEST(SignatureContract, EachFaultOfADetachedSignature) {
  const std::string manifest = fixture("package.sha256");
  const std::string good = fixture("good.p7s");
  struct Case {
    const char* name;
    std::string signature;
    std::string content;
    SignatureFault fault;
  } cases[] = {
      {"signed with signed attributes", good, manifest, SignatureFault::None},
      {"signed without attributes", fixture("no-attributes.p7s"), manifest, SignatureFault::None},
      {"content changed", good, manifest + "\n", SignatureFault::DoesNotVerify},
      {"content changed without attributes", fixture("no-attributes.p7s"), "x" + manifest,
       SignatureFault::DoesNotVerify},
      {"SHA-1", fixture("sha1.p7s"), manifest, SignatureFault::DoesNotVerify},
      {"two signers", fixture("two-signers.p7s"), manifest, SignatureFault::SeveralSigners},
      {"a chain", fixture("chain.p7s"), manifest, SignatureFault::NotOneCertificate},
      {"no certificate", fixture("no-certificate.p7s"), manifest, SignatureFault::NotOneCertificate},
      {"no signer", fixture("no-signer.p7s"), manifest, SignatureFault::NoSigner},
      {"content inside", fixture("embedded.p7s"), manifest, SignatureFault::Malformed},
      {"truncated", good.substr(0, good.size() / 2), manifest, SignatureFault::Malformed},
      {"one byte more", good + "0", manifest, SignatureFault::Malformed},
      {"garbage", std::string(900, '\x30'), manifest, SignatureFault::Malformed},
      {"a certificate", fixture("publisher.der"), manifest, SignatureFault::Malformed},
      {"empty", "", manifest, SignatureFault::Malformed},
      {"over the bound", std::string(platform::kMaxSignatureBytes + 1, 'x'), manifest,
       SignatureFault::Malformed},
  };
  for (const Case& c : cases) {
    const platform::SignatureCheck check = platform::verifyDetachedSignature(c.signature, c.content);
    EXPECT_EQ(check.fault, c.fault) << c.name << ": " << check.detail;
    if (c.fault == SignatureFault::None) {
      EXPECT_EQ(check.signer.der, fixture("publisher.der")) << c.name;
      EXPECT_EQ(check.signer.subject, kSubject) << c.name;
    } else {
      EXPECT_FALSE(check.detail.empty()) << c.name;
    }
  }
  // Same subject, another key: only the bytes tell them apart.
  const platform::SignatureCheck other = platform::verifyDetachedSignature(fixture("other.p7s"), manifest);
  ASSERT_EQ(other.fault, SignatureFault::None) << other.detail;
  EXPECT_EQ(other.signer.subject, kSubject);
  EXPECT_NE(other.signer.der, fixture("publisher.der"));
}

// The package the fixtures sign: what make-fixtures.sh wrote.
void writePackage(const Machine& machine) {
  ASSERT_FALSE(platform::createDirectories(machine.file("package\\roms")).failed());
  ASSERT_FALSE(
      platform::writeFileAtomic(machine.file("package\\configs.txt"), "ReleaseVersion=V1.2.0\r\n").failed());
  ASSERT_FALSE(
      platform::writeFileAtomic(machine.file("package\\roms\\a.rom"), "stand-in ROM image\n").failed());
  ASSERT_FALSE(
      platform::writeFileAtomic(machine.file("package\\package.sha256"), fixture("package.sha256")).failed());
}

TEST(SignatureContract, ListingGivesEveryFileRelativeAndSorted) {
  Machine machine;
  writePackage(machine);
  ASSERT_FALSE(platform::createDirectories(machine.file("package\\empty")).failed());
  std::vector<std::string> files;
  const platform::Error error = platform::listFilesBelow(machine.file("package"), {100, 4}, files);
  ASSERT_FALSE(error.failed()) << error.operation;
  EXPECT_EQ(files, (std::vector<std::string>{"configs.txt", "package.sha256", "roms/a.rom"}));
  EXPECT_EQ(platform::listFilesBelow(machine.file("package"), {3, 4}, files).code,
            platform::kErrorImplementationLimit);
  EXPECT_TRUE(files.empty());
  EXPECT_EQ(platform::listFilesBelow(machine.file("package"), {100, 0}, files).code,
            platform::kErrorFilenameTooLong);
  EXPECT_EQ(platform::listFilesBelow(machine.file("absent"), {100, 4}, files).code,
            platform::kErrorPathNotFound);
}

TEST(SignatureContract, PackageCheckOnThisPlatformsFiles) {
  Machine machine;
  writePackage(machine);
  const std::string folder = machine.file("package");
  const std::optional<platform::Certificate> publisher = certificate("publisher.pem");
  const std::optional<platform::Certificate> unsigned_;
  auto check = [&](const std::optional<platform::Certificate>& signer) {
    return package::checkPackageSignature(folder, signer);
  };
  EXPECT_EQ(check(publisher).reason, "no signature");
  ASSERT_FALSE(
      platform::writeFileAtomic(machine.file("package\\package.sha256.p7s"), fixture("good.p7s")).failed());
  package::PackageSignatureCheck verified = check(publisher);
  EXPECT_EQ(verified.verdict, package::SignatureVerdict::Verified)
      << verified.reason << ": " << verified.detail;
  EXPECT_EQ(verified.signer, kSubject);
  EXPECT_EQ(check(unsigned_).verdict, package::SignatureVerdict::Verified);
  EXPECT_EQ(
      check(certificate("other.pem")).reason,
      std::string("signed by \"") + kSubject + "\" and not by the program's publisher \"" + kSubject + "\"");

  ASSERT_FALSE(platform::writeFileAtomic(machine.file("package\\roms\\a.rom"), "another image\n").failed());
  EXPECT_EQ(check(publisher).reason, "roms/a.rom changed since signing");
  EXPECT_EQ(check(unsigned_).reason, "roms/a.rom changed since signing");
  ASSERT_FALSE(platform::deleteFile(machine.file("package\\roms\\a.rom")).failed());
  EXPECT_EQ(check(publisher).reason, "roms/a.rom listed but missing");
  ASSERT_FALSE(
      platform::writeFileAtomic(machine.file("package\\roms\\A.rom"), "stand-in ROM image\n").failed());
  EXPECT_EQ(check(publisher).reason, "roms/A.rom not listed");

  ASSERT_FALSE(platform::writeFileAtomic(machine.file("package\\package.sha256.p7s"),
                                         fixture("good.p7s").substr(0, 900))
                   .failed());
  EXPECT_EQ(check(unsigned_).reason, "signature does not verify");
  ASSERT_FALSE(platform::writeFileAtomic(machine.file("package\\package.sha256"),
                                         std::string(package::kMaxManifestBytes + 1, '0'))
                   .failed());
  EXPECT_EQ(check(publisher).reason,
            "manifest over " + std::to_string(package::kMaxManifestBytes) + " bytes");
}

}  // namespace
