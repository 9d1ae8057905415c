// Reads an installation log (OrvoVbInst.txt) of any size, from any culture,
// with other runs around the one that matters, and takes it apart run by
// run. Fed in pieces, so memory stays bounded by what a run summary keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kit {

struct LogRun {
  size_t firstLine = 0, lastLine = 0;
  std::string started;                // the time stamp as written, in the user's culture
  std::vector<std::string> steps;     // the STEP lines reached, in order
  std::optional<int32_t> finalCode;   // from the "state N" line
  std::string stateText;              // the state line's text when it is not a number
  std::vector<std::string> problems;  // ERROR and WARNING lines, the first kMaxProblems
  size_t moreProblems = 0;
  std::vector<std::string> facts;  // what the run found: package, GPU, versions, power
  bool partialLastLine = false;    // the log ends inside this run's last line
  // Required and found, as the run logged them ("" when it did not get there).
  std::string type, requiredBios, foundBios, requiredDriver, foundDriver, foundVbios;
  int targetEntry = -1;
  std::vector<std::string> entryVersions, entryRoms;  // by entry number, as configs.txt gave them
  bool flashStarted = false;                          // step 9 ran the flash tool or program
  bool flashConfirmed = false;                        // AMD's tool printed its completion line
};

struct LogSummary {
  std::vector<LogRun> runs;
  size_t lines = 0;
  size_t linesBeforeFirstRun = 0;  // lines of no run (a damaged or foreign start)
  // A run written beside the installation log, because the log could not be
  // written, opens its file with a line that says so: that line.
  std::string loggedApart;
};

class LogReader {
 public:
  static constexpr size_t kMaxProblems = 8;
  static constexpr size_t kMaxKeptLine = 300;  // longer lines are cut for the summary, and counted whole

  void feed(std::string_view bytes);
  LogSummary finish();

 private:
  void line(std::string_view bytes, bool complete);
  void message(std::string_view text);

  LogSummary summary_;
  std::string pending_;      // an unfinished line, kept up to kMaxKeptLine bytes
  size_t pendingBytes_ = 0;  // its whole length
  bool afterCr_ = false;     // the last piece ended in CR: a following LF belongs to it
  bool firstLine_ = true;
  std::string lastStamp_;  // of the line before, for a run's start
  bool lastWasBlank_ = false;
  bool inRun_ = false;
  // A failure's detail is the entry after its ERROR line, "Operation: why",
  // continued by an untimed "   at" line; kept until that line confirms it.
  bool afterProblem_ = false;
  std::string detail_;
  size_t detailLine_ = 0;
};

// Reads a whole text at once.
LogSummary readInstallationLog(std::string_view bytes);

// One block per run: when it started, what it required and found, the steps
// it reached, its final code, what that means and what to do about it.
std::string explainLog(const LogSummary& summary);

// What a `reg export` of HKLM\SOFTWARE\Orvo\VBIOS says of the last run: its
// "State" value, or the reason there is none in `problem`.
std::optional<int32_t> readStateRecord(std::string_view regBytes, std::string& problem);

// Whether the state record agrees with the log's last run, in one line.
std::string compareStateRecord(const LogSummary& summary, std::optional<int32_t> state,
                               const std::string& problem);

}  // namespace kit
