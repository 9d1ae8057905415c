// trace.jsonl, the simulated machine's record of what the program did that a
// person or a device could see: one JSON object per line, "event" first, then
// flat fields of strings, numbers and booleans, and at most one level of
// nested object (a dialog's buttons). Read back by simulated/trace_reader.h.
#pragma once

#include <string>
#include <string_view>

#include "platform/json_text.h"

namespace simulated {

// Appends one JSON object line to trace.jsonl:
//   Trace("process.end").str("program", p).num("exit_code", 3).write();
class Trace {
 public:
  explicit Trace(std::string_view event);
  Trace& str(std::string_view name, std::string_view value);
  Trace& num(std::string_view name, long long value);
  Trace& boolean(std::string_view name, bool value);
  Trace& raw(std::string_view name, std::string_view json);  // an object or array
  void write();

 private:
  std::string line_;
};

// The trace's string text (callers that build a raw object use it too).
using platform::jsonEscape;

}  // namespace simulated
