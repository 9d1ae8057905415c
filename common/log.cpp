#include "common/log.h"

#include <string>

#include "platform/system.h"

namespace {

std::string twoDigits(int value) {
  return std::string(1, char('0' + value / 10 % 10)) + char('0' + value % 10);
}

// "C:\Windows\Log\OrvoVbInst.txt" at 2026-12-09 16:01:02 with `extra` 1:
// "C:\Windows\Log\OrvoVbInst-20261209-160102.txt"; 2 and up add "-2" ...
std::string besideName(std::string_view path, const platform::LocalTime& t, int extra) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.find_last_of("\\/");
  const bool hasExtension = dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
  std::string name(path.substr(0, hasExtension ? dot : path.size()));
  name += "-" + std::to_string(t.year) + twoDigits(t.month) + twoDigits(t.day) + "-" + twoDigits(t.hour) +
          twoDigits(t.minute) + twoDigits(t.second);
  if (extra > 1) name += "-" + std::to_string(extra);
  name += hasExtension ? path.substr(dot) : std::string_view(".txt");
  return name;
}

}  // namespace

platform::Error LogWriter::open(std::string_view path) {
  path_.clear();
  platform::Error error = file_.open(path);
  for (int attempt = 1; attempt < kHeldLogAttempts && error.code == platform::kErrorSharingViolation;
       ++attempt) {
    platform::sleepMs(kHeldLogPauseMs);
    error = file_.open(path);
  }
  if (!error.failed()) {
    path_ = path;
    return error;
  }
  // Any reader of the log could otherwise keep a run from being logged at
  // all. A name taken (a run in the same second) is never reused or followed.
  const platform::LocalTime now = platform::localNow();
  for (int extra = 1; extra <= 9; ++extra) {
    const std::string beside = besideName(path, now, extra);
    const platform::Error besideError = file_.open(beside, platform::AppendFile::Creation::CreateNew);
    if (!besideError.failed()) {
      path_ = beside;
      break;
    }
    if (besideError.code != platform::kErrorAlreadyExists) break;
  }
  return error;
}

void LogWriter::writeLine(std::string_view stampedLine) {
  if (!file_.isOpen()) return;
  std::string line(stampedLine);
  line += "\r\n";
  // A failed write is not retried: the line is already on standard output,
  // and the run's outcome must not depend on the log's disk.
  if (!file_.write(line).failed()) platform::ignoreFailure(file_.flush());
}

std::string loggedApartNotice(std::string_view log, const platform::Error& why, std::string_view file) {
  return "WARNING " + std::string(log) + " cannot be written (" + why.message + ")" +
         std::string(kLoggedApartMark) + std::string(file);
}

void OvLog(std::string_view message, LogWriter& w) {
  std::string echo(message);
  echo += "\r\n";  // as Console.WriteLine ends a line on Windows
  platform::writeStandardOutput(echo);

  const platform::LocalTime now = platform::localNow();
  std::string line = "[" + platform::logTimestamp(now) + "]";
  line += message;
  w.writeLine(line);
}
