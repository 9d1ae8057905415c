// configs.txt as text: its encoding, its lines and what each key does.
#include <algorithm>

#include "package/config_text.h"
#include "package/version_text.h"
#include "platform/ascii_text.h"
#include "platform/unicode_text.h"
#include "tools/package_check/checker.h"
#include "tools/package_check/edit_distance.h"
#include "tools/package_check/visible_text.h"

namespace kit {

using package::ConfigTest;
using package::TestOutcome;

std::string quoted(std::string_view text) { return "'" + visibleText(text) + "'"; }

std::string_view trimmed(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

namespace {

// readConfigs compares keys with the notebook's board product name; the
// checker knows no notebook, so it reads with a name no line can hold and
// reports unknown keys as the board keys they may be.
constexpr std::string_view kNoBoard = "\n";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// For the per-line reading, where a whole comment line would drown the point.
std::string shortQuoted(std::string_view text) {
  const std::string shown = visibleText(text);
  return "'" + (shown.size() > 30 ? shown.substr(0, 27) + "..." : shown) + "'";
}

// The known key a mistyped one was probably meant to be, with its entry
// number kept: "VBiosHWlD_1" -> "VBiosHWID_1".
std::optional<std::string> likelyKey(std::string_view key) {
  const std::string_view core = trimmed(key);
  for (const package::ConfigKey& known : package::kConfigKeys) {
    std::string_view stem = core, number;
    std::string_view name = known.name;
    if (known.numbered) {
      const size_t digits = core.find_last_not_of("0123456789");
      if (digits == std::string_view::npos || digits + 1 == core.size()) continue;
      number = core.substr(digits + 1);
      stem = core.substr(0, digits + 1);
      if (stem.ends_with('_')) stem.remove_suffix(1);
      name.remove_suffix(1);  // the underscore
    }
    if (editDistance(platform::lowerAscii(stem), platform::lowerAscii(name)) <= 2) {
      return std::string(known.numbered ? known.name : name) + std::string(number);
    }
  }
  return std::nullopt;
}

std::string fieldName(const package::ConfigTestHit& hit) {
  const std::string n = std::to_string(hit.entry);
  switch (hit.test) {
    case ConfigTest::ReleaseVersion:
      return "VbReleaseVersion";
    case ConfigTest::VBiosType:
      return "VbType";
    case ConfigTest::ECConfig:
      return "ECConfig";
    case ConfigTest::WMIConfig:
      return "WMIConfig";
    case ConfigTest::BiosVersion:
    case ConfigTest::BoardBios:
      return "VbReqBios";
    case ConfigTest::VGAVersion:
      return "VbReqVGAVersion";
    case ConfigTest::RomHwid:
      return "entry " + n + " vbHWID";
    case ConfigTest::RomVersion:
      return "entry " + n + " vbRomVersion";
    case ConfigTest::RomFile:
      return "entry " + n + " vbRom";
  }
  return "?";
}

// The key as the author writes it, for what authors read; fieldName is the
// checker's own bookkeeping.
std::string keyName(const package::ConfigTestHit& hit) {
  const std::string n = std::to_string(hit.entry);
  switch (hit.test) {
    case ConfigTest::ReleaseVersion:
      return "ReleaseVersion";
    case ConfigTest::VBiosType:
      return "VBiosType";
    case ConfigTest::ECConfig:
      return "ECConfig";
    case ConfigTest::WMIConfig:
      return "WMIConfig";
    case ConfigTest::BiosVersion:
      return "BiosVersion";
    case ConfigTest::BoardBios:
      return "the board's BIOS line";
    case ConfigTest::VGAVersion:
      return "VGAVersion";
    case ConfigTest::RomHwid:
      return "VBiosHWID_" + n;
    case ConfigTest::RomVersion:
      return "VBiosVersion_" + n;
    case ConfigTest::RomFile:
      return "VBiosROM_" + n;
  }
  return "?";
}

// What a line that took effect means on a notebook, in the package's words.
std::string plainReading(const package::ConfigTestHit& hit, bool amd) {
  const std::string n = std::to_string(hit.entry);
  const std::string key = keyName(hit);
  const std::string value = quoted(hit.stored);
  switch (hit.test) {
    case ConfigTest::ReleaseVersion:
      return key + " = " + value + ": the package's version, recorded as DisplayVersion after an install";
    case ConfigTest::VBiosType:
      return key + " = " + value + ": " +
             (package::isAmdPackageType(hit.stored) ? "the AMD path (amdvbflash flashes the ROM images)"
                                                    : "the NVIDIA path (the package's own flash program)");
    case ConfigTest::ECConfig:
      return key + " = 1: the dock controller's configuration is updated after the flash";
    case ConfigTest::WMIConfig:
      return key + " = 1: the PCIe link is set back to Gen4 after the flash";
    case ConfigTest::BiosVersion:
      return key + " = " + std::to_string(hit.number) + ": " +
             (hit.number == 1 ? std::string("no notebook BIOS requirement")
                              : "the notebook BIOS must be " + std::to_string(hit.number) + " or newer");
    case ConfigTest::BoardBios:
      return "on a notebook of this board the BIOS must be " + std::to_string(hit.number) + " or newer";
    case ConfigTest::VGAVersion:
      return key + " = " + value + ": " +
             (hit.stored == "0.0.0.0" ? std::string("no graphics driver requirement")
                                      : "the graphics driver must be " + value + " or newer");
    case ConfigTest::RomHwid:
      return key + " = " + value + ": entry " + n + " is for a GPU whose hardware ID starts with it";
    case ConfigTest::RomVersion:
      return key + " = " + value + ": entry " + n +
             " installs this version and flashes a GPU whose VBIOS is older";
    case ConfigTest::RomFile:
      return key + " = " + value + ": entry " + n + "'s " +
             (amd ? std::string("ROM image") + (hit.rawRom ? " (raw ROM)" : "")
                  : std::string("flash program"));
  }
  return key + " = " + value;
}

bool isStringTest(ConfigTest test) {
  return test != ConfigTest::BiosVersion && test != ConfigTest::BoardBios && test != ConfigTest::ECConfig &&
         test != ConfigTest::WMIConfig;
}

size_t occurrences(std::string_view text, std::string_view what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// A UTF-16 file saved without its mark: every other byte of its ASCII text
// is NUL. A few NULs in a UTF-8 file are another fault (nul-bytes).
bool looksLikeUtf16WithoutMark(std::string_view bytes) {
  if (bytes.size() < 4) return false;
  size_t evenNul = 0, oddNul = 0;
  for (size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == '\0') ++(i % 2 ? oddNul : evenNul);
  const size_t half = bytes.size() / 2;
  return std::max(evenNul, oddNul) * 10 >= half * 8;
}

}  // namespace

bool Checker::checkEncoding(std::string_view decoded) {
  const std::string_view bytes = folder_.configBytes;
  const platform::ByteOrderMark* mark = platform::byteOrderMarkOf(bytes);
  if (mark != nullptr)
    addConfigFinding(0, Rule::Encoding,
                     "starts with a " + std::string(mark->name) +
                         " byte-order mark: the installer reads the file as " + std::string(mark->name) +
                         " and drops the mark");
  if (mark == nullptr && looksLikeUtf16WithoutMark(bytes)) {
    addConfigFinding(
        1, Rule::WrongEncoding,
        "the file is UTF-16 saved without a byte-order mark: the installer reads it as UTF-8, every key then "
        "holds NUL characters and matches nothing, and it stops with 103 on every machine. Save configs.txt "
        "as UTF-8 (or as UTF-16 with its byte-order mark)");
    return false;
  }
  if (occurrences(decoded, kReplacement) > occurrences(bytes, kReplacement)) {
    size_t number = 0, first = 0, lines = 0;
    for (std::string_view line : package::splitLines(decoded)) {
      ++number;
      if (line.find(kReplacement) == std::string_view::npos) continue;
      if (first == 0) first = number;
      ++lines;
    }
    addConfigFinding(
        first, Rule::InvalidUtf8,
        "holds bytes that are not valid " +
            std::string(mark != nullptr ? "in the encoding its mark names" : "UTF-8") +
            (lines > 1 ? " (on " + std::to_string(lines) + " lines, this the first)" : "") +
            ": the installer reads each as U+FFFD, so a key or value holding one matches nothing the package "
            "meant. Save configs.txt as UTF-8");
  }

  size_t crlf = 0, lf = 0, cr = 0;
  for (size_t i = 0; i < decoded.size(); ++i) {
    if (decoded[i] == '\r' && i + 1 < decoded.size() && decoded[i + 1] == '\n') {
      ++crlf;
      ++i;
    } else if (decoded[i] == '\r') {
      ++cr;
    } else if (decoded[i] == '\n') {
      ++lf;
    }
  }
  if ((crlf > 0) + (lf > 0) + (cr > 0) > 1)
    addConfigFinding(0, Rule::LineEndsMixed,
                     "mixes line ends (" + std::to_string(crlf) + " CR LF, " + std::to_string(lf) + " LF, " +
                         std::to_string(cr) + " CR): the installer ends a line at each of them alike");
  if (const size_t nul = decoded.find('\0'); nul != std::string::npos) {
    const size_t line = static_cast<size_t>(std::count(
                            decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(nul), '\n')) +
                        1;
    addConfigFinding(
        line, Rule::NulBytes,
        "holds NUL characters: they stay in the keys and values, which then match nothing the package meant. "
        "Save configs.txt as UTF-8 without them");
  }
  return true;
}

std::string Checker::checkHit(const package::ConfigTestHit& hit, size_t line, std::string_view value) {
  const std::string field = fieldName(hit), key = keyName(hit);
  switch (hit.outcome) {
    case TestOutcome::Applied:
      break;
    case TestOutcome::ValueIgnored:
      if (value != "0")
        addConfigFinding(
            line, Rule::SwitchValue,
            key + " " + quoted(value) +
                " leaves the step as it is (off unless an earlier line set exactly 1): only the value 1 "
                "switches it on");
      else if ((hit.test == ConfigTest::ECConfig && ecSwitchedOn_) ||
               (hit.test == ConfigTest::WMIConfig && wmiSwitchedOn_))
        addConfigFinding(
            line, Rule::SwitchNotCleared,
            key + " 0 does not switch the step off: an earlier line set 1, and the installer keeps it on");
      return key + " " + quoted(value) + ": changes nothing (only 1 switches the step on)";
    case TestOutcome::EntryNotANumber:
      addConfigFinding(line, Rule::EntryNotANumber,
                       "entry number " + quoted(hit.piece) +
                           " is not a number: the installer prints \"Unable to parse '" +
                           visibleText(hit.piece) + "'\" and ignores the line");
      return "ignored: entry number " + quoted(hit.piece) + " is not a number";
    case TestOutcome::EntryOutOfRange:
      addConfigFinding(
          line, Rule::EntryOutOfRange,
          "entry number " + std::to_string(hit.entry) + " is outside 0..99: the installer ignores the line");
      return "ignored: entry " + std::to_string(hit.entry) + " is outside 0..99";
    case TestOutcome::Aborts:
      addConfigFinding(
          line, Rule::ReadAborts,
          "the installer stops reading here with 102 on every machine: " + visibleText(hit.problem));
      return "stops the read with 102: " + visibleText(hit.problem);
  }

  if (isStringTest(hit.test) && trimmed(value) != value)
    addConfigFinding(
        line, Rule::ValueBlanks,
        "the value " + quoted(value) + " has blanks around it, and the installer keeps them in " + key);
  if (auto earlier = lastSetBy_.find(field); earlier != lastSetBy_.end())
    addConfigFinding(line, Rule::KeyRepeated,
                     key + " was already set on line " + std::to_string(earlier->second) +
                         ": the installer keeps the last, this line's " + quoted(hit.stored));
  lastSetBy_[field] = line;
  if (hit.test == ConfigTest::ECConfig) ecSwitchedOn_ = true;
  if (hit.test == ConfigTest::WMIConfig) wmiSwitchedOn_ = true;

  return plainReading(hit, configs_.isAmdType());
}

void Checker::checkUnknownKey(size_t line, std::string_view key, std::string_view value) {
  const std::string_view start = trimmed(key);
  if (start.starts_with('#') || start.starts_with(';')) {
    addConfigFinding(line, Rule::CommentWithEquals,
                     "this is not a comment to the installer: the line holds '=', so its key is " +
                         quoted(key) + ", which matches no key; the line changes nothing");
    return;
  }
  if (auto meant = likelyKey(key)) {
    addConfigFinding(
        line, Rule::KeyMisspelt,
        quoted(key) +
            " is not a key the installer knows (keys are exact: case and blanks count); did you mean '" +
            *meant + "'? The installer ignores the line");
    return;
  }
  int32_t number = 0;
  if (package::parseInt32(value, number) == package::NumberParse::Ok) {
    boardLines_.push_back({std::string(key), line, number});
    return;
  }
  // A value that begins like a number was meant as a board's BIOS build.
  const std::string_view shown = trimmed(value);
  const bool meantAsNumber =
      !shown.empty() && ((shown[0] >= '0' && shown[0] <= '9') || shown[0] == '-' || shown[0] == '+');
  addConfigFinding(
      line, meantAsNumber ? Rule::BoardValueAborts : Rule::UnknownKey,
      quoted(key) + " is not a key the installer knows; on a notebook whose board product name is exactly " +
          quoted(key) + " it is that board's BIOS requirement, and there the installer stops with 102 (" +
          quoted(value) + " is not a number)" + (meantAsNumber ? ": write the build number alone" : ""),
      meantAsNumber ? Severity::Error : Severity::Warning);
}

void Checker::checkBoardLines() {
  const size_t biosLine = lineOf("VbReqBios");
  for (const BoardLine& board : boardLines_) {
    size_t lastOfBoard = board.line;
    for (const BoardLine& other : boardLines_)
      if (other.board == board.board) lastOfBoard = std::max(lastOfBoard, other.line);
    const std::string intro =
        quoted(board.board) +
        " is not a key the installer knows; it uses the line only on a notebook whose board "
        "product name is exactly " +
        quoted(board.board);
    if (biosLine > board.line && biosLine > lastOfBoard) {
      addConfigFinding(
          board.line, Rule::BoardBiosOverridden,
          intro + ", and there BiosVersion on line " + std::to_string(biosLine) +
              " comes later and wins (the later of the two lines counts): such a notebook needs BIOS build " +
              std::to_string(configs_.VbReqBios) + ", not " + std::to_string(board.number) +
              ". Put the board's line after BiosVersion");
    } else if (lastOfBoard > board.line) {
      addConfigFinding(
          board.line, Rule::UnknownKey,
          intro + "; line " + std::to_string(lastOfBoard) + " names the same board later and wins there");
    } else {
      addConfigFinding(board.line, Rule::UnknownKey,
                       intro + ", as that board's minimum BIOS build " + std::to_string(board.number) +
                           (biosLine > 0 ? " (it comes after BiosVersion, so it wins there)" : ""));
    }
  }
}

void Checker::readLines(std::string_view text) {
  size_t number = 0;
  std::optional<size_t> stoppedAt;
  for (std::string_view line : package::splitLines(text)) {
    ++number;
    LineReading reading{number, visibleText(line), {}};
    if (stoppedAt) {
      reading.reading = "not read: the read stopped at line " + std::to_string(*stoppedAt);
      report_.lines.push_back(std::move(reading));
      continue;
    }
    const package::ConfigLine parsed = package::readConfigLine(line, kNoBoard);
    if (!parsed.assigns) {
      const std::string_view start = trimmed(line);
      reading.reading = start.empty() ? "blank" : "ignored (no '=')";
      if (!start.empty() && !start.starts_with('#') && !start.starts_with(';')) {
        const std::string_view word = start.substr(0, start.find_first_of(" \t:"));
        if (likelyKey(word))
          addConfigFinding(number, Rule::LineIgnored,
                           "looks like a setting but has no '=': the installer ignores the whole line");
      }
      report_.lines.push_back(std::move(reading));
      continue;
    }
    if (parsed.valueCut)
      addConfigFinding(
          number, Rule::ValueCut,
          "a second '=': the installer takes only " + quoted(parsed.value) + " and drops the rest");
    if (parsed.hits.empty()) {
      checkUnknownKey(number, parsed.key, parsed.value);
      reading.reading =
          "no known key: changes nothing (unless the board is named " + shortQuoted(parsed.key) + ")";
    }
    for (const package::ConfigTestHit& hit : parsed.hits) {
      if (!reading.reading.empty()) reading.reading += "; ";
      reading.reading += checkHit(hit, number, parsed.value);
      if (hit.outcome == TestOutcome::Aborts) stoppedAt = number;
    }
    report_.lines.push_back(std::move(reading));
  }
}

}  // namespace kit
