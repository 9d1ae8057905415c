// trace.jsonl read back, the one reader beside the one writer
// (simulated/trace.h): the rehearsal, the end-to-end tests and the scripts'
// trace_query read the trace through it. Linked on its own (ovvb_trace_reader),
// so a program that only reads a trace is not put on a simulated machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simulated {

// One line of the trace read back.
struct TraceEvent {
  std::string event;
  // Every field, "event" too: strings with their escapes undone, numbers,
  // true, false and null as written. The members of a nested object are
  // named "object.member" ("buttons.button1").
  std::map<std::string, std::string, std::less<>> fields;

  bool has(std::string_view name) const;
  std::string get(std::string_view name) const;  // "" when absent
  // An integer field; `fallback` when absent or not an integer.
  long long number(std::string_view name, long long fallback) const;
  // The members of a nested object, by member name; empty when absent.
  std::map<std::string, std::string> members(std::string_view object) const;
};

// What the reader takes from one line and one file; beyond these a line is
// unreadable and a file is not read (a trace of a whole rehearsal is a few
// hundred kilobytes).
inline constexpr size_t kMaxTraceLineBytes = 64 * 1024;
inline constexpr size_t kMaxTraceFields = 256;
inline constexpr std::uintmax_t kMaxTraceBytes = 64u << 20;

// Nothing when the line is not one trace object (blank, cut short, over the
// bounds, no string "event").
std::optional<TraceEvent> parseTraceLine(std::string_view line);

struct TraceRead {
  std::vector<TraceEvent> events;       // in the order written
  std::vector<size_t> unreadableLines;  // 1-based; blank lines are neither
  bool fileRead = true;                 // false when the file is there but unreadable or over kMaxTraceBytes
};
TraceRead readTrace(std::string_view text);
// A missing file is an empty trace: nothing has been recorded yet.
TraceRead readTraceFile(const std::filesystem::path& path);

}  // namespace simulated
