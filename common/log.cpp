#include "common/log.h"

#include <string>

#include "platform/system.h"

platform::Error LogWriter::open(std::string_view path) { return file_.open(path); }

void LogWriter::writeLine(std::string_view stampedLine) {
  if (!file_.isOpen()) return;
  std::string line(stampedLine);
  line += "\r\n";
  // A failed write is not retried: the line is already on standard output,
  // and the run's outcome must not depend on the log's disk.
  if (!file_.write(line).failed()) platform::ignoreFailure(file_.flush());
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
