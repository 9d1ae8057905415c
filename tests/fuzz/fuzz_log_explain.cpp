// Arbitrary bytes through the log explainer's reader, whole and in two
// pieces split where the first byte says: both must read the same runs; and
// through the state record's reader.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/log_explain/log_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const kit::LogSummary whole = kit::readInstallationLog(bytes);
  kit::LogReader reader;
  const size_t split = size ? data[0] % (size + 1) : 0;
  reader.feed(bytes.substr(0, split));
  reader.feed(bytes.substr(split));
  const kit::LogSummary pieces = reader.finish();
  if (whole.lines != pieces.lines || whole.runs.size() != pieces.runs.size()) __builtin_trap();
  for (size_t i = 0; i < whole.runs.size(); ++i)
    if (whole.runs[i].finalCode != pieces.runs[i].finalCode || whole.runs[i].steps != pieces.runs[i].steps)
      __builtin_trap();
  kit::explainLog(whole);
  // The same bytes as a registry export of the state record.
  std::string problem;
  const std::optional<int32_t> state = kit::readStateRecord(bytes, problem);
  if (!state && problem.empty()) __builtin_trap();
  kit::compareStateRecord(whole, state, problem);
  return 0;
}
