// The text rules that every package and tool output goes through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/tool_output.h"
#include "package/config_text.h"
#include "package/version_text.h"

namespace {

using package::NumberParse;
using package::VersionOrder;

// A literal with its embedded NULs.
template <size_t N>
std::string raw(const char (&text)[N]) {
  return std::string(text, N - 1);
}

std::vector<std::string> strings(const std::vector<std::string_view>& views) {
  return {views.begin(), views.end()};
}

// A tool's output arrives cut wherever the pipe cut it: fed in two pieces at
// every cut, and byte by byte, it must decode exactly as the whole does.
void expectSameInPieces(const std::string& bytes, const std::string& whole, const char* name) {
  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    platform::TextDecoder decoder;
    std::string text;
    decoder.feed(std::string_view(bytes).substr(0, cut), text);
    decoder.feed(std::string_view(bytes).substr(cut), text);
    decoder.finish(text);
    EXPECT_EQ(text, whole) << name << ", cut at " << cut;
  }
  platform::TextDecoder decoder;
  std::string text;
  for (char byte : bytes) decoder.feed(std::string_view(&byte, 1), text);
  decoder.finish(text);
  EXPECT_EQ(text, whole) << name << ", byte by byte";
}

// What a tool's output leaves for the log, fed `piece` bytes at a time.
ToolOutput readInPieces(const std::string& bytes, size_t piece, ToolOutput::LineFilter keep = nullptr,
                        const char* watched = nullptr) {
  ToolOutput output(keep);
  if (watched != nullptr) output.watchFor(watched);
  for (size_t at = 0; at < bytes.size(); at += piece) output.add(std::string_view(bytes).substr(at, piece));
  output.finish();
  return output;
}

TEST(DecodeText, MarksPickTheEncodingAndMalformedInputIsReplaced) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    const char* name;
    std::string bytes, text;
    std::string_view mark = "";  // the byte-order mark's name, as the package checker words it
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"no mark is UTF-8",           "A=\xC3\xA9",                      "A=\xC3\xA9"},
      {"UTF-8 mark dropped",         raw("\xEF\xBB\xBF" "A=1"),          "A=1",                "UTF-8"},
      {"UTF-16 LE",                  raw("\xFF\xFE" "A\0=\0\xE9\0"),     "A=\xC3\xA9",          "UTF-16 LE"},
      {"UTF-16 BE",                  raw("\xFE\xFF\0A\0=\0\xE9"),        "A=\xC3\xA9",          "UTF-16 BE"},
      {"UTF-16 surrogate pair",      raw("\xFF\xFE\x3D\xD8\x00\xDE"),    "\xF0\x9F\x98\x80",   "UTF-16 LE"},
      {"UTF-32 LE, not UTF-16",      raw("\xFF\xFE\0\0A\0\0\0"),         "A",                  "UTF-32 LE"},
      {"UTF-32 BE",                  raw("\0\0\xFE\xFF\0\0\0A"),         "A",                  "UTF-32 BE"},
      {"stray continuation byte",    "a\x80z",                          "a" + fffd + "z"},
      {"truncated before ASCII",     "\xE2\x82z",                       fffd + "z"},
      {"overlong encoding",          "\xC0\xAF",                        fffd + fffd},
      {"surrogate encoded in UTF-8", "\xED\xA0\x80",                    fffd + fffd + fffd},
      {"UTF-16 lone high surrogate", raw("\xFF\xFE\x3D\xD8" "A\0"),      fffd + "A",           "UTF-16 LE"},
      {"UTF-16 odd final byte",      raw("\xFF\xFE" "A\0B"),             "A" + fffd,           "UTF-16 LE"},
      {"UTF-32 beyond Unicode",      raw("\xFF\xFE\0\0\0\0\x11\0"),      fffd,                 "UTF-32 LE"},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(package::decodeText(c.bytes), c.text) << c.name;
    expectSameInPieces(c.bytes, c.text, c.name);
    const platform::ByteOrderMark* mark = platform::byteOrderMarkOf(c.bytes);
    EXPECT_EQ(mark != nullptr ? mark->name : std::string_view(), c.mark) << c.name;
  }
}

TEST(SplitText, LinesEndAtCrLfLfOrCrAndFieldsKeepEmptyPieces) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"a\n", {"a"}},
      {"a\n\n", {"a", ""}},
      {"a\r\r\nb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(strings(package::splitLines(c.text)), c.lines) << c.text;
    // A tool's output, cut anywhere (a CR here, its LF in the next piece),
    // reaches the log as the same lines with the same line ends.
    for (size_t piece : {size_t{1}, size_t{2}, size_t{64}}) {
      const ToolOutput output = readInPieces(c.text, piece);
      EXPECT_EQ(output.keptText(), c.text) << piece;
      EXPECT_EQ(output.notKeptLine(), "");
    }
  }

  EXPECT_EQ(strings(package::splitAt("", '.')), std::vector<std::string>{""});
  EXPECT_EQ(strings(package::splitAt("1.2..3.", '.')), (std::vector<std::string>{"1", "2", "", "3", ""}));
}

// However much a tool prints, the log gets its first lines, one line saying
// what was left out and its last lines (where tools print their error), while
// a watched text is still found anywhere.
TEST(ToolOutputBound, TheLogGetsTheFirstAndLastLinesAndTheRestIsCountedAndStillScanned) {
  std::string manyLines;
  for (int i = 0; i < 2500; ++i) manyLines += "line " + std::to_string(i) + "\r\n";
  manyLines += "Restart System To Complete VBIOS Update\r\n";
  const ToolOutput lines = readInPieces(manyLines, 4096, nullptr, "Restart System To Complete VBIOS Update");
  const std::vector<std::string_view> kept = package::splitLines(lines.keptText());
  ASSERT_EQ(kept.size(), kMaxLoggedFirstLines);
  EXPECT_EQ(kept.back(), "line 999");
  EXPECT_EQ(lines.notKeptLine(), "... 501 more lines (5.4 KiB) of output not logged");
  const std::string lastText = lines.lastKeptText();
  const std::vector<std::string_view> last = package::splitLines(lastText);
  ASSERT_EQ(last.size(), kMaxLoggedLastLines);
  EXPECT_EQ(last.front(), "line 1501");
  EXPECT_EQ(last.back(), "Restart System To Complete VBIOS Update");
  EXPECT_TRUE(lines.watchedSeen());

  // A line longer than its part of the bound is never logged, but the lines
  // after it are; a watched text cut across pieces inside it is still seen.
  const std::string longLine =
      std::string(kMaxLoggedBytes, 'x') + "Restart System To Complete VBIOS Update" + "\nnext\n";
  const ToolOutput overlong = readInPieces(longLine, 7, nullptr, "Restart System To Complete VBIOS Update");
  EXPECT_EQ(overlong.keptText(), "");
  EXPECT_EQ(overlong.notKeptLine(), "... 1 more lines (256.0 KiB) of output not logged");
  EXPECT_EQ(overlong.lastKeptText(), "next\n");
  EXPECT_TRUE(overlong.watchedSeen());
  EXPECT_FALSE(readInPieces(std::string(1000, 'x'), 7, nullptr, "Restart").watchedSeen());

  // Megabytes of line ends are counted, not kept.
  const ToolOutput empty = readInPieces(std::string(size_t{8} << 20, '\n'), 1 << 16);
  EXPECT_EQ(empty.keptText(), std::string(kMaxLoggedFirstLines, '\n'));
  EXPECT_EQ(empty.lastKeptText(), std::string(kMaxLoggedLastLines, '\n'));
  EXPECT_EQ(empty.linesNotKept(), (size_t{8} << 20) - kMaxLoggedLines);

  // A filter keeps its lines only, and the last of them is always logged.
  std::string versions = "adapter 0\n";
  for (int i = 0; i < 2100; ++i) versions += "  Bios Version : 1.0." + std::to_string(i) + "\nother\n";
  const ToolOutput filtered = readInPieces(versions, 333, package::isBiosVersionLine);
  EXPECT_EQ(package::splitLines(filtered.keptText()).front(), "  Bios Version : 1.0.0");
  EXPECT_EQ(filtered.linesNotKept(), 100u);
  const std::string filteredLast = filtered.lastKeptText();
  EXPECT_EQ(package::splitLines(filteredLast).front(), "  Bios Version : 1.0.1100");
  EXPECT_EQ(package::splitLines(filteredLast).back(), "  Bios Version : 1.0.2099");
}

TEST(ParseInteger, AcceptsWhatInt32ParseAccepts) {
  struct Case {
    const char* text;
    NumberParse status;
    int32_t value;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"308", NumberParse::Ok, 308},          {" \t42\r\n", NumberParse::Ok, 42},
      {"+5", NumberParse::Ok, 5},             {"-1", NumberParse::Ok, -1},
      {"000000000000000012", NumberParse::Ok, 12},
      {"2147483647", NumberParse::Ok, INT32_MAX},   {"-2147483648", NumberParse::Ok, INT32_MIN},
      {"2147483648", NumberParse::Overflow, 0},     {"-2147483649", NumberParse::Overflow, 0},
      {"", NumberParse::FormatError, 0},      {"  ", NumberParse::FormatError, 0},
      {"-", NumberParse::FormatError, 0},     {"1x", NumberParse::FormatError, 0},
      {"1 2", NumberParse::FormatError, 0},   {"- 1", NumberParse::FormatError, 0},
      {"0x10", NumberParse::FormatError, 0},  {"\xEF\xBC\x91", NumberParse::FormatError, 0},  // full-width 1
      {"99999999999999999999x", NumberParse::FormatError, 0},  // malformed wins over too large
  };
  // clang-format on
  for (const Case& c : cases) {
    int32_t value = -99;
    EXPECT_EQ(package::parseInt32(c.text, value), c.status) << "'" << c.text << "'";
    // A failed parse must leave the target alone.
    EXPECT_EQ(value, c.status == NumberParse::Ok ? c.value : -99) << c.text;
  }
  int64_t wide = 0;
  EXPECT_EQ(package::parseInt64("-9223372036854775808", wide), NumberParse::Ok);
  EXPECT_EQ(wide, INT64_MIN);
  EXPECT_EQ(package::parseInt64("9223372036854775808", wide), NumberParse::Overflow);
}

TEST(CompareVersionComponents, ComparesNumbersNotText) {
  struct Case {
    const char *mine, *other;
    VersionOrder order;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"4.10.0.0",      "4.9.99.99",           VersionOrder::Greater},
      {"1.2.3.40.100",  "1.2.3.40.101",        VersionOrder::Less},
      {"20.1.0.38.100", "020.001.000.038.100", VersionOrder::Equal},
      {"-1.0",          "0.0",                 VersionOrder::Less},
      {"2.x",           "1.0",                 VersionOrder::Greater},  // decided before "x" is read
      {"1.x",           "1.0",                 VersionOrder::NotANumber},
      {"1.0",           "1.",                  VersionOrder::NotANumber},
  };
  // clang-format on
  for (const Case& c : cases) {
    const auto result =
        package::compareVersionComponents(package::splitAt(c.mine, '.'), package::splitAt(c.other, '.'));
    EXPECT_EQ(result.order, c.order) << c.mine << " vs " << c.other;
  }
  const auto bad =
      package::compareVersionComponents(package::splitAt("1.99999999999", '.'), package::splitAt("1.0", '.'));
  EXPECT_EQ(bad.badComponent, "99999999999");
  EXPECT_EQ(bad.problem, NumberParse::Overflow);
}

TEST(BiosVersionLine, TakesTheLastWordWhenLongEnough) {
  const std::string e9 =
      "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";  // nine letters
  struct Case {
    std::string line, version;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"        Bios Version    : 020.001.000.038.016233", "020.001.000.038.016233"},
      {"Bios Version : 1.2.3.40.100 ",  "0.0.0.0.0"},  // the last word is empty
      {"Bios Version : 1.2.3.4",        "0.0.0.0.0"},  // seven characters
      {"Bios Version : 123456789",      "123456789"},
      {"Bios Version:1.2.3.40.100",     "0.0.0.0.0"},  // two words only
      {"Bios Version : " + e9.substr(0, 10), "0.0.0.0.0"},  // ten bytes, five UTF-16 units
      {"Bios Version : " + e9,          e9},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(package::versionFromBiosVersionLine(c.line), c.version) << c.line;
  EXPECT_TRUE(package::isBiosVersionLine("  Bios Version : x"));
  EXPECT_FALSE(package::isBiosVersionLine("  BIOS Version : x"));
  EXPECT_EQ(package::utf16Length("\xF0\x9F\x98\x80"), 2u);
}

}  // namespace
