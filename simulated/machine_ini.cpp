#include "simulated/machine_ini.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

#include "platform/ascii_text.h"
#include "simulated/machine.h"
#include "simulated/machine_keys.h"

namespace simulated {

namespace fs = std::filesystem;

namespace {

// machine.ini is written by people and by emulators; anything larger than
// this is not a machine description and is read as empty.
constexpr std::uintmax_t kMaxIniBytes = 4u << 20;

using platform::lowerAscii;

std::string_view trim(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// One parsed line of machine.ini. Comments and blank lines stay kNone so a
// rewrite can hand them back untouched.
struct IniLine {
  enum Kind { kNone, kSection, kKey } kind = kNone;
  std::string name;  // lower-case section or key
  std::string value;
};

// A comment starts at ';' or '#' at the start of the value or after a blank:
// values such as "\\?\hid#vid_..." or "MB:A1;SN:B2;" carry those characters.
size_t commentStart(std::string_view value) {
  for (size_t i = 0; i < value.size(); ++i) {
    if ((value[i] == ';' || value[i] == '#') && (i == 0 || value[i - 1] == ' ' || value[i - 1] == '\t')) {
      return i;
    }
  }
  return std::string_view::npos;
}

IniLine parseLine(std::string_view raw) {
  IniLine line;
  const std::string_view text = trim(raw);
  if (text.empty() || text.front() == ';' || text.front() == '#') return line;
  if (text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return line;
    line.kind = IniLine::kSection;
    line.name = lowerAscii(trim(text.substr(1, close - 1)));
    return line;
  }
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0) return line;
  line.kind = IniLine::kKey;
  line.name = lowerAscii(trim(text.substr(0, equals)));
  std::string_view value = trim(text.substr(equals + 1));
  value = trim(value.substr(0, commentStart(value)));
  line.value = std::string(value);
  return line;
}

// Splits keeping each line's own terminator, so CRLF files stay CRLF.
std::vector<std::string_view> splitKeepingEnds(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::string_view lineBody(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// Rewrites "key = old ; comment" as "key = value ; comment", keeping the
// key's spelling, the spacing around '=' and any trailing comment.
std::string rewriteKeyLine(std::string_view line, std::string_view value) {
  const std::string_view body = lineBody(line);
  const std::string_view ending = line.substr(body.size());
  const size_t equals = body.find('=');
  size_t valueStart = equals + 1;
  while (valueStart < body.size() && (body[valueStart] == ' ' || body[valueStart] == '\t')) ++valueStart;
  const std::string_view rest = body.substr(valueStart);
  const size_t comment = commentStart(rest);
  std::string out(body.substr(0, valueStart));
  out += value;
  if (comment != std::string_view::npos) {
    // Keep the comment's column where the old value left room for it.
    std::string_view gap = rest.substr(0, comment);
    const std::string_view oldValue = trim(gap);
    gap.remove_prefix(oldValue.size());
    out += gap.empty() ? std::string_view(" ") : gap;
    out += rest.substr(comment);
  }
  out += ending;
  return out;
}

std::string updatedText(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value) {
  const std::string wantSection = lowerAscii(trim(section));
  const std::string wantKey = lowerAscii(trim(key));
  const std::vector<std::string_view> lines = splitKeepingEnds(text);
  const std::string newline = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";

  std::string current;
  long keyLine = -1;
  long lastLineOfSection = -1;  // last non-blank line inside the wanted section
  for (size_t i = 0; i < lines.size(); ++i) {
    const IniLine line = parseLine(lines[i]);
    if (line.kind == IniLine::kSection) {
      current = line.name;
      if (current == wantSection) lastLineOfSection = static_cast<long>(i);
      continue;
    }
    if (current != wantSection) continue;
    if (!trim(lines[i]).empty()) lastLineOfSection = static_cast<long>(i);
    if (line.kind == IniLine::kKey && line.name == wantKey) keyLine = static_cast<long>(i);
  }

  std::string out;
  const std::string newKeyLine = std::string(trim(key)) + " = " + std::string(value);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (static_cast<long>(i) == keyLine) {
      out += rewriteKeyLine(lines[i], value);
      continue;
    }
    out += lines[i];
    if (keyLine < 0 && static_cast<long>(i) == lastLineOfSection) {
      if (lineBody(lines[i]).size() == lines[i].size()) out += newline;
      out += newKeyLine + newline;
    }
  }
  if (keyLine < 0 && lastLineOfSection < 0) {
    if (!out.empty() && out.back() != '\n') out += newline;
    if (!out.empty()) out += newline;
    out += "[" + std::string(trim(section)) + "]" + newline + newKeyLine + newline;
  }
  return out;
}

// Every read goes through the key table: a key read without a row is a
// reader's misspelling or an undocumented key, said once per process (on
// standard error, which the tests' outputs show) rather than read silently.
void requireListed(std::string_view section, std::string_view key) {
  if (findMachineKey(section, key) != nullptr) return;
  static std::atomic<int> said{0};
  if (said.fetch_add(1) < 8)
    std::fprintf(stderr,
                 "simulated machine: [%.*s] %.*s is read but has no row in simulated/machine_keys.h\n",
                 static_cast<int>(section.size()), section.data(), static_cast<int>(key.size()), key.data());
}

const MachineIni::Entry* lastEntry(const MachineIni& ini, std::string_view section, std::string_view key) {
  requireListed(section, key);
  const auto found = ini.sections.find(lowerAscii(section));
  if (found == ini.sections.end()) return nullptr;
  const std::string wanted = lowerAscii(key);
  for (auto it = found->second.rbegin(); it != found->second.rend(); ++it) {
    if (it->key == wanted) return &*it;
  }
  return nullptr;
}

}  // namespace

MachineIni MachineIni::parse(std::string_view text) {
  MachineIni ini;
  std::string current;
  bool inSection = false;
  for (std::string_view raw : splitKeepingEnds(text)) {
    IniLine line = parseLine(raw);
    if (line.kind == IniLine::kSection) {
      current = line.name;
      inSection = true;
      ini.sections[current];  // an empty section still means "present"
    } else if (line.kind == IniLine::kKey && inSection) {
      ini.sections[current].push_back(Entry{std::move(line.name), std::move(line.value)});
    }
  }
  return ini;
}

MachineIni MachineIni::load() {
  std::string text;
  if (!readWholeFile(machineFile("machine.ini"), kMaxIniBytes, text)) return MachineIni{};
  return parse(text);
}

bool MachineIni::hasSection(std::string_view section) const {
  return sections.count(lowerAscii(section)) != 0;
}

bool MachineIni::present(std::string_view section) const {
  return hasSection(section) && getBool(section, "present", true);
}

std::string MachineIni::get(std::string_view section, std::string_view key, std::string_view fallback) const {
  const Entry* entry = lastEntry(*this, section, key);
  return entry != nullptr ? entry->value : std::string(fallback);
}

std::vector<std::string> MachineIni::getAll(std::string_view section, std::string_view key) const {
  requireListed(section, key);
  std::vector<std::string> values;
  const auto found = sections.find(lowerAscii(section));
  if (found == sections.end()) return values;
  const std::string wanted = lowerAscii(key);
  for (const Entry& entry : found->second) {
    if (entry.key == wanted) values.push_back(entry.value);
  }
  return values;
}

long long MachineIni::getInt(std::string_view section, std::string_view key, long long fallback) const {
  const Entry* entry = lastEntry(*this, section, key);
  if (entry == nullptr) return fallback;
  std::string_view text = entry->value;
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  unsigned long long magnitude = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return fallback;
  // 0xFFFFFFFF-style values are read as the unsigned numbers they spell.
  if (magnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) return fallback;
  const auto value = static_cast<long long>(magnitude);
  return negative ? -value : value;
}

double MachineIni::getDouble(std::string_view section, std::string_view key, double fallback) const {
  const Entry* entry = lastEntry(*this, section, key);
  if (entry == nullptr || entry->value.empty()) return fallback;
  std::string_view text = entry->value;
  if (text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return fallback;
  return value;
}

bool MachineIni::getBool(std::string_view section, std::string_view key, bool fallback) const {
  const Entry* entry = lastEntry(*this, section, key);
  if (entry == nullptr) return fallback;
  const std::string value = lowerAscii(entry->value);
  if (value == "yes" || value == "true" || value == "1" || value == "on") return true;
  if (value == "no" || value == "false" || value == "0" || value == "off") return false;
  return fallback;
}

bool MachineIni::update(std::string_view section, std::string_view key, std::string_view value) {
  // A line break in the value would smuggle extra keys into the file.
  if (value.find_first_of("\r\n") != std::string_view::npos || trim(key).empty() ||
      key.find_first_of("=\r\n[") != std::string_view::npos) {
    return false;
  }
  try {
    const fs::path path = machineFile("machine.ini");
    std::string text;
    std::error_code ec;
    if (fs::exists(path, ec) && !readWholeFile(path, kMaxIniBytes, text)) return false;
    return replaceWholeFile(path, updatedText(text, section, key, trim(value)));
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace simulated
