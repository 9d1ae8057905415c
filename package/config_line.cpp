#include "package/config_line.h"

#include <utility>

#include "package/config_text.h"
#include "package/vbios_configs.h"
#include "package/version_text.h"

namespace package {

namespace {

ConfigTestHit makeHit(ConfigTest test, std::string stored) {
  ConfigTestHit hit;
  hit.test = test;
  hit.stored = std::move(stored);
  return hit;
}

std::string withoutLeadingV(std::string_view value) {
  if (!value.empty() && (value.front() == 'V' || value.front() == 'v')) value.remove_prefix(1);
  return std::string(value);
}

ConfigTestHit biosRequirement(ConfigTest test, std::string_view value) {
  ConfigTestHit hit = makeHit(test, std::string(value));
  const NumberParse parsed = parseInt32(value, hit.number);
  if (parsed != NumberParse::Ok) {
    hit.outcome = TestOutcome::Aborts;
    hit.problem = describeNumberProblem(value, parsed, 32);
  }
  // The dialog shows the requirement as the package wrote it, blanks and all.
  return hit;
}

ConfigTestHit entryTest(ConfigTest test, std::string_view key, std::string_view value) {
  ConfigTestHit hit = makeHit(test, std::string(value));
  const std::vector<std::string_view> parts = splitAt(key, '_');
  hit.piece = std::string(parts[1]);
  int32_t number = 0;
  const NumberParse parsed = parseInt32(parts[1], number);
  if (parsed == NumberParse::FormatError) {
    hit.outcome = TestOutcome::EntryNotANumber;
  } else if (parsed == NumberParse::Overflow) {
    hit.outcome = TestOutcome::Aborts;
    hit.problem = describeNumberProblem(parts[1], parsed, 32);
  } else if (number < 0 || number >= kMaxRomEntries) {
    hit.outcome = TestOutcome::EntryOutOfRange;
    hit.entry = number;
  } else {
    hit.entry = number;
  }
  return hit;
}

}  // namespace

ConfigLine readConfigLine(std::string_view line, std::string_view boardName) {
  ConfigLine reading;
  const std::vector<std::string_view> pieces = splitAt(line, '=');
  if (pieces.size() < 2) return reading;
  reading.assigns = true;
  reading.key = pieces[0];
  reading.value = pieces[1];
  reading.valueCut = pieces.size() > 2;
  const std::string_view key = reading.key, value = reading.value;
  auto& hits = reading.hits;
  auto aborted = [&] { return !hits.empty() && hits.back().outcome == TestOutcome::Aborts; };

  if (key == "ReleaseVersion") hits.push_back(makeHit(ConfigTest::ReleaseVersion, withoutLeadingV(value)));
  if (key == "VBiosType") hits.push_back(makeHit(ConfigTest::VBiosType, std::string(value)));
  // Only an exact 1 switches a closing step on; nothing switches it off,
  // so a package cannot lose a step by a later line.
  for (auto [name, test] :
       {std::pair{"ECConfig", ConfigTest::ECConfig}, {"WMIConfig", ConfigTest::WMIConfig}}) {
    if (key != name) continue;
    hits.push_back(makeHit(test, std::string(value)));
    hits.back().outcome = value == "1" ? TestOutcome::Applied : TestOutcome::ValueIgnored;
    hits.back().number = value == "1" ? 1 : 0;
  }
  if (key == "BiosVersion") {
    hits.push_back(biosRequirement(ConfigTest::BiosVersion, value));
    if (aborted()) return reading;
  }
  if (key == "VGAVersion") hits.push_back(makeHit(ConfigTest::VGAVersion, withoutLeadingV(value)));
  if (key.starts_with("VBiosHWID_")) hits.push_back(entryTest(ConfigTest::RomHwid, key, value));
  if (key.starts_with("VBiosVersion_")) hits.push_back(entryTest(ConfigTest::RomVersion, key, value));
  if (key.starts_with("VBiosROM_")) {
    hits.push_back(entryTest(ConfigTest::RomFile, key, value));
    hits.back().rawRom = value.ends_with("001") || value.ends_with("rom");
  }
  if (aborted()) return reading;
  if (key == boardName) hits.push_back(biosRequirement(ConfigTest::BoardBios, value));
  return reading;
}

}  // namespace package
