// The text rules that every package and tool output goes through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/config_text.h"
#include "package/version_text.h"

namespace {

using package::NumberParse;
using package::VersionOrder;

std::vector<std::string> strings(const std::vector<std::string_view>& views) {
  return {views.begin(), views.end()};
}

TEST(DecodeText, ByteOrderMarksPickTheEncoding) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"no mark is UTF-8", "A=\xC3\xA9", "A=\xC3\xA9"},
      {"UTF-8 mark dropped",
       "\xEF\xBB\xBF"
       "A=1",
       "A=1"},
      {"UTF-16 LE",
       std::string("\xFF\xFE"
                   "A\0=\0\xE9\0",
                   8),
       "A=\xC3\xA9"},
      {"UTF-16 BE", std::string("\xFE\xFF\0A\0=\0\xE9", 8), "A=\xC3\xA9"},
      {"UTF-16 LE surrogate pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), "\xF0\x9F\x98\x80"},
      {"UTF-32 LE, not UTF-16", std::string("\xFF\xFE\0\0A\0\0\0", 8), "A"},
      {"UTF-32 BE", std::string("\0\0\xFE\xFF\0\0\0A", 8), "A"},
      {"mark only", "\xEF\xBB\xBF", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(package::decodeText(c.bytes), c.text) << c.name;
}

TEST(DecodeText, MalformedInputBecomesReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"stray continuation byte", "a\x80z", "a" + fffd + "z"},
      {"truncated sequence at the end", "a\xE2\x82", "a" + fffd},
      {"truncated sequence before ASCII", "\xE2\x82z", fffd + "z"},
      {"overlong encoding", "\xC0\xAF", fffd + fffd},
      {"UTF-16 surrogate in UTF-8", "\xED\xA0\x80", fffd + fffd + fffd},
      {"above U+10FFFF", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
      {"UTF-16 lone high surrogate",
       std::string("\xFF\xFE\x3D\xD8"
                   "A\0",
                   6),
       fffd + "A"},
      {"UTF-16 lone low surrogate", std::string("\xFF\xFE\x00\xDE", 4), fffd},
      {"UTF-16 odd final byte",
       std::string("\xFF\xFE"
                   "A\0B",
                   5),
       "A" + fffd},
      {"UTF-32 beyond Unicode", std::string("\xFF\xFE\0\0\0\0\x11\0", 8), fffd},
  };
  for (const Case& c : cases) EXPECT_EQ(package::decodeText(c.bytes), c.text) << c.name;
}

TEST(SplitLines, EndsLinesAtCrLfLfOrCr) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"a\n", {"a"}},
      {"a\n\n", {"a", ""}},
      {"\r\n\r\n", {"", ""}},
      {"a\r\r\nb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(strings(package::splitLines(c.text)), c.lines) << c.text;
}

TEST(SplitAt, KeepsEveryPieceIncludingEmptyOnes) {
  EXPECT_EQ(strings(package::splitAt("", '.')), std::vector<std::string>{""});
  EXPECT_EQ(strings(package::splitAt("1.2..3.", '.')), (std::vector<std::string>{"1", "2", "", "3", ""}));
  EXPECT_EQ(strings(package::splitAt("VBiosType=KRAMD=extra", '=')),
            (std::vector<std::string>{"VBiosType", "KRAMD", "extra"}));
}

TEST(ParseInteger, AcceptsWhatInt32ParseAccepts) {
  struct Case {
    const char* text;
    NumberParse status;
    int32_t value;
  };
  const std::vector<Case> cases = {
      {"0", NumberParse::Ok, 0},
      {"308", NumberParse::Ok, 308},
      {"  42\t", NumberParse::Ok, 42},
      {"\r\n7\v\f", NumberParse::Ok, 7},
      {"+5", NumberParse::Ok, 5},
      {"-1", NumberParse::Ok, -1},
      {"000000000000000000012", NumberParse::Ok, 12},
      {"2147483647", NumberParse::Ok, 2147483647},
      {"-2147483648", NumberParse::Ok, INT32_MIN},
      {"2147483648", NumberParse::Overflow, 0},
      {"-2147483649", NumberParse::Overflow, 0},
      {"99999999999999999999999", NumberParse::Overflow, 0},
      {"", NumberParse::FormatError, 0},
      {"   ", NumberParse::FormatError, 0},
      {"-", NumberParse::FormatError, 0},
      {"x", NumberParse::FormatError, 0},
      {"1x", NumberParse::FormatError, 0},
      {"1 2", NumberParse::FormatError, 0},
      {"- 1", NumberParse::FormatError, 0},
      {"--1", NumberParse::FormatError, 0},
      {"0x10", NumberParse::FormatError, 0},
      {"1.0", NumberParse::FormatError, 0},
      {"99999999999999999999x", NumberParse::FormatError, 0},  // malformed wins over too large
      {"\xEF\xBC\x91", NumberParse::FormatError, 0},           // full-width digit one
  };
  for (const Case& c : cases) {
    int32_t value = -99;
    EXPECT_EQ(package::parseInt32(c.text, value), c.status) << "'" << c.text << "'";
    // A failed parse must leave the target alone.
    EXPECT_EQ(value, c.status == NumberParse::Ok ? c.value : -99) << c.text;
  }
}

TEST(ParseInteger, Int64HasItsOwnRange) {
  int64_t value = 0;
  EXPECT_EQ(package::parseInt64("9223372036854775807", value), NumberParse::Ok);
  EXPECT_EQ(value, INT64_MAX);
  EXPECT_EQ(package::parseInt64("-9223372036854775808", value), NumberParse::Ok);
  EXPECT_EQ(value, INT64_MIN);
  EXPECT_EQ(package::parseInt64("9223372036854775808", value), NumberParse::Overflow);
  EXPECT_EQ(package::parseInt64(" 2147483648 ", value), NumberParse::Ok);
  EXPECT_EQ(value, 2147483648LL);
}

TEST(CompareVersionComponents, ComparesNumbersNotText) {
  struct Case {
    const char* mine;
    const char* other;
    VersionOrder order;
  };
  const std::vector<Case> cases = {
      {"4.10.0.0", "4.9.99.99", VersionOrder::Greater},
      {"4.9.99.99", "4.10.0.0", VersionOrder::Less},
      {"20.1.0.38.100", "020.001.000.038.100", VersionOrder::Equal},
      {"1.2.3.40.100", "1.2.3.40.101", VersionOrder::Less},
      {"-1.0", "0.0", VersionOrder::Less},
      {"2.x", "1.0", VersionOrder::Greater},  // decided before the bad component is read
      {"1.x", "1.0", VersionOrder::NotANumber},
      {"1.0", "1.", VersionOrder::NotANumber},
      {"1.99999999999", "1.0", VersionOrder::NotANumber},
  };
  for (const Case& c : cases) {
    const auto mine = package::splitAt(c.mine, '.');
    const auto other = package::splitAt(c.other, '.');
    EXPECT_EQ(package::compareVersionComponents(mine, other).order, c.order) << c.mine << " vs " << c.other;
  }
  const auto bad =
      package::compareVersionComponents(package::splitAt("1.99999999999", '.'), package::splitAt("1.0", '.'));
  EXPECT_EQ(bad.badComponent, "99999999999");
  EXPECT_EQ(bad.problem, NumberParse::Overflow);
}

TEST(BiosVersionLine, TakesTheLastWordWhenLongEnough) {
  struct Case {
    const char* line;
    const char* version;
  };
  const std::vector<Case> cases = {
      {"        Bios Version    : 020.001.000.038.016233", "020.001.000.038.016233"},
      {"Bios Version : 1.2.3.40.100", "1.2.3.40.100"},
      {"Bios Version : 1.2.3.40.100 ", "0.0.0.0.0"},  // the last word is empty
      {"Bios Version : 1.2.3.4", "0.0.0.0.0"},        // seven characters
      {"Bios Version : 123456789", "123456789"},      // nine is enough
      {"Bios Version:1.2.3.40.100", "0.0.0.0.0"},     // two words only
      {"Bios Version", "0.0.0.0.0"},
      // Counted in UTF-16 units as .NET does: five letters in ten bytes.
      {"Bios Version : \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", "0.0.0.0.0"},
      {"Bios Version : \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
       "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"},
  };
  for (const Case& c : cases) EXPECT_EQ(package::versionFromBiosVersionLine(c.line), c.version) << c.line;

  EXPECT_TRUE(package::isBiosVersionLine("  Bios Version : x"));
  EXPECT_FALSE(package::isBiosVersionLine("  BIOS Version : x"));
  EXPECT_FALSE(package::isBiosVersionLine("  Bios Date : x"));
  EXPECT_EQ(package::utf16Length("\xF0\x9F\x98\x80"), 2u);
}

}  // namespace
