// Fields of one trace.jsonl line: the simulated machine writes flat JSON
// objects, and the rehearsal reads a few string and number fields back.
#pragma once

#include <string>
#include <string_view>

namespace kit {

// The string value of "key", JSON escapes undone; empty when absent.
std::string traceString(std::string_view line, std::string_view key);
// The integer value of "key"; -1 when absent or not an integer.
int traceNumber(std::string_view line, std::string_view key);

}  // namespace kit
