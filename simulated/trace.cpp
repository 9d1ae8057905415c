#include "simulated/trace.h"

#include <cstdio>

#include "simulated/machine.h"
#include "simulated/native.h"

namespace simulated {

Trace::Trace(std::string_view event) { line_ = "{\"event\":\"" + jsonEscape(event) + "\""; }

Trace& Trace::str(std::string_view name, std::string_view value) {
  line_ += ",\"" + jsonEscape(name) + "\":\"" + jsonEscape(value) + "\"";
  return *this;
}

Trace& Trace::num(std::string_view name, long long value) {
  line_ += ",\"" + jsonEscape(name) + "\":" + std::to_string(value);
  return *this;
}

Trace& Trace::boolean(std::string_view name, bool value) {
  line_ += ",\"" + jsonEscape(name) + "\":" + (value ? "true" : "false");
  return *this;
}

Trace& Trace::raw(std::string_view name, std::string_view json) {
  line_ += ",\"" + jsonEscape(name) + "\":" + std::string(json.empty() ? std::string_view("null") : json);
  return *this;
}

void Trace::write() {
  try {
    const std::string line = line_ + "}\n";
    std::FILE* file = native::openForAppend(machineFile("trace.jsonl"));
    if (file == nullptr) return;
    // A buffer larger than the line makes stdio hand the whole line to the
    // OS in one write; with O_APPEND, lines of concurrent processes then
    // never interleave.
    std::vector<char> buffer(line.size() + 64);
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  } catch (const std::exception&) {
    // The trace is an observer; failing to record must not change the run.
  }
}

}  // namespace simulated
