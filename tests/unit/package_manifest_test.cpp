// package.sha256 as authors' tools write it, and what the reader refuses.
#include "package/package_manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/signature.h"

namespace {

using package::parseManifest;

const std::string kHex = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";  // "test"
std::string line(const std::string& path, const std::string& hex = kHex) { return hex + "  " + path + "\n"; }

struct Accepted {
  const char* name;
  std::string text;
  std::vector<std::string> paths;
};

TEST(Manifest, AcceptsWhatSha256sumAndCarefulAuthorsWrite) {
  std::string upper = kHex;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const Accepted cases[] = {
      {"sha256sum's own output",
       line("configs.txt") + line("tools/amdvbflash.exe"),
       {"configs.txt", "tools/amdvbflash.exe"}},
      {"CRLF line ends", kHex + "  a.rom\r\n" + kHex + "  b.rom\r\n", {"a.rom", "b.rom"}},
      {"no line end after the last line", line("a.rom") + kHex + "  b.rom", {"a.rom", "b.rom"}},
      {"upper-case hex", line("a.rom", upper), {"a.rom"}},
      {"binary-mode marker", kHex + " *a.rom\n", {"a.rom"}},
      {"blanks and UTF-8 inside names", line("Kestrel ROMs/Größe 1.rom"), {"Kestrel ROMs/Größe 1.rom"}},
      {"the signing names in a subfolder", line("old/package.sha256"), {"old/package.sha256"}},
  };
  for (const Accepted& c : cases) {
    const package::ManifestParse parsed = parseManifest(c.text);
    ASSERT_TRUE(parsed.accepted()) << c.name << ": line " << parsed.badLine << ": " << parsed.problem;
    std::vector<std::string> paths;
    for (const auto& entry : parsed.entries) {
      paths.push_back(entry.path);
      EXPECT_EQ(platform::hexDigest(entry.sha256), kHex) << c.name;
    }
    EXPECT_EQ(paths, c.paths) << c.name;
  }
}

struct Refused {
  const char* name;
  std::string text;
  size_t badLine;
  const char* problem;
};

TEST(Manifest, RefusesEverythingElseNamingTheLine) {
  std::string flood;
  for (size_t i = 0; i <= package::kMaxManifestLines; ++i) flood += line("f" + std::to_string(i));
  const Refused cases[] = {
      {"empty", "", 1, "empty"},
      {"byte order mark", "\xEF\xBB\xBF" + line("a.rom"), 1, "byte order mark"},
      {"blank line", line("a.rom") + "\n", 2, "blank"},
      {"blank line amid", line("a.rom") + "\r\n" + line("b.rom"), 2, "blank"},
      {"short digest", line("a.rom", kHex.substr(1)), 1, "64 hexadecimal digits"},
      {"not hex", line("a.rom", "g" + kHex.substr(1)), 1, "64 hexadecimal digits"},
      {"one blank", kHex + " a.rom\n", 1, "two blanks"},
      {"no path", kHex + "  \n", 1, "names no file"},
      {"dot slash", line("./a.rom"), 1, "\".\""},
      {"dot dot", line("roms/../../Windows/x.dll"), 1, "\"..\""},
      {"backslash", line("roms\\a.rom"), 1, "\\"},
      {"escaped sha256sum line", "\\" + line("a\\\\b.rom"), 1, "64 hexadecimal digits"},
      {"absolute", line("/etc/passwd"), 1, "starts with /"},
      {"drive", line("C:/x.rom"), 1, "no Windows name"},
      {"double slash", line("roms//a.rom"), 1, "empty name"},
      {"trailing slash", line("roms/"), 1, "empty name"},
      {"trailing blank", line("a.rom "), 1, "blank or a dot"},
      {"trailing dot", line("roms./a.rom"), 1, "blank or a dot"},
      {"control character", line("a\x01.rom"), 1, "control character"},
      {"lone carriage return", kHex + "  a.rom\r\r\n", 1, "control character"},
      {"not UTF-8", line("a\xFF.rom"), 1, "not UTF-8"},
      {"duplicate", line("a.rom") + line("b.rom") + line("a.rom"), 3, "line 1"},
      {"duplicate in another case", line("A.ROM") + line("a.rom"), 2, "line 1"},
      {"lists itself", line("package.sha256"), 1, "never listed"},
      {"lists its signature", line("Package.sha256.p7s"), 1, "never listed"},
      {"line over the bound", line(std::string(package::kMaxManifestLineBytes, 'x')), 1, "longer than"},
      {"more lines than a package holds files", flood, package::kMaxManifestLines + 1, "more than"},
  };
  for (const Refused& c : cases) {
    const package::ManifestParse parsed = parseManifest(c.text);
    EXPECT_EQ(parsed.badLine, c.badLine) << c.name << ": " << parsed.problem;
    EXPECT_NE(parsed.problem.find(c.problem), std::string::npos) << c.name << ": " << parsed.problem;
    EXPECT_TRUE(parsed.entries.empty()) << c.name;
  }
}

TEST(Manifest, WrittenLinesReadBack) {
  package::ManifestEntry entry{"roms/a.rom", {}};
  entry.sha256[0] = 0xAB;
  entry.sha256[31] = 0x01;
  const package::ManifestParse parsed = parseManifest(package::manifestLine(entry));
  ASSERT_TRUE(parsed.accepted()) << parsed.problem;
  EXPECT_EQ(parsed.entries[0].path, entry.path);
  EXPECT_EQ(parsed.entries[0].sha256, entry.sha256);
}

}  // namespace
