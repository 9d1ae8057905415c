#include "tests/wine/emulators/machine_file.h"

#include <windows.h>

#include <cstdlib>

namespace winetest::emulators {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// A value's comment starts at a ';' or '#' at its start or after a blank, as
// in "version = 1 ; the GPU's"; the '#' inside a HID path is no comment.
std::string_view withoutComment(std::string_view value) {
  for (size_t i = 0; i < value.size(); ++i) {
    if ((value[i] == ';' || value[i] == '#') && (i == 0 || value[i - 1] == ' ' || value[i - 1] == '\t'))
      return value.substr(0, i);
  }
  return value;
}

std::wstring machineFolder() {
  std::wstring folder(32768, L'\0');
  DWORD length = GetEnvironmentVariableW(L"OVVB_MACHINE", folder.data(), static_cast<DWORD>(folder.size()));
  if (length > 0 && length < folder.size()) {
    folder.resize(length);
    return folder;
  }
  length = GetModuleFileNameW(nullptr, folder.data(), static_cast<DWORD>(folder.size()));
  if (length == 0 || length >= folder.size()) return L"machine";
  folder.resize(length);
  const size_t slash = folder.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1)) + L"machine";
}

// The whole file, or nothing when it is missing, a link or over the bound.
bool readBounded(const std::wstring& path, std::string& text, bool& missing) {
  missing = false;
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return false;
  }
  bool ok = false;
  LARGE_INTEGER size{};
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileSizeEx(file, &size) && GetFileInformationByHandle(file, &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && size.QuadPart >= 0 &&
      static_cast<unsigned long long>(size.QuadPart) <= kMaxMachineIniBytes) {
    text.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ok = text.empty() ||
         (ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr) && got == text.size());
  }
  CloseHandle(file);
  return ok;
}

}  // namespace

MachineFile MachineFile::load() {
  std::string text;
  bool missing = false;
  if (!readBounded(machineFolder() + L"\\machine.ini", text, missing)) {
    MachineFile empty;
    empty.readFailed_ = !missing;
    return empty;
  }
  MachineFile file = parse(text);
  file.found_ = true;
  return file;
}

MachineFile MachineFile::parse(std::string_view text) {
  MachineFile file;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::string section;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      section = lower(trimmed(line.substr(1, close - 1)));
      file.sections_.push_back(section);
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos || section.empty()) continue;
    file.entries_.push_back({section, lower(trimmed(line.substr(0, equals))),
                             std::string(trimmed(withoutComment(line.substr(equals + 1))))});
  }
  return file;
}

bool MachineFile::present(std::string_view section) const {
  const std::string name = lower(section);
  bool listed = false;
  for (const std::string& s : sections_) listed = listed || s == name;
  const std::optional<std::string> flag = get(section, "present");
  const std::string off = flag ? lower(*flag) : "";
  return listed && off != "no" && off != "false" && off != "0";
}

std::optional<std::string> MachineFile::get(std::string_view section, std::string_view key) const {
  const std::string s = lower(section), k = lower(key);
  std::optional<std::string> found;
  for (const IniEntry& e : entries_)
    if (e.section == s && e.key == k) found = e.value;
  return found;
}

std::vector<std::string> MachineFile::getAll(std::string_view section, std::string_view key) const {
  const std::string s = lower(section), k = lower(key);
  std::vector<std::string> values;
  for (const IniEntry& e : entries_)
    if (e.section == s && e.key == k) values.push_back(e.value);
  return values;
}

std::optional<long long> parseNumber(std::string_view text) {
  const std::string value(trimmed(text));
  if (value.empty() || value.size() > 20) return std::nullopt;
  char* end = nullptr;
  const long long number = std::strtoll(value.c_str(), &end, 0);
  if (end != value.c_str() + value.size()) return std::nullopt;
  return number;
}

}  // namespace winetest::emulators
