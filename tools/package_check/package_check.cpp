#include "tools/package_check/package_check.h"

#include <algorithm>
#include <map>
#include <optional>

#include "common/log.h"
#include "common/result_code_table.h"
#include "common/result_codes.h"
#include "package/check_rules.h"
#include "package/config_line.h"
#include "package/config_text.h"
#include "package/read_configs.h"
#include "package/vbios_configs.h"
#include "package/version_text.h"
#include "platform/ascii_text.h"
#include "platform/paths.h"
#include "tools/package_check/visible_text.h"

namespace kit {

using package::ConfigTest;
using package::TestOutcome;

const std::vector<CheckRule> kCheckRules = {
    {"folder-missing", Severity::Error, "the packages folder does not exist: 102 on every machine"},
    {"config-missing", Severity::Error, "no configs.txt in the folder: 101 on every machine"},
    {"config-too-large", Severity::Error, "configs.txt is larger than the installer reads (1 MiB): 102"},
    {"encoding", Severity::Note, "a byte-order mark: the installer reads the encoding it names"},
    {"invalid-utf8", Severity::Warning, "bytes that are not UTF-8: the installer reads them as U+FFFD"},
    {"nul-bytes", Severity::Warning, "NUL characters (often UTF-16 saved without a byte-order mark)"},
    {"line-ends-mixed", Severity::Note, "CR LF, LF and CR mixed: the installer accepts each"},
    {"line-ignored", Severity::Warning, "a line that looks like a setting but has no '=': ignored"},
    {"comment-with-equals", Severity::Warning,
     "a comment that holds '=': to the installer it is a key=value line"},
    {"key-misspelt", Severity::Warning,
     "a key close to a known one (case, blanks, a letter or two): ignored"},
    {"unknown-key", Severity::Note,
     "a key the installer knows only as a board product name's BIOS requirement"},
    {"value-cut", Severity::Warning, "a second '=': the text after it is dropped"},
    {"value-blanks", Severity::Warning, "blanks around a value: the installer keeps them"},
    {"switch-value", Severity::Warning,
     "ECConfig/WMIConfig other than 0 or 1: only exactly 1 switches the step on"},
    {"switch-not-cleared", Severity::Warning,
     "ECConfig/WMIConfig 0 after a 1: a 0 never switches the step off"},
    {"key-repeated", Severity::Warning, "a setting given twice: the last line wins"},
    {"entry-not-a-number", Severity::Warning, "an entry number that is not a number: the line is ignored"},
    {"entry-out-of-range", Severity::Warning, "an entry number outside 0..99: the line is ignored"},
    {"read-aborts", Severity::Error, "a value that stops the read: 102 on every machine"},
    {"mandatory-missing", Severity::Error,
     "ReleaseVersion, VBiosType or entry 0's data missing: 103 on every machine"},
    {"type-nvidia-path", Severity::Warning,
     "a VBiosType other than AMD, KRAMD or KRNV: it takes the NVIDIA path (an error when it looks like an "
     "AMD type)"},
    {"entry-gap", Severity::Error, "an entry after a missing entry number: never counted or matched"},
    {"entry-incomplete", Severity::Error, "an entry without its hardware ID, version or ROM"},
    {"hwid-empty", Severity::Error, "an empty hardware-ID prefix: it matches no device"},
    {"hwid-shadowed", Severity::Error, "a prefix that an earlier entry's prefix covers: never chosen"},
    {"hwid-case", Severity::Warning, "lower-case letters in a prefix: the prefix test is case-sensitive"},
    {"no-entry-can-match", Severity::Error, "no entry can match any device: 202 on every machine"},
    {"rom-refused", Severity::Error, "a ROM name the flash step refuses (outside the folder): 905"},
    {"rom-missing", Severity::Error, "a ROM file or flash program not in the folder: 905"},
    {"rom-case", Severity::Warning, "a ROM file whose name differs only in letter case"},
    {"rom-from-tools", Severity::Note, "a flash program not in the folder but among the stand-in tools"},
    {"version-format", Severity::Error, "an AMD version in a form amdvbflash never prints: 701"},
    {"version-not-a-number", Severity::Error, "a version component that is not a number: 702"},
    {"version-older", Severity::Warning, "a version older than another entry's for the same device"},
    {"driver-version-format", Severity::Error, "a VGAVersion without four components: 402 on every machine"},
    {"driver-version-not-a-number", Severity::Error, "a VGAVersion component that is not a number: 403"},
    {"tool-missing", Severity::Error, "an AMD package without amdvbflash.exe, devcon64.exe or amdtools.inf"},
    {"tool-case", Severity::Warning, "a tool whose file name differs only in letter case"},
    {"tool-supplied", Severity::Note,
     "a tool not in the folder but among the stand-in tools (the rehearsal's)"},
    {"file-unused", Severity::Note, "a file the installer never uses"},
};

std::string_view severityName(Severity severity) {
  switch (severity) {
    case Severity::Note:
      return "note";
    case Severity::Warning:
      return "warning";
    case Severity::Error:
      return "error";
  }
  return "?";
}

size_t CheckReport::count(Severity severity) const {
  return static_cast<size_t>(std::count_if(findings.begin(), findings.end(),
                                           [&](const Finding& f) { return f.severity == severity; }));
}

int CheckReport::exitCode() const {
  if (count(Severity::Error) > 0) return 2;
  return count(Severity::Warning) > 0 ? 1 : 0;
}

namespace {

// readConfigs compares keys with the notebook's board product name; the
// checker knows no notebook, so it reads with a name no line can hold and
// reports unknown keys as the board keys they may be.
constexpr std::string_view kNoBoard = "\n";
// A version as amdvbflash -ai prints it, for the form of the package's.
constexpr std::string_view kAmdVersionSample = "020.001.000.038.016233";
// A driver version as Windows reports it.
constexpr std::string_view kDriverVersionSample = "31.0.21001.45002";

std::string quoted(std::string_view text) { return "'" + visibleText(text) + "'"; }

// For the per-line reading, where a whole comment line would drown the point.
std::string shortQuoted(std::string_view text) {
  const std::string shown = visibleText(text);
  return "'" + (shown.size() > 30 ? shown.substr(0, 27) + "..." : shown) + "'";
}

size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
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

bool isStringTest(ConfigTest test) {
  return test != ConfigTest::BiosVersion && test != ConfigTest::BoardBios && test != ConfigTest::ECConfig &&
         test != ConfigTest::WMIConfig;
}

// "PCI\VEN_1002&DEV_73DF" of a longer prefix: which device an entry is for.
std::string deviceOf(std::string_view prefix) {
  const size_t dev = prefix.find("&DEV_");
  if (dev == std::string_view::npos || prefix.size() < dev + 9) return std::string(prefix);
  return std::string(prefix.substr(0, dev + 9));
}

enum class Presence { Exact, OtherCase, FromTools, Missing };

Presence findFile(const PackageFolder& folder, std::string_view name) {
  if (std::find(folder.files.begin(), folder.files.end(), name) != folder.files.end()) return Presence::Exact;
  const std::string lower = platform::lowerAscii(name);
  for (const std::string& file : folder.files)
    if (platform::lowerAscii(file) == lower) return Presence::OtherCase;
  if (std::find(folder.toolFiles.begin(), folder.toolFiles.end(), name) != folder.toolFiles.end())
    return Presence::FromTools;
  return Presence::Missing;
}

std::string otherCaseName(const PackageFolder& folder, std::string_view name) {
  const std::string lower = platform::lowerAscii(name);
  for (const std::string& file : folder.files)
    if (platform::lowerAscii(file) == lower) return file;
  return {};
}

class Checker {
 public:
  explicit Checker(const PackageFolder& folder) : folder_(folder), configs_(unopenedLog_) {}

  CheckReport run();

 private:
  void add(std::string file, size_t line, std::string_view id, std::string message,
           std::optional<Severity> severity = std::nullopt) {
    Severity chosen = Severity::Note;
    for (const CheckRule& rule : kCheckRules)
      if (rule.id == id) chosen = rule.severity;
    report_.findings.push_back(
        {std::move(file), line, severity.value_or(chosen), std::string(id), std::move(message)});
  }
  void config(size_t line, std::string_view id, std::string message, std::optional<Severity> severity = {}) {
    add("configs.txt", line, id, std::move(message), severity);
  }

  void checkEncoding(std::string_view text);
  void readLines(std::string_view text);
  std::string describeHit(const package::ConfigTestHit& hit, size_t line, std::string_view value);
  void checkUnknownKey(size_t line, std::string_view key, std::string_view value);
  void checkEntries();
  void checkEntryVersion(int i);
  void checkRom(int i);
  void checkTypeAndTools();
  void checkDriverRequirement();
  void checkUnusedFiles();
  void summarise();

  const PackageFolder& folder_;
  LogWriter unopenedLog_;  // the checker writes no installation log
  VBiosConfigs configs_;
  CheckReport report_;
  std::map<std::string, size_t> lastSetBy_;  // field -> the line that set it last
  bool ecSwitchedOn_ = false, wmiSwitchedOn_ = false;
};

void Checker::checkEncoding(std::string_view decoded) {
  const std::string_view bytes = folder_.configBytes;
  struct Mark {
    std::string_view bytes, name;
  };
  // Longest first: the UTF-32 LE mark begins like the UTF-16 LE one.
  for (const Mark mark :
       {Mark{std::string_view("\xFF\xFE\0\0", 4), "UTF-32 LE"},
        Mark{std::string_view("\0\0\xFE\xFF", 4), "UTF-32 BE"}, Mark{"\xEF\xBB\xBF", "UTF-8"},
        Mark{"\xFF\xFE", "UTF-16 LE"}, Mark{"\xFE\xFF", "UTF-16 BE"}}) {
    if (!bytes.starts_with(mark.bytes)) continue;
    config(0, "encoding",
           "starts with a " + std::string(mark.name) + " byte-order mark: the installer reads the file as " +
               std::string(mark.name) + " and drops the mark");
    break;
  }
  const std::string_view replacement = "\xEF\xBF\xBD";
  auto occurrences = [&](std::string_view text) {
    size_t n = 0;
    for (size_t at = text.find(replacement); at != std::string_view::npos;
         at = text.find(replacement, at + 3))
      ++n;
    return n;
  };
  if (occurrences(decoded) > occurrences(bytes))
    config(0, "invalid-utf8",
           "holds bytes that are not valid in its encoding: the installer reads each as U+FFFD, so a key or "
           "value holding one matches nothing the package meant");

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
    config(0, "line-ends-mixed",
           "mixes line ends (" + std::to_string(crlf) + " CR LF, " + std::to_string(lf) + " LF, " +
               std::to_string(cr) + " CR): the installer ends a line at each of them alike");
}

std::string Checker::describeHit(const package::ConfigTestHit& hit, size_t line, std::string_view value) {
  const std::string field = fieldName(hit);
  switch (hit.outcome) {
    case TestOutcome::Applied:
      break;
    case TestOutcome::ValueIgnored:
      if (value != "0")
        config(line, "switch-value",
               field + " " + quoted(value) +
                   " leaves the step as it is (off unless an earlier line set exactly 1): only the value 1 "
                   "switches it on");
      else if ((hit.test == ConfigTest::ECConfig && ecSwitchedOn_) ||
               (hit.test == ConfigTest::WMIConfig && wmiSwitchedOn_))
        config(
            line, "switch-not-cleared",
            field + " 0 does not switch the step off: an earlier line set 1, and the installer keeps it on");
      return field + " unchanged (only 1 switches it on)";
    case TestOutcome::EntryNotANumber:
      config(line, "entry-not-a-number",
             "entry number " + quoted(hit.piece) +
                 " is not a number: the installer prints \"Unable to parse '" + visibleText(hit.piece) +
                 "'\" and ignores the line");
      return "ignored: entry number " + quoted(hit.piece) + " is not a number";
    case TestOutcome::EntryOutOfRange:
      config(
          line, "entry-out-of-range",
          "entry number " + std::to_string(hit.entry) + " is outside 0..99: the installer ignores the line");
      return "ignored: entry " + std::to_string(hit.entry) + " is outside 0..99";
    case TestOutcome::Aborts:
      config(line, "read-aborts",
             "the installer stops reading here with 102 on every machine: " + visibleText(hit.problem));
      return "stops the read with 102: " + visibleText(hit.problem);
  }

  if (isStringTest(hit.test) && trimmed(value) != value)
    config(line, "value-blanks",
           "the value " + quoted(value) + " has blanks around it, and the installer keeps them in " + field);
  if (auto earlier = lastSetBy_.find(field); earlier != lastSetBy_.end())
    config(line, "key-repeated",
           field + " was already set on line " + std::to_string(earlier->second) +
               ": the installer keeps the last, this line's " + quoted(hit.stored));
  lastSetBy_[field] = line;
  if (hit.test == ConfigTest::ECConfig) ecSwitchedOn_ = true;
  if (hit.test == ConfigTest::WMIConfig) wmiSwitchedOn_ = true;

  switch (hit.test) {
    case ConfigTest::ECConfig:
    case ConfigTest::WMIConfig:
      return field + " = 1";
    case ConfigTest::BiosVersion:
    case ConfigTest::BoardBios:
      return field + " = " + std::to_string(hit.number);
    case ConfigTest::RomFile:
      return field + " = " + quoted(hit.stored) + (hit.rawRom ? " (raw ROM)" : "");
    default:
      return field + " = " + quoted(hit.stored);
  }
}

void Checker::checkUnknownKey(size_t line, std::string_view key, std::string_view value) {
  const std::string_view start = trimmed(key);
  if (start.starts_with('#') || start.starts_with(';')) {
    config(line, "comment-with-equals",
           "this is not a comment to the installer: the line holds '=', so its key is " + quoted(key) +
               ", which matches no key; the line changes nothing");
    return;
  }
  if (auto meant = likelyKey(key)) {
    config(line, "key-misspelt",
           quoted(key) +
               " is not a key the installer knows (keys are exact: case and blanks count); did you "
               "mean '" +
               *meant + "'? The installer ignores the line");
    return;
  }
  int32_t number = 0;
  const bool isNumber = package::parseInt32(value, number) == package::NumberParse::Ok;
  config(line, "unknown-key",
         quoted(key) +
             " is not a key the installer knows; it uses the line only on a notebook whose board "
             "product name is exactly " +
             quoted(key) +
             (isNumber ? ", as that board's minimum BIOS build " + std::to_string(number)
                       : ", where it stops with 102 (" + quoted(value) + " is not a number)"),
         isNumber ? Severity::Note : Severity::Warning);
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
          config(number, "line-ignored",
                 "looks like a setting but has no '=': the installer ignores the whole line");
      }
      report_.lines.push_back(std::move(reading));
      continue;
    }
    if (parsed.valueCut)
      config(number, "value-cut",
             "a second '=': the installer takes only " + quoted(parsed.value) + " and drops the rest");
    if (parsed.hits.empty()) {
      checkUnknownKey(number, parsed.key, parsed.value);
      reading.reading =
          "no known key: changes nothing (unless the board is named " + shortQuoted(parsed.key) + ")";
    }
    for (const package::ConfigTestHit& hit : parsed.hits) {
      if (!reading.reading.empty()) reading.reading += "; ";
      reading.reading += describeHit(hit, number, parsed.value);
      if (hit.outcome == TestOutcome::Aborts) stoppedAt = number;
    }
    report_.lines.push_back(std::move(reading));
  }
}

void Checker::checkEntryVersion(int i) {
  const VBiosInfo& entry = configs_.vb[i];
  const std::string n = std::to_string(i);
  const size_t line =
      lastSetBy_.count("entry " + n + " vbRomVersion") ? lastSetBy_["entry " + n + " vbRomVersion"] : 0;
  if (configs_.isAmdType()) {
    const package::UptodateDecision decision =
        package::decideUptodate(true, kAmdVersionSample, entry.vbRomVersion);
    if (decision.code == result::kUnknownVersionFormat) {
      config(line, "version-format",
             "VBiosVersion_" + n + " " + quoted(entry.vbRomVersion) +
                 " has not the five components amdvbflash -ai prints (like " +
                 std::string(kAmdVersionSample) +
                 "): the installer stops with 701 on every machine where entry " + n + " is chosen");
      return;
    }
    const std::vector<std::string_view> parts = package::splitAt(entry.vbRomVersion, '.');
    for (size_t k = 0; k < parts.size(); ++k) {
      int32_t value = 0;
      const package::NumberParse parsed = package::parseInt32(parts[k], value);
      if (parsed == package::NumberParse::Ok) continue;
      config(line, "version-not-a-number",
             "VBiosVersion_" + n + " component " +
                 package::describeNumberProblem(visibleText(parts[k]), parsed, 32) +
                 ": the installer stops with 702 " +
                 (k == 0 ? std::string("on every machine where entry ") + n + " is chosen"
                         : "wherever the GPU's version equals the components before it"));
      return;
    }
    return;
  }
  const package::UptodateDecision decision = package::decideUptodate(false, "0", entry.vbRomVersion);
  if (decision.code == result::kUptodateCheckFailed)
    config(line, "version-not-a-number",
           "VBiosVersion_" + n + " " + visibleText(decision.problem) +
               " (an NVIDIA package's version is one integer, revision * 256 + OEM revision): the installer "
               "stops with 702 on every machine where entry " +
               n + " is chosen");
}

void Checker::checkRom(int i) {
  const VBiosInfo& entry = configs_.vb[i];
  const std::string n = std::to_string(i);
  const std::string key = "entry " + n + " vbRom";
  const size_t line = lastSetBy_.count(key) ? lastSetBy_[key] : 0;
  const bool amd = configs_.isAmdType();
  const std::string what = amd ? "ROM image" : "flash program";
  if (!platform::isContainedRelativePath(entry.vbRom)) {
    config(line, "rom-refused",
           "VBiosROM_" + n + " " + quoted(entry.vbRom) +
               " is not a file name inside the packages folder: the flash step refuses it and stops with 905 "
               "wherever entry " +
               n + " is flashed");
    return;
  }
  switch (findFile(folder_, entry.vbRom)) {
    case Presence::Exact:
      return;
    case Presence::OtherCase:
      add(otherCaseName(folder_, entry.vbRom), 0, "rom-case",
          "VBiosROM_" + n + " names " + quoted(entry.vbRom) + " but the folder holds " +
              quoted(otherCaseName(folder_, entry.vbRom)) +
              ": Windows finds it, since its file names ignore case; a copy on a case-sensitive file system "
              "does not");
      return;
    case Presence::FromTools:
      add(entry.vbRom, 0, "rom-from-tools",
          "the " + what + " " + quoted(entry.vbRom) + " of VBiosROM_" + n +
              " is not in the package; the one in " + folder_.toolsFolder +
              " is a simulated stand-in: ship the real one in the package");
      return;
    case Presence::Missing:
      config(line, "rom-missing",
             "the " + what + " " + quoted(entry.vbRom) + " of VBiosROM_" + n +
                 " is not in the folder: the flash step stops with 905 wherever entry " + n + " is flashed");
      return;
  }
}

void Checker::checkEntries() {
  const int32_t counted = package::countRomEntries(configs_);
  auto lineOf = [&](int i, const char* field) {
    const auto it = lastSetBy_.find("entry " + std::to_string(i) + " " + field);
    return it == lastSetBy_.end() ? size_t{0} : it->second;
  };
  for (int i = counted; i < kMaxRomEntries; ++i) {
    const VBiosInfo& entry = configs_.vb[i];
    const std::string n = std::to_string(i);
    if (entry.vbHWID != "UNKNOWN") {
      const std::string counts =
          counted == 0 ? "counts no entry" : "counts entries 0 to " + std::to_string(counted - 1) + " only";
      config(lineOf(i, "vbHWID"), "entry-gap",
             "entry " + n + " comes after a gap: entry " + std::to_string(counted) + " has no VBiosHWID_" +
                 std::to_string(counted) + ", so the installer " + counts + " and never matches entry " + n);
    } else if (entry.vbRom != "UNKNOWN" || entry.vbRomVersion != "0.0.0.0.0") {
      config(std::max(lineOf(i, "vbRom"), lineOf(i, "vbRomVersion")), "entry-incomplete",
             "entry " + n + " has no VBiosHWID_" + n + ": the installer never counts or matches it");
    }
  }
  bool anyMatchable = false;
  for (int i = 0; i < counted; ++i) {
    const VBiosInfo& entry = configs_.vb[i];
    const std::string n = std::to_string(i);
    const size_t hwidLine = lineOf(i, "vbHWID");
    if (entry.vbHWID.empty()) {
      config(hwidLine, "hwid-empty",
             "VBiosHWID_" + n +
                 " is empty: the installer matches no device with an "
                 "empty prefix, so entry " +
                 n + " is never chosen");
      continue;
    }
    anyMatchable = true;
    for (int k = 0; k < i; ++k) {
      if (!package::hardwareIdMatches(entry.vbHWID, configs_.vb[k].vbHWID)) continue;
      config(hwidLine, "hwid-shadowed",
             "entry " + n + " can never be chosen: every hardware ID that starts with " +
                 quoted(entry.vbHWID) + " also starts with entry " + std::to_string(k) + "'s " +
                 quoted(configs_.vb[k].vbHWID) + ", and the lower entry wins");
      break;
    }
    if (std::any_of(entry.vbHWID.begin(), entry.vbHWID.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
      config(
          hwidLine, "hwid-case",
          "VBiosHWID_" + n + " " + quoted(entry.vbHWID) +
              " has lower-case letters; Windows lists PCI hardware IDs in upper case and the prefix test is "
              "case-sensitive, so it matches only a device listed in exactly this case");
    if (i > 0 && entry.vbRomVersion == "0.0.0.0.0") {
      const package::UptodateDecision decision = package::decideUptodate(
          configs_.isAmdType(), configs_.isAmdType() ? kAmdVersionSample : "0", "0.0.0.0.0");
      config(
          hwidLine, "entry-incomplete",
          "entry " + n + " has no VBiosVersion_" + n + " and keeps 0.0.0.0.0: " +
              (decision.code == result::kUpToDate
                   ? "every GPU it matches counts as up to date (1), so it never flashes"
                   : "the installer stops with " + std::to_string(decision.code) + " wherever it is chosen"));
    } else {
      checkEntryVersion(i);
    }
    if (i > 0 && entry.vbRom == "UNKNOWN")
      config(hwidLine, "entry-incomplete",
             "entry " + n + " has no VBiosROM_" + n +
                 ": the flash step looks for a file named UNKNOWN and stops with 905 wherever entry " + n +
                 " is flashed");
    else if (entry.vbRom != "UNKNOWN")
      checkRom(i);
    // Two entries for one device whose versions go backwards are usually a
    // line left over from an older package.
    for (int k = 0; k < i; ++k) {
      const VBiosInfo& other = configs_.vb[k];
      if (other.vbHWID.empty() || deviceOf(other.vbHWID) != deviceOf(entry.vbHWID)) continue;
      const bool amd = configs_.isAmdType();
      // checkUptodate's 0 means "current below package": strictly older.
      if (package::decideUptodate(amd, entry.vbRomVersion, other.vbRomVersion).code == result::kSuccess) {
        config(lineOf(i, "vbRomVersion"), "version-older",
               "entry " + n + " installs " + quoted(entry.vbRomVersion) + ", older than entry " +
                   std::to_string(k) + "'s " + quoted(other.vbRomVersion) + " for the same device " +
                   quoted(deviceOf(entry.vbHWID)));
      } else if (package::decideUptodate(amd, other.vbRomVersion, entry.vbRomVersion).code ==
                 result::kSuccess) {
        config(lineOf(k, "vbRomVersion"), "version-older",
               "entry " + std::to_string(k) + " installs " + quoted(other.vbRomVersion) +
                   ", older than entry " + n + "'s " + quoted(entry.vbRomVersion) + " for the same device " +
                   quoted(deviceOf(entry.vbHWID)));
      }
    }
  }
  if (counted > 0 && !anyMatchable)
    config(0, "no-entry-can-match", "the installer stops with 202 on every machine: no entry can match");
}

void Checker::checkTypeAndTools() {
  const std::string& type = configs_.VbType;
  const size_t line = lastSetBy_.count("VbType") ? lastSetBy_["VbType"] : 0;
  if (type != "UNKNOWN" && !package::isAmdPackageType(type) && type != "KRNV") {
    const std::string folded = platform::lowerAscii(trimmed(type));
    const bool looksAmd = folded == "amd" || folded == "kramd";
    config(line, "type-nvidia-path",
           "VBiosType " + quoted(type) + (looksAmd ? "" : " is not a type the installer knows; it") +
               " takes the NVIDIA path on every machine (NVAPI, integer versions, the package's own flash "
               "program): only AMD and KRAMD, exactly, take the AMD path",
           looksAmd ? Severity::Error : Severity::Warning);
  }
  if (!configs_.isAmdType()) return;
  struct Tool {
    const char* name;
    const char* without;
  };
  for (const Tool tool :
       {Tool{"devcon64.exe",
             "the flash tool's driver cannot be installed: 1003 on every machine with a matching GPU"},
        Tool{"amdtools.inf",
             "devcon64.exe is given a driver file that is not there: the driver install fails, 1002 from the "
             "device console's failing exit"},
        Tool{"amdvbflash.exe", "no VBIOS version can be read: 2004 on every machine with a matching GPU"}}) {
    switch (findFile(folder_, tool.name)) {
      case Presence::Exact:
        break;
      case Presence::OtherCase:
        add(otherCaseName(folder_, tool.name), 0, "tool-case",
            "named " + quoted(otherCaseName(folder_, tool.name)) + " instead of " + tool.name +
                ": Windows finds it, since its file names ignore case; a copy on a case-sensitive file "
                "system "
                "does not");
        break;
      case Presence::FromTools:
        add(tool.name, 0, "tool-supplied",
            std::string("not in the package; the one in ") + folder_.toolsFolder +
                " is a simulated stand-in the rehearsal uses. Ship the real one in the package: without it " +
                tool.without);
        break;
      case Presence::Missing:
        add(tool.name, 0, "tool-missing",
            std::string("an AMD package needs it in the folder; without it ") + tool.without);
        break;
    }
  }
}

void Checker::checkDriverRequirement() {
  if (configs_.VbReqVGAVersion == "0.0.0.0") return;
  const size_t line = lastSetBy_.count("VbReqVGAVersion") ? lastSetBy_["VbReqVGAVersion"] : 0;
  const package::DriverVersionDecision decision =
      package::decideDriverVersion(configs_.VbReqVGAVersion, kDriverVersionSample);
  if (decision.formatMismatch) {
    config(line, "driver-version-format",
           "VGAVersion " + quoted(configs_.VbReqVGAVersion) +
               " has not the four components of a Windows driver version (like " +
               std::string(kDriverVersionSample) + "): the installer stops with 402 on every machine");
    return;
  }
  const std::vector<std::string_view> parts = package::splitAt(configs_.VbReqVGAVersion, '.');
  for (size_t k = 0; k < parts.size(); ++k) {
    int32_t value = 0;
    const package::NumberParse parsed = package::parseInt32(parts[k], value);
    if (parsed == package::NumberParse::Ok) continue;
    config(line, "driver-version-not-a-number",
           "VGAVersion component " + package::describeNumberProblem(visibleText(parts[k]), parsed, 32) +
               ": the installer stops with 403 " +
               (k == 0 ? std::string("on every machine")
                       : "wherever the driver's version equals the components before it"));
    return;
  }
}

void Checker::checkUnusedFiles() {
  std::vector<std::string> used = {"configs.txt"};
  if (configs_.isAmdType()) used.insert(used.end(), {"amdvbflash.exe", "devcon64.exe", "amdtools.inf"});
  for (int i = 0; i < package::countRomEntries(configs_); ++i) used.push_back(configs_.vb[i].vbRom);
  for (const std::string& file : folder_.files) {
    const std::string lower = platform::lowerAscii(file);
    if (std::none_of(used.begin(), used.end(),
                     [&](const std::string& u) { return platform::lowerAscii(u) == lower; }))
      add(file, 0, "file-unused", "no setting of configs.txt names it: the installer never uses it");
  }
}

void Checker::summarise() {
  auto& s = report_.summary;
  s.push_back("readConfigs returns " + std::to_string(report_.readResult) + " (" +
              (report_.readResult == 0 ? std::string("read, mandatory data present")
                                       : result::explain(report_.readResult).meaning) +
              ")");
  if (report_.readResult == result::kConfigNotFound || report_.readResult == result::kConfigUnreadable)
    return;
  s.push_back("VbReleaseVersion " + quoted(configs_.VbReleaseVersion) + ", VbType " +
              quoted(configs_.VbType) + " (" + (configs_.isAmdType() ? "AMD" : "NVIDIA") + " path)");
  s.push_back("VbReqBios " + std::to_string(configs_.VbReqBios) + (configs_.VbReqBios == 1 ? " (none)" : "") +
              ", VbReqVGAVersion " + quoted(configs_.VbReqVGAVersion) +
              (configs_.VbReqVGAVersion == "0.0.0.0" ? " (none)" : ""));
  s.push_back("ECConfig " + std::to_string(configs_.ECConfig) + ", WMIConfig " +
              std::to_string(configs_.WMIConfig));
  const int32_t counted = package::countRomEntries(configs_);
  s.push_back("VbCount " + std::to_string(counted));
  for (int i = 0; i < counted; ++i)
    s.push_back("entry " + std::to_string(i) + ": " + quoted(configs_.vb[i].vbHWID) + " -> " +
                quoted(configs_.vb[i].vbRom) + ", version " + quoted(configs_.vb[i].vbRomVersion));
}

CheckReport Checker::run() {
  if (!folder_.exists) {
    add("", 0, "folder-missing",
        "the packages folder does not exist: the installer stops with 102 on every machine");
    report_.readResult = result::kConfigUnreadable;
  } else if (!folder_.hasConfig) {
    add("configs.txt", 0, "config-missing", "no configs.txt: the installer stops with 101 on every machine");
    report_.readResult = result::kConfigNotFound;
  } else if (folder_.configSize > kMaxConfigFileBytes) {
    config(0, "config-too-large",
           "configs.txt has " + std::to_string(folder_.configSize) + " bytes, more than the " +
               std::to_string(kMaxConfigFileBytes) +
               " the installer reads: it stops with 102 on every machine");
    report_.readResult = result::kConfigUnreadable;
  }
  if (report_.readResult != 0) {
    summarise();
    return std::move(report_);
  }

  const std::string text = package::decodeText(folder_.configBytes);
  checkEncoding(text);
  if (const size_t nul = text.find('\0'); nul != std::string::npos) {
    const size_t line =
        static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(nul), '\n')) +
        1;
    config(line, "nul-bytes",
           "holds NUL characters (a UTF-16 file saved without a byte-order mark reads like this): they stay "
           "in the "
           "keys and values, which then match nothing the package meant");
  }
  readLines(text);

  std::string problem;
  report_.readResult = package::applyConfigText(configs_, text, kNoBoard, problem);
  if (report_.readResult == result::kSuccess) {
    const std::vector<std::string_view> missing = package::missingMandatoryData(configs_);
    if (!missing.empty()) {
      std::string names;
      for (std::string_view name : missing) names += (names.empty() ? "" : ", ") + std::string(name);
      config(0, "mandatory-missing", "the installer stops with 103 on every machine: no " + names);
      report_.readResult = result::kConfigIncomplete;
    }
  }
  if (report_.readResult != result::kConfigUnreadable) {
    checkTypeAndTools();
    checkDriverRequirement();
    checkEntries();
    checkUnusedFiles();
  }
  summarise();
  // configs.txt first, line by line, then the folder's other files.
  std::stable_sort(report_.findings.begin(), report_.findings.end(), [](const Finding& a, const Finding& b) {
    const bool aConfig = a.file == "configs.txt", bConfig = b.file == "configs.txt";
    if (aConfig != bConfig) return aConfig;
    return aConfig && a.line < b.line;
  });
  return std::move(report_);
}

}  // namespace

CheckReport checkPackage(const PackageFolder& folder) { return Checker(folder).run(); }

}  // namespace kit
