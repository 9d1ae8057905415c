// A tool's standard output as the installer reads it: decoded and cut into
// lines as it arrives, as a text reader would split the whole text, with only
// its first and last lines kept for the log and one text watched for in all
// of it, so that memory and the log stay bounded whatever the tool prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "platform/unicode_text.h"

// At most this much of one tool's output reaches the log per call: its first
// lines, one line that says how much was left out, and its last lines, where
// tools print what went wrong. The bytes are shared out half and half.
inline constexpr size_t kMaxLoggedLines = 2000;
inline constexpr size_t kMaxLoggedBytes = size_t{256} << 10;
inline constexpr size_t kMaxLoggedFirstLines = kMaxLoggedLines / 2;
inline constexpr size_t kMaxLoggedLastLines = kMaxLoggedLines - kMaxLoggedFirstLines;

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

  // The first lines kept, with the line ends the tool wrote: for output
  // within the bounds, exactly the decoded text.
  const std::string& keptText() const { return kept_; }
  // The last lines kept, after those left out (empty when none were).
  std::string lastKeptText() const;
  bool watchedSeen() const { return seen_; }
  uint64_t linesNotKept() const { return moreLines_; }
  // "... 123 more lines (64.0 MiB) of output not logged", or empty; it goes
  // between keptText() and lastKeptText().
  std::string notKeptLine() const;

 private:
  void scan(std::string_view text);
  void takeText(std::string_view text);
  void appendToLine(std::string_view piece);
  void endLine(std::string_view lineEnd);
  void keepLast(std::string_view lineEnd, uint64_t bytes);
  void leaveOut(uint64_t lines, uint64_t bytes);

  LineFilter keep_;
  platform::TextDecoder decoder_;
  std::string decoded_;  // one piece, reused

  std::string line_;  // the line so far, up to kMaxLoggedBytes of it
  uint64_t lineBytes_ = 0;
  bool afterCr_ = false;  // a line ended by CR, unless LF follows

  std::string kept_;
  size_t keptLines_ = 0;
  bool full_ = false;  // the first lines are in: later ones go to the ring
  // The last lines, a ring of kMaxLoggedLastLines reused strings (each with
  // its line end) once the first lines are in.
  std::vector<std::string> last_;
  size_t lastBegin_ = 0;
  size_t lastCount_ = 0;
  size_t lastBytes_ = 0;
  uint64_t moreLines_ = 0;
  uint64_t moreBytes_ = 0;

  std::string watched_;
  std::string carry_;  // the end of the text so far, for a watched text cut in two
  bool seen_ = false;
};
