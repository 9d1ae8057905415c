// A tool's standard output as the installer reads it: decoded and cut into
// lines as it arrives (the way the whole text was decoded and split before),
// with only the first lines kept for the log and one text watched for in all
// of it, so that memory and the log stay bounded whatever the tool prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/process.h"
#include "platform/unicode_text.h"

// At most this much of one tool's output reaches the log per call, then one
// line that says how much more there was.
inline constexpr size_t kMaxLoggedLines = 2000;
inline constexpr size_t kMaxLoggedBytes = size_t{256} << 10;

class ToolOutput {
 public:
  // Lines `keep` says no to are read and dropped; none is kept for the log.
  using LineFilter = bool (*)(std::string_view line);
  explicit ToolOutput(LineFilter keep = nullptr) : keep_(keep) {}

  // A text that must not hold a line break, looked for in every line, kept
  // or not. Set before the output arrives.
  void watchFor(std::string_view text) { watched_ = text; }

  // What runProgram hands the output to; this object must outlive the run.
  platform::OutputSink sink() {
    return [this](std::string_view bytes) { add(bytes); };
  }
  void add(std::string_view bytes);
  void finish();  // once the tool has ended and its output was read

  // The kept lines with the line ends the tool wrote: for output within the
  // bounds, exactly the decoded text.
  const std::string& keptText() const { return kept_; }
  // The last line `keep` took, kept or not (empty when none or all kept).
  const std::string& lastFilteredLine() const { return lastFiltered_; }
  bool watchedSeen() const { return seen_; }
  uint64_t linesNotKept() const { return moreLines_; }
  // "... 123 more lines (64.0 MiB) of output not logged", or empty.
  std::string notKeptLine() const;

 private:
  void scan(std::string_view text);
  void takeText(std::string_view text);
  void appendToLine(std::string_view piece);
  void endLine(std::string_view lineEnd);

  LineFilter keep_;
  platform::TextDecoder decoder_;
  std::string decoded_;  // one piece, reused

  std::string line_;  // the line so far, up to kMaxLoggedBytes of it
  uint64_t lineBytes_ = 0;
  bool afterCr_ = false;  // a line ended by CR, unless LF follows

  std::string kept_;
  size_t keptLines_ = 0;
  bool full_ = false;  // no later line is kept, so the log shows a prefix
  uint64_t moreLines_ = 0;
  uint64_t moreBytes_ = 0;
  std::string lastFiltered_;

  std::string watched_;
  std::string carry_;  // the end of the text so far, for a watched text cut in two
  bool seen_ = false;
};
