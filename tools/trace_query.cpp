// The shell scripts' reader of a simulated machine's trace, so that they
// match on an event's fields as the trace writer wrote them instead of on
// its JSON spelling.
//
//   trace_query <trace.jsonl> <events> [field...]
//
// <events> is one event name, several separated by commas, or "*" for all.
// Prints one line per matching event, in the order written: the named fields'
// values separated by tabs, or the event's name when no field is named. An
// absent field prints as nothing; a control character in a value as \xNN, so
// that one event stays one line. A missing file is an empty trace.
// Exit status: 0; 1 when the file or a line of it could not be read (what
// could be read is printed); 2 for a wrong command line.
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "simulated/trace_reader.h"

namespace {

std::string oneLine(std::string_view value) {
  std::string out;
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

std::set<std::string, std::less<>> eventNames(std::string_view list) {
  std::set<std::string, std::less<>> names;
  while (!list.empty()) {
    const size_t comma = list.find(',');
    names.emplace(list.substr(0, comma));
    list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
  }
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: trace_query <trace.jsonl> <event[,event...]|*> [field...]\n");
    return 2;
  }
  const std::string_view wanted = argv[2];
  const auto names = eventNames(wanted);
  const std::vector<std::string_view> fields(argv + 3, argv + argc);

  const simulated::TraceRead trace = simulated::readTraceFile(argv[1]);
  for (const simulated::TraceEvent& event : trace.events) {
    if (wanted != "*" && names.find(event.event) == names.end()) continue;
    std::string line = fields.empty() ? oneLine(event.event) : std::string();
    for (size_t i = 0; i < fields.size(); ++i) line += (i ? "\t" : "") + oneLine(event.get(fields[i]));
    std::printf("%s\n", line.c_str());
  }
  if (!trace.fileRead) {
    std::fprintf(stderr, "trace_query: %s could not be read\n", argv[1]);
    return 1;
  }
  for (const size_t number : trace.unreadableLines)
    std::fprintf(stderr, "trace_query: %s:%zu is not a trace event\n", argv[1], number);
  return trace.unreadableLines.empty() ? 0 : 1;
}
