// The installation log "C:\Windows\Log\OrvoVbInst.txt": one time-stamped,
// flushed line per decision, accumulating across runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/log_words.h"
#include "platform/error.h"
#include "platform/files.h"

// A log held by another program (a reader that lets no writer in) is tried
// again this often, this far apart, before the run is written beside it: a
// program that copies or scans the file lets go well within that.
inline constexpr int kHeldLogAttempts = 4;
inline constexpr uint32_t kHeldLogPauseMs = 100;

// What the first line of a run written beside the log says after "WARNING "
// and the log's path, and before the file it went to; the log explainer
// knows such files by it.
inline constexpr std::string_view kLoggedApartMark = "; this run is logged in ";

// The open log writer of a run. When the file cannot be opened the writer
// stays usable: lines still reach standard output and the run goes on, since
// a missing log must never stop a flash that is otherwise safe to do.
class LogWriter {
 public:
  LogWriter() = default;

  // Opens `path` for appending, created if missing. Where it cannot be
  // opened for writing (held without write sharing after kHeldLogAttempts,
  // or anything in its place that is not a plain file) the run goes to a
  // new file of its own beside it, "<name>-<yyyyMMdd-HHmmss>.txt", which
  // is never an existing name. Returns the failure of `path` itself, and
  // path() names the file written, if any.
  platform::Error open(std::string_view path);
  bool isOpen() const { return file_.isOpen(); }
  const std::string& path() const { return path_; }
  void writeLine(std::string_view stampedLine);  // adds CR LF and flushes

 private:
  platform::AppendFile file_;
  std::string path_;
};

// "WARNING <log> cannot be written (<why>); this run is logged in <file>":
// the first line of a run written beside the log.
std::string loggedApartNotice(std::string_view log, const platform::Error& why, std::string_view file);

// Echoes `message` to standard output, then writes "[<date time>]<message>"
// to the log and flushes it.
void OvLog(std::string_view message, LogWriter& w);
