#include "simulated/trace_reader.h"

#include <charconv>
#include <fstream>
#include <system_error>

#include "platform/json_text.h"

namespace simulated {

namespace {

void skipBlanks(std::string_view text, size_t& at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
}

// true, false, null or a number, as written; the writer puts nothing else
// outside quotes.
bool isScalar(std::string_view token) {
  if (token == "true" || token == "false" || token == "null") return true;
  if (token.empty()) return false;
  for (const char c : token) {
    const bool numeric = (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
    if (!numeric) return false;
  }
  return true;
}

// `{"name":value,...}` at text[at]; members of a nested object are named
// prefix + member. `depth` 1 allows one nested object, as the writer makes.
bool readObject(std::string_view text, size_t& at, const std::string& prefix, int depth, TraceEvent& into) {
  skipBlanks(text, at);
  if (at >= text.size() || text[at] != '{') return false;
  ++at;
  skipBlanks(text, at);
  if (at < text.size() && text[at] == '}') return ++at, true;
  for (;;) {
    skipBlanks(text, at);
    std::optional<std::string> name = platform::readJsonString(text, at);
    skipBlanks(text, at);
    if (!name || at >= text.size() || text[at] != ':') return false;
    ++at;
    skipBlanks(text, at);
    if (at >= text.size()) return false;
    const std::string key = prefix + *name;
    if (text[at] == '"') {
      std::optional<std::string> value = platform::readJsonString(text, at);
      if (!value) return false;
      into.fields[key] = std::move(*value);
    } else if (text[at] == '{') {
      if (depth == 0 || !readObject(text, at, key + ".", depth - 1, into)) return false;
    } else {
      const size_t start = at;
      while (at < text.size() && text[at] != ',' && text[at] != '}' && text[at] != ' ' && text[at] != '\t')
        ++at;
      const std::string_view token = text.substr(start, at - start);
      if (!isScalar(token)) return false;
      into.fields[key] = std::string(token);
    }
    if (into.fields.size() > kMaxTraceFields) return false;
    skipBlanks(text, at);
    if (at >= text.size()) return false;
    if (text[at] == '}') return ++at, true;
    if (text[at] != ',') return false;
    ++at;
  }
}

}  // namespace

bool TraceEvent::has(std::string_view name) const { return fields.find(name) != fields.end(); }

std::string TraceEvent::get(std::string_view name) const {
  const auto found = fields.find(name);
  return found == fields.end() ? std::string() : found->second;
}

long long TraceEvent::number(std::string_view name, long long fallback) const {
  const auto found = fields.find(name);
  if (found == fields.end()) return fallback;
  const std::string& text = found->second;
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

std::map<std::string, std::string> TraceEvent::members(std::string_view object) const {
  std::map<std::string, std::string> out;
  const std::string prefix = std::string(object) + ".";
  for (auto it = fields.lower_bound(prefix); it != fields.end() && it->first.rfind(prefix, 0) == 0; ++it)
    out[it->first.substr(prefix.size())] = it->second;
  return out;
}

std::optional<TraceEvent> parseTraceLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > kMaxTraceLineBytes) return std::nullopt;
  TraceEvent event;
  size_t at = 0;
  if (!readObject(line, at, "", 1, event)) return std::nullopt;
  skipBlanks(line, at);
  if (at != line.size()) return std::nullopt;
  const auto name = event.fields.find("event");
  // A nested "event" object would leave only "event.x": no event name.
  if (name == event.fields.end() || name->second.empty()) return std::nullopt;
  event.event = name->second;
  return event;
}

TraceRead readTrace(std::string_view text) {
  TraceRead read;
  size_t number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    if (std::optional<TraceEvent> event = parseTraceLine(line))
      read.events.push_back(std::move(*event));
    else
      read.unreadableLines.push_back(number);
  }
  return read;
}

TraceRead readTraceFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return {};
  TraceRead unread;
  unread.fileRead = false;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxTraceBytes) return unread;
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<size_t>(size), '\0');
  if (!in.read(text.data(), static_cast<std::streamsize>(size))) return unread;
  return readTrace(text);
}

}  // namespace simulated
