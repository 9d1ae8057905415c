// The installation log "C:\Windows\Log\OrvoVbInst.txt": one time-stamped,
// flushed line per decision, accumulating across runs.
#pragma once

#include <string>
#include <string_view>

#include "common/log_words.h"
#include "platform/error.h"
#include "platform/files.h"

// The open log writer of a run. When the file cannot be opened the writer
// stays usable: lines still reach standard output and the run goes on, since
// a missing log must never stop a flash that is otherwise safe to do.
class LogWriter {
 public:
  LogWriter() = default;
  platform::Error open(std::string_view path);  // append, create if missing
  bool isOpen() const { return file_.isOpen(); }
  void writeLine(std::string_view stampedLine);  // adds CR LF and flushes

 private:
  platform::AppendFile file_;
};

// Echoes `message` to standard output, then writes "[<date time>]<message>"
// to the log and flushes it.
void OvLog(std::string_view message, LogWriter& w);
