#include "tools/log_explain/log_reader.h"

#include "common/result_code_table.h"
#include "package/config_text.h"
#include "package/version_text.h"
#include "tools/package_check/visible_text.h"

namespace kit {

namespace {

constexpr std::string_view kRunStart = "=== VBIOS Installer ===";

// Facts worth a support person's eye, by the start of their log line.
constexpr std::string_view kFactPrefixes[] = {
    "ProductName: ",  "VbReleaseVersion: ", "VbType: ", "HWID: ",  "VGAVersion: ",
    "BIOS Version: ", "CurVbVersion: ",     "DC mode",  "AC mode", "AMD VBIOS is uptodate",
};

std::string kept(std::string_view text) {
  if (text.size() <= LogReader::kMaxKeptLine) return visibleText(text);
  return visibleText(text.substr(0, LogReader::kMaxKeptLine)) + "...";
}

}  // namespace

void LogReader::feed(std::string_view bytes) {
  size_t start = 0;
  if (afterCr_ && !bytes.empty() && bytes[0] == '\n') start = 1;
  afterCr_ = false;
  while (start < bytes.size()) {
    const size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      const std::string_view rest = bytes.substr(start);
      if (pending_.size() < kMaxKeptLine + 4) pending_ += rest.substr(0, kMaxKeptLine + 4 - pending_.size());
      pendingBytes_ += rest.size();
      return;
    }
    std::string_view piece = bytes.substr(start, end - start);
    if (!pending_.empty() || pendingBytes_ > 0) {
      if (pending_.size() < kMaxKeptLine + 4) pending_ += piece.substr(0, kMaxKeptLine + 4 - pending_.size());
      line(pending_, true);
      pending_.clear();
      pendingBytes_ = 0;
    } else {
      line(piece, true);
    }
    start = end + 1;
    if (bytes[end] == '\r') {
      if (start < bytes.size()) {
        if (bytes[start] == '\n') ++start;
      } else {
        afterCr_ = true;
      }
    }
  }
}

LogSummary LogReader::finish() {
  if (pendingBytes_ > 0) line(pending_, false);
  pending_.clear();
  pendingBytes_ = 0;
  return std::move(summary_);
}

void LogReader::line(std::string_view bytes, bool complete) {
  ++summary_.lines;
  if (firstLine_ && bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  firstLine_ = false;
  // A stray byte must not hide the rest of the line: invalid UTF-8 becomes U+FFFD.
  const std::string text = package::decodeText(bytes);
  std::string_view view = text;
  std::string stamp;
  bool stamped = false;
  if (view.starts_with('[')) {
    const size_t close = view.find(']');
    // A culture's date and time is short; anything longer is not a stamp.
    if (close != std::string_view::npos && close <= 64) {
      stamp = std::string(view.substr(1, close - 1));
      view.remove_prefix(close + 1);
      stamped = true;
    }
  }
  if (stamped && view == kRunStart) {
    LogRun run;
    run.firstLine = lastWasBlank_ ? summary_.lines - 1 : summary_.lines;
    run.started = lastWasBlank_ ? lastStamp_ : stamp;
    if (lastWasBlank_ && inRun_ && !summary_.runs.empty()) summary_.runs.back().lastLine = summary_.lines - 2;
    if (lastWasBlank_ && !inRun_ && summary_.linesBeforeFirstRun > 0 && summary_.runs.empty())
      --summary_.linesBeforeFirstRun;
    summary_.runs.push_back(std::move(run));
    inRun_ = true;
  } else if (!inRun_) {
    ++summary_.linesBeforeFirstRun;
  }
  lastWasBlank_ = stamped && view == " ";
  if (stamped) lastStamp_ = stamp;
  if (!inRun_) return;
  LogRun& run = summary_.runs.back();
  run.lastLine = summary_.lines;
  run.partialLastLine = !complete;
  // Untimed lines continue the entry before (a failure's detail).
  if (stamped) message(view);
}

void LogReader::message(std::string_view text) {
  LogRun& run = summary_.runs.back();
  if (text.starts_with("STEP") && text.find(':') != std::string_view::npos && text.size() < 80) {
    run.steps.push_back(visibleText(text));
    return;
  }
  if (text.starts_with("state ")) {
    int32_t code = 0;
    if (package::parseInt32(text.substr(6), code) == package::NumberParse::Ok) {
      run.finalCode = code;
    } else {
      run.stateText = kept(text);
    }
    return;
  }
  if (text.starts_with("ERROR") || text.starts_with("WARNING")) {
    if (run.problems.size() < kMaxProblems) {
      run.problems.push_back(kept(text));
    } else {
      ++run.moreProblems;
    }
    return;
  }
  for (std::string_view prefix : kFactPrefixes) {
    if (!text.starts_with(prefix)) continue;
    if (run.facts.size() < 16) run.facts.push_back(kept(text));
    return;
  }
}

LogSummary readInstallationLog(std::string_view bytes) {
  LogReader reader;
  reader.feed(bytes);
  return reader.finish();
}

std::string explainLog(const LogSummary& summary) {
  std::string out = std::to_string(summary.lines) + (summary.lines == 1 ? " line, " : " lines, ") + std::to_string(summary.runs.size()) +
                    (summary.runs.size() == 1 ? " run" : " runs") + "\n";
  if (summary.linesBeforeFirstRun > 0)
    out += std::to_string(summary.linesBeforeFirstRun) +
           " lines before the first run's start (\"=== VBIOS Installer ===\"): not part of any run\n";
  size_t number = 0;
  for (const LogRun& run : summary.runs) {
    ++number;
    out += "\nRun " + std::to_string(number) + " (lines " + std::to_string(run.firstLine) + "-" +
           std::to_string(run.lastLine) + "), started " +
           (run.started.empty() ? "(no time stamp)" : kept(run.started)) + "\n";
    for (const std::string& fact : run.facts) out += "  found: " + fact + "\n";
    if (run.steps.empty()) {
      out += "  steps: none reached\n";
    } else {
      out += "  steps: " + std::to_string(run.steps.size()) + " reached, the last " + run.steps.back() + "\n";
    }
    for (const std::string& problem : run.problems) out += "  logged: " + problem + "\n";
    if (run.moreProblems > 0)
      out += "  logged: " + std::to_string(run.moreProblems) + " more ERROR/WARNING lines\n";
    if (!run.finalCode) {
      out += "  result: none. The log has no state line for this run";
      out += run.partialLastLine ? " and ends inside a line" : "";
      out += !run.stateText.empty() ? " (it has '" + run.stateText + "', which is not a code)" : "";
      out += ": the run was cut off (power loss, a kill) or was still running when the log was copied\n";
      continue;
    }
    const result::Explanation meaning = result::explain(*run.finalCode);
    out += "  result: " + std::to_string(*run.finalCode) + ", " + meaning.meaning;
    if (meaning.known)
      out += " (" + std::string(result::exitPathName(meaning.exit)) + " exit" +
             (meaning.removesDriver ? ", after removing the flash tool's driver" : "") + ")";
    out += "\n  what to do: " + meaning.advice + "\n";
  }
  return out;
}

}  // namespace kit
