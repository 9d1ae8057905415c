#include "tools/log_explain/log_reader.h"

#include <utility>

#include "common/log.h"
#include "common/log_words.h"
#include "common/result_code_table.h"
#include "common/result_codes.h"
#include "package/config_text.h"
#include "package/vbios_configs.h"
#include "package/version_text.h"
#include "platform/ascii_text.h"
#include "tools/package_check/nvidia_version.h"
#include "tools/package_check/visible_text.h"

namespace kit {

namespace {

// Without the blank the line ends with: an editor may have dropped it.
constexpr std::string_view kFlashRunning = kLogFlashRunning.substr(0, kLogFlashRunning.size() - 1);

// Facts worth a support person's eye, by the start of their log line.
constexpr std::string_view kFactPrefixes[] = {
    "ProductName: ",  "VbReleaseVersion: ", "VbType: ", "HWID: ",  "VGAVersion: ",
    "BIOS Version: ", "CurVbVersion: ",     "DC mode",  "AC mode", kLogUpToDate,
};

std::string kept(std::string_view text) {
  if (text.size() <= LogReader::kMaxKeptLine) return visibleText(text);
  return visibleText(text.substr(0, LogReader::kMaxKeptLine)) + "...";
}

// "VbRomVersion3: x" -> entry 3 of `values` is x.
void keepEntryValue(std::vector<std::string>& values, std::string_view text, std::string_view key) {
  if (!text.starts_with(key)) return;
  const size_t colon = text.find(": ", key.size());
  if (colon == std::string_view::npos) return;
  int32_t entry = 0;
  if (package::parseInt32(text.substr(key.size(), colon - key.size()), entry) != package::NumberParse::Ok ||
      entry < 0 || entry >= kMaxRomEntries)
    return;
  if (values.size() <= static_cast<size_t>(entry)) values.resize(static_cast<size_t>(entry) + 1);
  values[static_cast<size_t>(entry)] = kept(text.substr(colon + 2));
}

// The lines that say what a run required and what it found, by their start.
void readRequirement(LogRun& run, std::string_view text) {
  struct Field {
    std::string_view prefix;
    std::string LogRun::*value;
  };
  static constexpr Field kFields[] = {
      {"VbType: ", &LogRun::type},
      {"VbReqBios: ", &LogRun::requiredBios},
      {"BIOS Version: ", &LogRun::foundBios},
      {"VbReqVGAVersion: ", &LogRun::requiredDriver},
      {"VGAVersion: ", &LogRun::foundDriver},
      {"CurVbVersion: ", &LogRun::foundVbios},
  };
  for (const Field& field : kFields)
    if (text.starts_with(field.prefix)) run.*field.value = kept(text.substr(field.prefix.size()));
  keepEntryValue(run.entryVersions, text, "VbRomVersion");
  keepEntryValue(run.entryRoms, text, "VbFlashCmd");
  if (text.starts_with("TargetID: ")) {
    int32_t entry = -1;
    if (package::parseInt32(text.substr(10), entry) == package::NumberParse::Ok && entry >= 0 &&
        entry < kMaxRomEntries)
      run.targetEntry = entry;
  }
  const bool inFlashStep = !run.steps.empty() && run.steps.back().starts_with(kLogFlashStep);
  if (inFlashStep && (text.starts_with(kFlashRunning) || text.starts_with(kLogFlashArguments)))
    run.flashStarted = true;
  if (inFlashStep && text.find(kFlashCompletedText) != std::string_view::npos) run.flashConfirmed = true;
}

bool isAmdType(const LogRun& run) { return run.type == "AMD" || run.type == "KRAMD"; }

// A version as the log has it, with NVIDIA's dotted form beside an integer.
std::string versionText(const LogRun& run, const std::string& version) {
  if (run.type.empty() || isAmdType(run)) return version;
  int64_t value = 0;
  if (package::parseInt64(version, value) != package::NumberParse::Ok || value < 0) return version;
  const std::string dotted = nvidiaDottedOfInteger(static_cast<uint64_t>(value));
  return dotted.empty() ? version : version + " (" + dotted + ")";
}

std::string entryValue(const std::vector<std::string>& values, int entry) {
  return entry >= 0 && static_cast<size_t>(entry) < values.size() ? values[static_cast<size_t>(entry)]
                                                                  : std::string();
}

// Required and found side by side, for what the run got as far as reading.
std::string requirements(const LogRun& run) {
  std::string out;
  if (!run.type.empty())
    out += "  package: type " + run.type + " (" + (isAmdType(run) ? "AMD" : "NVIDIA") + " path)\n";
  if (!run.requiredBios.empty() || !run.foundBios.empty())
    out += "  BIOS: required " +
           (run.requiredBios == "1"    ? "none"
            : run.requiredBios.empty() ? "?"
                                       : run.requiredBios) +
           ", found " + (run.foundBios.empty() ? "(not read)" : run.foundBios) + "\n";
  if (!run.requiredDriver.empty() || !run.foundDriver.empty())
    out += "  driver: required " +
           (run.requiredDriver == "0.0.0.0" ? "none"
            : run.requiredDriver.empty()    ? "?"
                                            : run.requiredDriver) +
           ", found " + (run.foundDriver.empty() ? "(not read)" : run.foundDriver) + "\n";
  const std::string packageVersion = entryValue(run.entryVersions, run.targetEntry);
  if (run.targetEntry >= 0)
    out += "  VBIOS: the package's entry " + std::to_string(run.targetEntry) + " installs " +
           (packageVersion.empty() ? "?" : versionText(run, packageVersion)) + ", found " +
           (run.foundVbios.empty() ? "(not read)" : versionText(run, run.foundVbios)) + "\n";
  return out;
}

bool reached(const LogRun& run, std::string_view step) {
  for (const std::string& s : run.steps)
    if (s.starts_with(step)) return true;
  return false;
}

// What became of the VBIOS, where the run's code alone leaves it open.
std::string vbiosOutcome(const LogRun& run) {
  if (!run.finalCode) return {};
  const int32_t code = *run.finalCode;
  const bool vbiosStepEndedWell =
      code == result::kSuccess || code == result::kUpToDate || result::closingParts(code).has_value();
  if (!vbiosStepEndedWell) return {};
  const std::string rom = entryValue(run.entryRoms, run.targetEntry);
  if (reached(run, kLogFlashStep))
    return "  VBIOS: flashed " + (rom.empty() ? std::string("the package's image") : "'" + rom + "'") +
           (isAmdType(run) && !run.flashConfirmed ? " (the tool's completion line is not in the log)" : "") +
           "\n";
  return "  VBIOS: already up to date, nothing flashed\n";
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
  if (stamped && view == kLogRunStart) {
    LogRun run;
    run.firstLine = lastWasBlank_ ? summary_.lines - 1 : summary_.lines;
    run.started = lastWasBlank_ ? lastStamp_ : stamp;
    if (lastWasBlank_ && inRun_ && !summary_.runs.empty()) summary_.runs.back().lastLine = summary_.lines - 2;
    if (lastWasBlank_ && !inRun_ && summary_.linesBeforeFirstRun > 0 && summary_.runs.empty())
      --summary_.linesBeforeFirstRun;
    summary_.runs.push_back(std::move(run));
    inRun_ = true;
  } else if (!inRun_ && summary_.lines == 1 && stamped && view.starts_with("WARNING ") &&
             view.find(kLoggedApartMark) != std::string_view::npos) {
    summary_.loggedApart = kept(view);
  } else if (!inRun_) {
    ++summary_.linesBeforeFirstRun;
  }
  lastWasBlank_ = stamped && view == kLogBlankLine;
  if (stamped) lastStamp_ = stamp;
  if (!inRun_) return;
  LogRun& run = summary_.runs.back();
  run.lastLine = summary_.lines;
  run.partialLastLine = !complete;
  // Untimed lines continue the entry before (a failure's detail).
  if (stamped) {
    const bool wasAfterProblem = std::exchange(afterProblem_, false);
    detail_.clear();
    const size_t colon = view.find(": ");
    if (wasAfterProblem && colon != std::string_view::npos &&
        view.substr(0, colon).find(' ') == std::string_view::npos) {
      detail_ = kept(view.substr(colon + 2));
      detailLine_ = summary_.lines;
    }
    message(view);
  } else if (!detail_.empty() && view.starts_with("   at ") && !run.problems.empty()) {
    // The support person reads the reason itself, not a pointer to it.
    run.problems.back() += "; the detail on line " + std::to_string(detailLine_) + ": \"" + detail_ + "\"";
    detail_.clear();
  }
}

void LogReader::message(std::string_view text) {
  LogRun& run = summary_.runs.back();
  if (text.starts_with(kLogStepPrefix) && text.find(':') != std::string_view::npos && text.size() < 80) {
    run.steps.push_back(visibleText(text));
    return;
  }
  if (text.starts_with(kLogStatePrefix)) {
    int32_t code = 0;
    if (package::parseInt32(text.substr(kLogStatePrefix.size()), code) == package::NumberParse::Ok) {
      run.finalCode = code;
    } else {
      run.stateText = kept(text);
    }
    return;
  }
  readRequirement(run, text);
  if (text.starts_with("ERROR") || text.starts_with("WARNING")) {
    if (run.problems.size() < kMaxProblems) {
      afterProblem_ = true;
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
  std::string out = std::to_string(summary.lines) + (summary.lines == 1 ? " line, " : " lines, ") +
                    std::to_string(summary.runs.size()) + (summary.runs.size() == 1 ? " run" : " runs") +
                    "\n";
  if (!summary.loggedApart.empty())
    out += "written instead of the installation log: " + summary.loggedApart + "\n";
  if (summary.linesBeforeFirstRun > 0)
    out += std::to_string(summary.linesBeforeFirstRun) + " lines before the first run's start (\"" +
           std::string(kLogRunStart) + "\"): not part of any run\n";
  size_t number = 0;
  for (const LogRun& run : summary.runs) {
    ++number;
    out += "\nRun " + std::to_string(number) + " (lines " + std::to_string(run.firstLine) + "-" +
           std::to_string(run.lastLine) + "), started " +
           (run.started.empty() ? "(no time stamp)" : kept(run.started)) + "\n";
    for (const std::string& fact : run.facts) out += "  found: " + fact + "\n";
    out += requirements(run);
    if (run.steps.empty()) {
      out += "  steps: none reached\n";
    } else {
      out += "  steps: " + std::to_string(run.steps.size()) + " reached, the last " + run.steps.back() + "\n";
    }
    for (const std::string& problem : run.problems) out += "  logged: " + problem + "\n";
    if (run.moreProblems > 0)
      out += "  logged: " + std::to_string(run.moreProblems) + " more ERROR/WARNING lines\n";
    if (!run.finalCode && !run.steps.empty() && run.steps.back().starts_with(kLogFlashStep) &&
        run.flashStarted) {
      out += "  result: none. INTERRUPTED FLASH: the log ends inside step 9 with the flash tool running";
      out += run.partialLastLine ? " (and inside a line)" : "";
      out +=
          ": the power went, the notebook restarted or the installer was killed while the VBIOS was being "
          "written, so the GPU may hold a partly written VBIOS\n";
      out +=
          "  what to do: run the installer again at once on AC power, and do not restart before it has "
          "finished. " +
          result::explain(result::kFlashIncomplete).advice + "\n";
      continue;
    }
    if (!run.finalCode) {
      out += "  result: none. The log has no state line for this run";
      out += run.partialLastLine ? " and ends inside a line" : "";
      out += !run.stateText.empty() ? " (it has '" + run.stateText + "', which is not a code)" : "";
      out += ": the run was cut off (power loss, a kill) or was still running when the log was copied\n";
      continue;
    }
    const result::Explanation meaning = result::explain(*run.finalCode);
    out += vbiosOutcome(run);
    out += "  result: " + std::to_string(*run.finalCode) + ", " + meaning.meaning;
    // Only an AMD run installs the flash tool's driver, so only it removes one.
    const bool removesDriver = meaning.removesDriver && (run.type.empty() || isAmdType(run));
    if (meaning.known)
      out += " (" + std::string(result::exitPathName(meaning.exit)) + " exit" +
             (removesDriver ? ", after removing the flash tool's driver" : "") + ")";
    out += "\n  what to do: " + meaning.advice + "\n";
  }
  return out;
}

std::optional<int32_t> readStateRecord(std::string_view regBytes, std::string& problem) {
  const std::string text = package::decodeText(regBytes);
  bool inKey = false, sawKey = false;
  for (std::string_view line : package::splitLines(text)) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.starts_with("[")) {
      const std::string key = platform::lowerAscii(line);
      inKey = key == "[hkey_local_machine\\software\\orvo\\vbios]";
      sawKey = sawKey || inKey;
      continue;
    }
    if (!inKey || !platform::lowerAscii(line).starts_with("\"state\"=")) continue;
    const std::string_view value = line.substr(8);
    if (!value.starts_with("dword:") || value.size() != 14) {
      problem = "its State value is not a DWORD: " + kept(value);
      return std::nullopt;
    }
    uint32_t state = 0;
    for (char c : value.substr(6)) {
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) {
        problem = "its State value is not a DWORD: " + kept(value);
        return std::nullopt;
      }
      state = state * 16 + static_cast<uint32_t>(digit);
    }
    return static_cast<int32_t>(state);
  }
  problem =
      sawKey ? "the key HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS has no State value"
             : "it holds no key HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS (export that key with reg export)";
  return std::nullopt;
}

std::string compareStateRecord(const LogSummary& summary, std::optional<int32_t> state,
                               const std::string& problem) {
  if (!state) return "registry: no state record: " + problem + "\n";
  const std::string said = "registry: State " + std::to_string(*state);
  if (summary.runs.empty()) return said + "; the log has no run to compare it with\n";
  const LogRun& last = summary.runs.back();
  if (!last.finalCode)
    return said +
           "; the log's last run has no state line, so the record is from an earlier run: the last run "
           "did not end (see above)\n";
  if (*last.finalCode == *state) return said + ", which agrees with the last run's state line\n";
  return said + ", but the last run's state line says " + std::to_string(*last.finalCode) +
         ": the record and the log are of different runs (the log was copied from another notebook, or the "
         "record was written or changed after it)\n";
}

}  // namespace kit
