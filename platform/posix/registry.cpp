// HKEY_LOCAL_MACHINE of the simulated machine, kept as a regedit export in
// <machine root>/registry.reg. Writes change one value and keep every other
// line as it was, so a machine described by hand stays readable.
#include "platform/registry.h"

#include <errno.h>

#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/posix/native_files.h"
#include "platform/registry_value.h"
#include "platform/simulation.h"
#include "platform/unicode_text.h"

namespace platform {

namespace {

constexpr size_t kMaxRegistryFile = size_t{16} << 20;
constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

// Serialises read-modify-write cycles of this process.
std::mutex registryMutex;

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// A section's key as the file spells it, with the HKLM short form expanded
// and no trailing separator.
std::string canonicalKey(std::string_view key) {
  key = trim(key);
  while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  std::string out(key);
  const std::string lower = lowerAscii(key.substr(0, 5));
  if (lower == "hklm\\" || lower == "hklm") out = "HKEY_LOCAL_MACHINE" + out.substr(4);
  return out;
}

// A caller's key as the file spells it, the root in capitals; empty for a
// key outside the machine hive, which Windows would refuse.
std::string callerKey(std::string_view key) {
  std::string_view subkey;
  if (!machineSubkey(key, subkey)) return {};
  return subkey.empty() ? std::string("HKEY_LOCAL_MACHINE") : "HKEY_LOCAL_MACHINE\\" + std::string(subkey);
}

std::string utf16LeToUtf8(std::string_view bytes) {
  std::string out;
  decodeUtf16(bytes, false, out);
  return out;
}

std::string utf8ToUtf16Le(std::string_view text) {
  std::string out;
  for (const char16_t unit : utf8ToUtf16(text)) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

// regedit writes UTF-16LE with a BOM; people and our own writes use UTF-8.
std::string decodeRegFile(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    return utf16LeToUtf8(bytes.substr(2));
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return std::string(bytes);
}

// One logical line of the file: a value whose hex data is continued with a
// trailing backslash spans several physical lines, kept together verbatim.
struct RegLine {
  enum Kind { kOther, kKey, kValue } kind = kOther;
  std::vector<std::string> physical;
  std::string key;          // kKey: lower-case key
  std::string name;         // kValue: lower-case value name ("" = default)
  std::string spelledName;  // kValue: the name as the file spells it
  size_t dataStart = 0;     // kValue: offset of the data after '=' in the joined text
};

struct RegFile {
  std::vector<RegLine> lines;
  std::string newline = "\n";
};

std::string joined(const RegLine& line) {
  std::string out;
  for (size_t i = 0; i < line.physical.size(); ++i) {
    std::string_view part = line.physical[i];
    if (i + 1 < line.physical.size()) {
      part = trim(part);
      part.remove_suffix(1);  // the continuation backslash
    } else if (i > 0) {
      part = trim(part);
    }
    out += part;
  }
  return out;
}

// Parses a quoted name or text at `text[pos]` (which is '"'); `pos` ends
// after the closing quote. nullopt when the quote is never closed.
std::optional<std::string> parseQuoted(std::string_view text, size_t& pos) {
  std::string out;
  for (++pos; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '\\' && pos + 1 < text.size()) {
      out += text[++pos];
    } else if (c == '"') {
      ++pos;
      return out;
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

void classify(RegLine& line, std::string& currentKey) {
  const std::string text = joined(line);
  const std::string_view body = trim(text);
  if (!body.empty() && body.front() == '[') {
    const size_t close = body.rfind(']');
    const std::string_view inside =
        body.substr(1, close == std::string_view::npos ? body.size() - 1 : close - 1);
    if (!inside.empty() && inside.front() == '-') {
      currentKey.clear();  // a key deletion; values after it belong nowhere
      return;
    }
    line.kind = RegLine::kKey;
    line.key = lowerAscii(canonicalKey(inside));
    currentKey = line.key;
    return;
  }
  if (currentKey.empty() || body.empty()) return;
  size_t pos = static_cast<size_t>(body.data() - text.data());
  std::string name;
  if (text[pos] == '@') {
    ++pos;
  } else if (text[pos] == '"') {
    std::optional<std::string> quoted = parseQuoted(text, pos);
    if (!quoted) return;
    name = std::move(*quoted);
  } else {
    return;
  }
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  if (pos >= text.size() || text[pos] != '=') return;
  line.kind = RegLine::kValue;
  line.key = currentKey;
  line.name = lowerAscii(name);
  line.spelledName = std::move(name);
  line.dataStart = pos + 1;
}

RegFile parseRegFile(std::string_view text) {
  RegFile file;
  if (text.find("\r\n") != std::string_view::npos) file.newline = "\r\n";
  std::vector<std::string> physical;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    physical.emplace_back(line);
    start = end + 1;
  }
  std::string currentKey;
  for (size_t i = 0; i < physical.size(); ++i) {
    RegLine line;
    line.physical.push_back(physical[i]);
    const std::string_view first = trim(physical[i]);
    const bool continues = !first.empty() && first.front() != '[' && first.back() == '\\' &&
                           first.find('=') != std::string_view::npos &&
                           first.find("=\"") == std::string_view::npos;
    if (continues) {
      while (i + 1 < physical.size() && !trim(line.physical.back()).empty() &&
             trim(line.physical.back()).back() == '\\') {
        line.physical.push_back(physical[++i]);
      }
    }
    classify(line, currentKey);
    file.lines.push_back(std::move(line));
  }
  return file;
}

std::string serialize(const RegFile& file) {
  std::string out;
  for (const RegLine& line : file.lines) {
    for (const std::string& part : line.physical) {
      out += part;
      out += file.newline;
    }
  }
  return out;
}

// Index of the value's line (the last one, as regedit's import would leave
// it), or -1.
long findValue(const RegFile& file, const std::string& key, const std::string& name) {
  long found = -1;
  for (size_t i = 0; i < file.lines.size(); ++i) {
    const RegLine& line = file.lines[i];
    if (line.kind == RegLine::kValue && line.key == key && line.name == name) found = static_cast<long>(i);
  }
  return found;
}

bool hasKey(const RegFile& file, const std::string& key) {
  for (const RegLine& line : file.lines) {
    if (line.kind == RegLine::kKey && line.key == key) return true;
  }
  return false;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> parseHexBytes(std::string_view text) {
  std::string bytes;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) ++i;
    if (i >= text.size()) break;
    if (i + 1 >= text.size() || hexDigit(text[i]) < 0 || hexDigit(text[i + 1]) < 0) return std::nullopt;
    bytes += static_cast<char>(hexDigit(text[i]) * 16 + hexDigit(text[i + 1]));
    i += 2;
  }
  return bytes;
}

std::string hexBytes(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) out += ',';
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string valueName(std::string_view name) { return name.empty() ? std::string("@") : quoted(name); }

std::string registryPath() {
  const SimulationHooks* machine = simulation();
  return machine != nullptr && machine->machineRoot != nullptr ? machine->machineRoot() + "/registry.reg"
                                                               : std::string("registry.reg");
}

void traceSet(const SimulatedRegistrySet& value) {
  if (const SimulationHooks* machine = simulation(); machine != nullptr && machine->registrySet != nullptr)
    machine->registrySet(value);
}

// Reads registry.reg; a missing file is an empty registry.
Error loadRegistry(RegFile& file, bool& existed) {
  std::string bytes;
  const std::string path = registryPath();
  existed = true;
  Error error = posix::readNativeFile(path, bytes, kMaxRegistryFile);
  if (error.failed()) {
    if (error.code == kErrorFileNotFound) {
      existed = false;
      file = RegFile{};
      return {};
    }
    return error;
  }
  file = parseRegFile(decodeRegFile(bytes));
  return {};
}

Error writeValue(std::string_view key, std::string_view name, const std::string& data) {
  const std::string keyText = callerKey(key);
  if (keyText.empty()) return makeError(kErrorInvalidParameter, "RegSetValueEx " + std::string(key));
  const std::string keyLower = lowerAscii(keyText);
  const std::string nameLower = lowerAscii(name);
  const std::string newLine = valueName(name) + "=" + data;
  try {
    std::lock_guard<std::mutex> lock(registryMutex);
    RegFile file;
    bool existed = false;
    if (Error error = loadRegistry(file, existed); error.failed()) return error;
    if (!existed) {
      RegLine header;
      header.physical = {std::string(kHeader)};
      file.lines.push_back(std::move(header));
    }
    RegLine value;
    value.kind = RegLine::kValue;
    value.key = keyLower;
    value.name = nameLower;
    value.physical = {newLine};
    const long at = findValue(file, keyLower, nameLower);
    if (at >= 0) {
      // Windows keeps a value name's first spelling when it is written again.
      value.physical = {valueName(file.lines[static_cast<size_t>(at)].spelledName) + "=" + data};
      file.lines[static_cast<size_t>(at)] = std::move(value);
    } else if (hasKey(file, keyLower)) {
      // After the last value of the key's last section, before blank lines.
      size_t insertAt = 0;
      std::string current;
      for (size_t i = 0; i < file.lines.size(); ++i) {
        const RegLine& line = file.lines[i];
        if (line.kind == RegLine::kKey) current = line.key;
        if (current == keyLower && (line.kind == RegLine::kKey || line.kind == RegLine::kValue))
          insertAt = i + 1;
        if (line.kind != RegLine::kKey && line.kind != RegLine::kValue && !trim(joined(line)).empty() &&
            trim(joined(line)).front() == '[') {
          current.clear();
        }
      }
      file.lines.insert(file.lines.begin() + static_cast<long>(insertAt), std::move(value));
    } else {
      while (!file.lines.empty() && trim(joined(file.lines.back())).empty()) file.lines.pop_back();
      RegLine blank;
      blank.physical = {""};
      RegLine header;
      header.kind = RegLine::kKey;
      header.key = keyLower;
      header.physical = {"[" + keyText + "]"};
      file.lines.push_back(blank);
      file.lines.push_back(std::move(header));
      file.lines.push_back(std::move(value));
    }
    return posix::writeNativeFileAtomic(registryPath(), serialize(file));
  } catch (const std::exception&) {
    return makeError(kErrorNotEnoughMemory, "RegSetValueEx " + keyText);
  }
}

bool needsHexString(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

// The type and data of a value line as RegQueryValueEx would give them:
// "text", dword:<hex> and hex(<type>):<bytes>, hex: being REG_BINARY.
// False when the line is not one of these.
bool parseValueData(std::string_view data, uint32_t& type, std::string& bytes) {
  const std::string lower = lowerAscii(data.substr(0, 8));
  if (!data.empty() && data.front() == '"') {
    size_t pos = 0;
    std::optional<std::string> value = parseQuoted(data, pos);
    if (!value) return false;
    type = static_cast<uint32_t>(RegistryType::Text);
    bytes = utf8ToUtf16Le(*value) + std::string(2, '\0');
    return true;
  }
  if (lower.rfind("dword:", 0) == 0) {
    const std::string_view digits = trim(data.substr(6));
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t number = 0;
    for (char c : digits) {
      if (hexDigit(c) < 0) return false;
      number = number * 16 + static_cast<uint32_t>(hexDigit(c));
    }
    type = static_cast<uint32_t>(RegistryType::Dword);
    bytes.clear();
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(number >> (8 * i) & 0xFF);
    return true;
  }
  size_t colon = 0;
  if (lower.rfind("hex:", 0) == 0) {
    type = static_cast<uint32_t>(RegistryType::Binary);
    colon = 3;
  } else if (lower.rfind("hex(", 0) == 0) {
    const size_t close = data.find("):");
    if (close == std::string_view::npos || close == 4 || close > 12) return false;
    type = 0;
    for (char c : data.substr(4, close - 4)) {
      if (hexDigit(c) < 0) return false;
      type = type * 16 + static_cast<uint32_t>(hexDigit(c));
    }
    colon = close + 1;
  } else {
    return false;
  }
  std::optional<std::string> parsed = parseHexBytes(data.substr(colon + 1));
  if (!parsed) return false;
  bytes = std::move(*parsed);
  return true;
}

}  // namespace

RegistryString readRegistryString(std::string_view key, std::string_view name) {
  RegistryString result;
  const std::string keyText = callerKey(key);
  const std::string operation =
      "RegGetValue " + (keyText.empty() ? std::string(key) : keyText) + "\\" + std::string(name);
  try {
    if (keyText.empty()) {
      result.error = makeError(kErrorInvalidParameter, operation);
      return result;
    }
    RegFile file;
    bool existed = false;
    {
      std::lock_guard<std::mutex> lock(registryMutex);
      if (Error error = loadRegistry(file, existed); error.failed()) {
        result.error = makeError(error.code, operation);
        return result;
      }
    }
    const std::string keyLower = lowerAscii(keyText);
    if (!hasKey(file, keyLower)) {
      result.status = RegistryStatus::KeyMissing;
      result.error = makeError(kErrorFileNotFound, operation);
      return result;
    }
    const long at = findValue(file, keyLower, lowerAscii(name));
    const RegLine* line = at < 0 ? nullptr : &file.lines[static_cast<size_t>(at)];
    const std::string text = line == nullptr ? std::string() : joined(*line);
    const std::string_view data =
        line == nullptr ? "-" : trim(std::string_view(text).substr(line->dataStart));
    if (data == "-") {  // no line, or one that deletes the value
      result.status = RegistryStatus::ValueMissing;
      result.error = makeError(kErrorFileNotFound, operation);
      return result;
    }
    uint32_t type = 0;
    std::string bytes;
    const uint32_t code =
        parseValueData(data, type, bytes) ? registryValueText(type, bytes, result.value) : kErrorInvalidData;
    if (code != 0) {
      result.value.clear();
      result.error = makeError(code, operation);
      return result;
    }
    result.status = RegistryStatus::Ok;
    return result;
  } catch (const std::exception&) {
    result.status = RegistryStatus::Failed;
    result.value.clear();
    result.error = makeError(kErrorNotEnoughMemory, operation);
    return result;
  }
}

Error writeRegistryDword(std::string_view key, std::string_view name, uint32_t value) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", value);
  Error error = writeValue(key, name, std::string("dword:") + digits);
  if (error.failed()) return error;
  const std::string canonical = callerKey(key);
  traceSet({.key = canonical, .name = name, .isDword = true, .dword = value, .text = {}});
  return {};
}

Error writeRegistryString(std::string_view key, std::string_view name, std::string_view value) {
  if ((utf8ToUtf16(value).size() + 1) * 2 > kMaxRegistryValueBytes)
    return makeError(kErrorInvalidParameter, "RegSetValueEx " + callerKey(key) + "\\" + std::string(name));
  // A line break inside "..." would split the value across lines of the
  // file; such text is stored the way regedit stores it, as UTF-16 hex.
  const std::string data = needsHexString(value)
                               ? "hex(1):" + hexBytes(utf8ToUtf16Le(value) + std::string(2, '\0'))
                               : quoted(value);
  Error error = writeValue(key, name, data);
  if (error.failed()) return error;
  const std::string canonical = callerKey(key);
  traceSet({.key = canonical, .name = name, .isDword = false, .dword = 0, .text = value});
  return {};
}

}  // namespace platform
