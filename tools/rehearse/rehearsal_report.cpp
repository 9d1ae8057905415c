#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/result_code_table.h"
#include "common/result_codes.h"
#include "tools/package_check/visible_text.h"
#include "tools/rehearse/rehearsal.h"

namespace kit {

namespace {

// The text on one line: a dialog's line breaks and blank runs become one blank.
std::string firstLine(const std::string& text, size_t width) {
  std::string line;
  for (char c : text) {
    const bool blank = c == '\n' || c == '\r' || c == ' ' || c == '\t';
    if (blank && (line.empty() || line.back() == ' ')) continue;
    line += blank ? ' ' : c;
  }
  if (!line.empty() && line.back() == ' ') line.pop_back();
  if (line.size() > width) line = line.substr(0, width - 3) + "...";
  return visibleText(line);
}

std::string codeText(const RehearsalRow& row) {
  if (!row.ran) return "not started";
  if (row.killed) return "killed";
  return row.code < 0 ? "none" : std::to_string(row.code);
}

std::string aimText(const RehearsalRow& row) { return row.aimedAt < 0 ? "any" : std::to_string(row.aimedAt); }

std::string meaningOf(const RehearsalRow& row, bool full) {
  if (!row.ran) return "the installer could not be started";
  if (row.killed) return "the run did not end in time and was killed with every tool it started";
  const result::Explanation e = result::explain(row.code);
  std::string text = full ? e.meaning : firstLine(e.meaning, 44);
  if (!row.agreement.empty()) text += " [DISAGREES: " + row.agreement + "]";
  return text;
}

std::string exitOf(const RehearsalRow& row) {
  if (!row.ran || row.killed || row.code < 0) return "-";
  return std::string(result::exitPathName(result::explain(row.code).exit));
}

std::string dialogOf(const RehearsalRow& row) { return row.dialogs.empty() ? "none" : row.dialogs.back(); }

std::string seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", s);
  return text;
}

// A column `width` wide that always ends in two blanks: a longer text is cut
// rather than run into the next column.
std::string cell(const std::string& text, size_t width) {
  const size_t room = width - 2;
  const std::string shown = text.size() > room ? text.substr(0, room - 3) + "..." : text;
  return shown + std::string(width - shown.size(), ' ');
}

std::string html(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string summaryLine(const Rehearsal& rehearsal) {
  const size_t differ =
      static_cast<size_t>(std::count_if(rehearsal.rows.begin(), rehearsal.rows.end(),
                                        [](const RehearsalRow& r) { return !endedAsMadeFor(r); }));
  const bool anyFlashed = std::any_of(rehearsal.rows.begin(), rehearsal.rows.end(), wasFlashed);
  const size_t rows = rehearsal.rows.size();
  std::string out = std::to_string(rows) + (rows == 1 ? " machine: " : " machines: ") +
                    std::to_string(rows - differ) + " ended as made for, " + std::to_string(differ) +
                    " did not";
  if (!anyFlashed) return out + ". No machine was flashed: the package flashes no notebook.";
  return out + (differ == 0 ? ". The package behaves as its machines expect." : ".");
}

// Per kind of GPU: how many machines would be flashed, be up to date, or
// stop, and with which codes; the kinds the package targets first.
std::vector<std::string> gpuSummary(const Rehearsal& rehearsal) {
  struct Kind {
    std::string gpu;
    bool targeted = false;
    size_t flashed = 0, upToDate = 0, stopped = 0;
    std::vector<std::pair<std::string, size_t>> stops;  // code, machines
  };
  std::vector<Kind> kinds;
  for (const RehearsalRow& row : rehearsal.rows) {
    auto kind = std::find_if(kinds.begin(), kinds.end(), [&](const Kind& k) { return k.gpu == row.gpu; });
    if (kind == kinds.end()) kind = kinds.insert(kinds.end(), Kind{row.gpu, row.targeted, 0, 0, 0, {}});
    if (wasFlashed(row)) {
      ++kind->flashed;
    } else if (row.ran && !row.killed && row.code == result::kUpToDate) {
      ++kind->upToDate;
    } else {
      ++kind->stopped;
      const std::string code = codeText(row);
      auto stop = std::find_if(kind->stops.begin(), kind->stops.end(),
                               [&](const auto& s) { return s.first == code; });
      if (stop == kind->stops.end())
        kind->stops.push_back({code, 1});
      else
        ++stop->second;
    }
  }
  std::stable_partition(kinds.begin(), kinds.end(), [](const Kind& k) { return k.targeted; });
  std::vector<std::string> lines;
  for (const Kind& kind : kinds) {
    std::string line =
        (kind.gpu == "no GPU" ? std::string("machines with no GPU of the package")
                              : "GPU " + kind.gpu + (kind.targeted ? "" : " (not in the package)")) +
        ": " + std::to_string(kind.flashed) + " flashed, " + std::to_string(kind.upToDate) + " up to date, " +
        std::to_string(kind.stopped) + " stop";
    if (!kind.stops.empty()) {
      line += " (";
      for (size_t i = 0; i < kind.stops.size(); ++i)
        line += (i ? ", " : "") + kind.stops[i].first +
                (kind.stops[i].second > 1 ? " x" + std::to_string(kind.stops[i].second) : "");
      line += ")";
    }
    lines.push_back(line);
  }
  return lines;
}

constexpr const char* kLegend[] = {
    "made for: the code the machine was made to reach under the installer's rules (any: the matrix cannot "
    "tell)",
    "code: the code the run ended with (its exit status, trace and log's state line agree, or the row says "
    "where "
    "they do not)",
    "exit: the installer's exit path; dialog: the last dialog the run showed, with its text",
    "flash: the ROM image flashed or the flash program run; a row whose code is not the one it was made for "
    "is "
    "marked * (pink in the report) and listed at the end",
};

std::string differenceOf(size_t number, const RehearsalRow& row) {
  std::string out = "#" + std::to_string(number) + " " + row.machine + ": made for " + aimText(row) +
                    ", ended " + codeText(row);
  if (!row.agreement.empty()) out += " (" + row.agreement + ")";
  if (!row.why.empty()) out += "; " + visibleText(row.why);
  return out;
}

// The dialog as the run drew it, from what the trace recorded of it: title,
// text and buttons, nothing taken from elsewhere.
std::string dialogPicture(const RehearsalRow& row) {
  if (row.dialogs.empty()) return {};
  std::string out = "<div class=\"dialog\" data-form=\"" + html(row.dialogs.back()) +
                    "\"><div class=\"title\">" + html(row.dialogTitle) + "</div><div class=\"text\">" +
                    html(row.dialogText) + "</div><div class=\"buttons\">";
  for (const std::string& button : row.dialogButtons)
    out += "<span class=\"button\">" + html(button) + "</span>";
  return out + "</div></div>";
}

}  // namespace

std::string formatTable(const Rehearsal& rehearsal) {
  if (!rehearsal.problem.empty()) return "OvVBiosRehearse: " + rehearsal.problem + "\n";
  std::string out;
  for (const std::string& note : rehearsal.notes) out += "note: " + note + "\n";
  size_t machineWidth = 9;
  for (const RehearsalRow& row : rehearsal.rows)
    machineWidth = std::max(machineWidth, row.machine.size() + 2);
  out += "  # " + cell("machine", machineWidth) + cell("made for", 10) + cell("code", 13) +
         cell("meaning", 46) + cell("exit", 18) + cell("dialog", 18) + cell("flash", 24) + "time\n";
  size_t n = 0;
  for (const RehearsalRow& row : rehearsal.rows) {
    std::string number = std::to_string(++n);
    number.insert(0, number.size() < 3 ? 3 - number.size() : 0, ' ');
    out += number + (endedAsMadeFor(row) ? " " : "*") + cell(row.machine, machineWidth) +
           cell(aimText(row), 10) + cell(codeText(row), 13) + cell(meaningOf(row, false), 46) +
           cell(exitOf(row), 18) + cell(dialogOf(row), 18) +
           cell(row.flashedRom.empty() ? "-" : row.flashedRom, 24) + seconds(row.seconds) + "\n";
    if (!row.dialogs.empty())
      out += "    " + std::string(machineWidth, ' ') + row.dialogs.back() + ": \"" +
             firstLine(row.dialogText, 90) + "\"\n";
  }
  out += "\n";
  for (const char* line : kLegend) out += std::string(line) + "\n";
  out += "\n" + summaryLine(rehearsal) + "\n";
  for (const std::string& line : gpuSummary(rehearsal)) out += "  " + line + "\n";
  n = 0;
  for (const RehearsalRow& row : rehearsal.rows)
    if (++n, !endedAsMadeFor(row)) out += "  " + differenceOf(n, row) + "\n";
  return out;
}

std::string formatHtml(const Rehearsal& rehearsal, const std::string& packageShown) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Rehearsal of " +
      html(packageShown) +
      "</title>\n<style>\nbody{font-family:sans-serif;margin:1.5em}table{border-collapse:collapse}"
      "td,th{border:1px solid #bbb;padding:.3em .5em;vertical-align:top;text-align:left}"
      "tr.bad "
      "td{background:#fde8e8}td:last-child{white-space:nowrap}pre{white-space:pre-wrap;font-size:.85em;max-"
      "width:70em}"
      ".dialog{width:22em;border:1px solid #666;background:#f4f4f4;margin-top:.4em;font-size:.85em}"
      ".dialog .title{background:#2b579a;color:#fff;padding:.2em .4em}"
      ".dialog .text{padding:.6em;white-space:pre-wrap;min-height:3em}"
      ".dialog .buttons{text-align:right;padding:.3em}"
      ".dialog .button{display:inline-block;border:1px solid #888;background:#fff;padding:.1em "
      ".8em;margin-left:.3em}"
      "\n</style>\n</head>\n<body>\n<h1>Rehearsal of " +
      html(packageShown) + "</h1>\n";
  if (!rehearsal.problem.empty()) return out + "<p>" + html(rehearsal.problem) + "</p>\n</body>\n</html>\n";
  out += "<p class=\"summary\">" + html(summaryLine(rehearsal)) + "</p>\n<ul class=\"gpus\">\n";
  for (const std::string& line : gpuSummary(rehearsal)) out += "<li>" + html(line) + "</li>\n";
  out += "</ul>\n";
  if (!rehearsal.notes.empty()) {
    out += "<ul>\n";
    for (const std::string& note : rehearsal.notes) out += "<li>" + html(note) + "</li>\n";
    out += "</ul>\n";
  }
  out +=
      "<table>\n<tr><th>#</th><th>machine</th><th>made for</th><th>code</th><th>meaning</th><th>exit</th>"
      "<th>dialog</th><th>flash</th><th>time</th></tr>\n";
  size_t n = 0;
  for (const RehearsalRow& row : rehearsal.rows) {
    ++n;
    std::string dialog = html(dialogOf(row)) + dialogPicture(row);
    out += std::string("<tr") + (endedAsMadeFor(row) ? "" : " class=\"bad\"") + "><td>" + std::to_string(n) +
           "</td><td>" + html(row.machine) + "</td><td>" + html(aimText(row)) + "</td><td>" +
           html(codeText(row)) + "</td><td>" + html(meaningOf(row, true)) + "</td><td>" + html(exitOf(row)) +
           "</td><td>" + dialog + "</td><td>" + html(row.flashedRom.empty() ? "-" : row.flashedRom) +
           "</td><td>" + html(seconds(row.seconds)) +
           "</td></tr>\n<tr><td></td><td colspan=\"8\"><details><summary>log of run " + std::to_string(n) +
           "</summary><pre>" + html(row.log) + "</pre></details></td></tr>\n";
  }
  out += "</table>\n<h2>Legend</h2>\n<ul>\n";
  for (const char* line : kLegend) out += "<li>" + html(line) + "</li>\n";
  out += "</ul>\n";
  std::string differ;
  n = 0;
  for (const RehearsalRow& row : rehearsal.rows)
    if (++n, !endedAsMadeFor(row)) differ += "<li>" + html(differenceOf(n, row)) + "</li>\n";
  if (!differ.empty())
    out += "<h2>Machines that did not end as made for</h2>\n<ul class=\"differ\">\n" + differ + "</ul>\n";
  return out + "</body>\n</html>\n";
}

}  // namespace kit
