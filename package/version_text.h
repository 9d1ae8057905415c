// Numbers and versions as the package and the tools write them: decimal
// integers parsed like .NET's Int32.Parse / Int64.Parse, dotted versions
// compared number by number, and the "Bios Version" lines of amdvbflash -ai.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace package {

enum class NumberParse { Ok, FormatError, Overflow };

// Optional blanks (tab, LF, VT, FF, CR, space) around an optional sign and
// one or more ASCII digits. A well-formed number outside the type's range is
// Overflow; anything malformed is FormatError, even when it is also long.
NumberParse parseInt32(std::string_view text, int32_t& value);
NumberParse parseInt64(std::string_view text, int64_t& value);

// Text for a detail entry: "'x' is not a number" / "'x' does not fit in N bits".
std::string describeNumberProblem(std::string_view text, NumberParse problem, int bits);

enum class VersionOrder { Greater, Less, Equal, NotANumber };

struct VersionComparison {
  VersionOrder order = VersionOrder::Equal;
  std::string badComponent;  // the text that did not parse (NotANumber)
  NumberParse problem = NumberParse::Ok;
};

// Compares `mine` with `other` component by component as signed 32-bit
// numbers, stopping at the first difference, so components after it are never
// parsed. Both must have the same number of components.
VersionComparison compareVersionComponents(const std::vector<std::string_view>& mine,
                                           const std::vector<std::string_view>& other);

// Length in UTF-16 code units, the unit .NET strings count in.
size_t utf16Length(std::string_view utf8);

inline constexpr std::string_view kNoVbiosVersion = "0.0.0.0.0";

// True for a line of the -ai output that carries the VBIOS version.
bool isBiosVersionLine(std::string_view line);

// The version a "Bios Version" line names: its last blank-separated word when
// there are more than two, and only when that word is at least as long as
// "0.0.0.0.0"; otherwise "0.0.0.0.0".
std::string versionFromBiosVersionLine(std::string_view line);

}  // namespace package
