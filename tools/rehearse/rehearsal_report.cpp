#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/result_code_table.h"
#include "tools/package_check/visible_text.h"
#include "tools/rehearse/rehearsal.h"

namespace fs = std::filesystem;

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

std::string meaningOf(const RehearsalRow& row, bool full) {
  if (!row.ran) return "the installer could not be started";
  if (row.killed) return "the run did not end in time and was killed with every tool it started";
  const result::Explanation e = result::explain(row.code);
  std::string text = full ? e.meaning : firstLine(e.meaning, 44);
  if (!row.agreement.empty()) text += " [DISAGREES: " + row.agreement + "]";
  if (row.aimedAt >= 0 && row.aimedAt != row.code)
    text += " [the machine was made for " + std::to_string(row.aimedAt) + "]";
  return text;
}

std::string exitOf(const RehearsalRow& row) {
  if (!row.ran || row.killed || row.code < 0) return "-";
  return std::string(result::exitPathName(result::explain(row.code).exit));
}

std::string dialogOf(const RehearsalRow& row) {
  if (row.dialogs.empty()) return "none";
  return row.dialogs.back();
}

std::string seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", s);
  return text;
}

std::string pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
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

std::string base64(const std::string& bytes) {
  static const char* kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], kDigits[v & 63]};
  }
  if (i + 1 == bytes.size()) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == bytes.size()) {
    const unsigned v =
        (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], '='};
  }
  return out;
}

// The gallery's English picture of a form: <Form>[-variant]-1033.png, the
// variant chosen by the code where a form has several.
std::string galleryPicture(const std::string& galleryDir, const std::string& form, int code) {
  if (galleryDir.empty() || form.empty()) return {};
  std::string variant;
  if (form == "InstallFail") variant = code == 202 ? "-connection" : "-code";
  if (form == "RestartForm") variant = code == 1 ? "-completed" : "-restart";
  const fs::path file = fs::path(galleryDir) / (form + variant + "-1033.png");
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return "<img alt=\"" + html(form) + "\" src=\"data:image/png;base64," + base64(bytes) + "\">";
}

}  // namespace

std::string formatTable(const Rehearsal& rehearsal) {
  if (!rehearsal.problem.empty()) return "OvVBiosRehearse: " + rehearsal.problem + "\n";
  std::string out;
  for (const std::string& note : rehearsal.notes) out += "note: " + note + "\n";
  size_t machineWidth = 7;
  for (const RehearsalRow& row : rehearsal.rows) machineWidth = std::max(machineWidth, row.machine.size());
  out += pad(" #", 4) + pad("machine", machineWidth + 2) + pad("code", 8) + pad("meaning", 46) +
         pad("exit", 18) + pad("dialog", 17) + pad("flash", 22) + "time\n";
  size_t n = 0;
  for (const RehearsalRow& row : rehearsal.rows) {
    std::string number = std::to_string(++n);
    out += pad(std::string(3 - std::min<size_t>(3, number.size()), ' ') + number, 4) +
           pad(row.machine, machineWidth + 2) + pad(codeText(row), 8) + pad(meaningOf(row, false), 46) +
           pad(exitOf(row), 18) + pad(dialogOf(row), 17) +
           pad(row.flashedRom.empty() ? "-" : row.flashedRom, 22) + seconds(row.seconds) + "\n";
    if (!row.dialogs.empty())
      out += "    " + pad("", machineWidth + 2) + row.dialogs.back() + ": \"" +
             firstLine(row.dialogText, 90) + "\"\n";
  }
  return out;
}

std::string formatHtml(const Rehearsal& rehearsal, const std::string& packageShown,
                       const std::string& galleryDir) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Rehearsal of " +
      html(packageShown) +
      "</title>\n<style>\nbody{font-family:sans-serif;margin:1.5em}table{border-collapse:collapse}"
      "td,th{border:1px solid #bbb;padding:.3em .5em;vertical-align:top;text-align:left}"
      "tr.bad td{background:#fde8e8}pre{white-space:pre-wrap;font-size:.85em;max-width:70em}"
      "img{max-width:24em;display:block}\n</style>\n</head>\n<body>\n<h1>Rehearsal of " +
      html(packageShown) + "</h1>\n";
  if (!rehearsal.problem.empty()) return out + "<p>" + html(rehearsal.problem) + "</p>\n</body>\n</html>\n";
  if (!rehearsal.notes.empty()) {
    out += "<ul>\n";
    for (const std::string& note : rehearsal.notes) out += "<li>" + html(note) + "</li>\n";
    out += "</ul>\n";
  }
  out +=
      "<table>\n<tr><th>#</th><th>machine</th><th>code</th><th>meaning</th><th>exit</th><th>dialog</th>"
      "<th>flash</th><th>time</th></tr>\n";
  size_t n = 0;
  for (const RehearsalRow& row : rehearsal.rows) {
    ++n;
    const bool bad = row.killed || !row.agreement.empty() || (row.aimedAt >= 0 && row.aimedAt != row.code);
    std::string dialog = html(dialogOf(row));
    if (!row.dialogs.empty()) {
      dialog += "<br>\"" + html(row.dialogText) + "\"";
      dialog += galleryPicture(galleryDir, row.dialogs.back(), row.code);
    }
    out += std::string("<tr") + (bad ? " class=\"bad\"" : "") + "><td>" + std::to_string(n) + "</td><td>" +
           html(row.machine) + "</td><td>" + html(codeText(row)) + "</td><td>" + html(meaningOf(row, true)) +
           "</td><td>" + html(exitOf(row)) + "</td><td>" + dialog + "</td><td>" +
           html(row.flashedRom.empty() ? "-" : row.flashedRom) + "</td><td>" + html(seconds(row.seconds)) +
           "</td></tr>\n<tr><td></td><td colspan=\"7\"><details><summary>log of run " + std::to_string(n) +
           "</summary><pre>" + html(row.log) + "</pre></details></td></tr>\n";
  }
  return out + "</table>\n</body>\n</html>\n";
}

}  // namespace kit
