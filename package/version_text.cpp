#include "package/version_text.h"

#include <limits>

#include "package/config_text.h"

namespace package {

namespace {

// The white space that NumberStyles.Integer lets surround a number.
bool isNumberBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

template <typename Int>
NumberParse parseInteger(std::string_view text, Int& value) {
  size_t begin = 0, end = text.size();
  while (begin < end && isNumberBlank(text[begin])) ++begin;
  while (end > begin && isNumberBlank(text[end - 1])) --end;
  bool negative = false;
  if (begin < end && (text[begin] == '+' || text[begin] == '-')) {
    negative = text[begin] == '-';
    ++begin;
  }
  if (begin == end) return NumberParse::FormatError;
  for (size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return NumberParse::FormatError;
  }
  // Accumulate towards the sign so that the type's minimum is reachable.
  Int result = 0;
  for (size_t i = begin; i < end; ++i) {
    const Int digit = static_cast<Int>(text[i] - '0');
    if (negative) {
      if (result < (std::numeric_limits<Int>::min() + digit) / 10) return NumberParse::Overflow;
      result = static_cast<Int>(result * 10 - digit);
    } else {
      if (result > (std::numeric_limits<Int>::max() - digit) / 10) return NumberParse::Overflow;
      result = static_cast<Int>(result * 10 + digit);
    }
  }
  value = result;
  return NumberParse::Ok;
}

}  // namespace

NumberParse parseInt32(std::string_view text, int32_t& value) { return parseInteger(text, value); }

NumberParse parseInt64(std::string_view text, int64_t& value) { return parseInteger(text, value); }

std::string describeNumberProblem(std::string_view text, NumberParse problem, int bits) {
  std::string detail = "'" + std::string(text) + "'";
  if (problem == NumberParse::Overflow) {
    detail += " does not fit in a signed " + std::to_string(bits) + "-bit integer";
  } else {
    detail += " is not a number";
  }
  return detail;
}

VersionComparison compareVersionComponents(const std::vector<std::string_view>& mine,
                                           const std::vector<std::string_view>& other) {
  VersionComparison comparison;
  for (size_t i = 0; i < mine.size() && i < other.size(); ++i) {
    int32_t a = 0, b = 0;
    for (auto [text, number] : {std::pair{mine[i], &a}, std::pair{other[i], &b}}) {
      const NumberParse parsed = parseInt32(text, *number);
      if (parsed != NumberParse::Ok) {
        comparison.order = VersionOrder::NotANumber;
        comparison.badComponent = std::string(text);
        comparison.problem = parsed;
        return comparison;
      }
    }
    if (a != b) {
      comparison.order = a > b ? VersionOrder::Greater : VersionOrder::Less;
      return comparison;
    }
  }
  comparison.order = VersionOrder::Equal;
  return comparison;
}

size_t utf16Length(std::string_view utf8) {
  size_t units = 0;
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;  // every sequence start is one unit...
    if (byte >= 0xF0) ++units;           // ...and a four-byte one needs a surrogate pair
  }
  return units;
}

bool isBiosVersionLine(std::string_view line) { return line.find("Bios Version") != std::string_view::npos; }

std::string versionFromBiosVersionLine(std::string_view line) {
  const std::vector<std::string_view> words = splitAt(line, ' ');
  if (words.size() <= 2) return std::string(kNoVbiosVersion);
  const std::string_view candidate = words.back();
  if (utf16Length(candidate) < utf16Length(kNoVbiosVersion)) return std::string(kNoVbiosVersion);
  return std::string(candidate);
}

}  // namespace package
