#include "tools/package_check/check_output.h"

#include "tools/package_check/visible_text.h"

namespace kit {

namespace {

std::string place(const Finding& finding) {
  std::string where = finding.file.empty() ? "(folder)" : visibleText(finding.file);
  if (finding.line > 0) where += ":" + std::to_string(finding.line);
  return where;
}

std::string counts(const CheckReport& report) {
  return std::to_string(report.count(Severity::Error)) + " errors, " +
         std::to_string(report.count(Severity::Warning)) + " warnings, " +
         std::to_string(report.count(Severity::Note)) + " notes";
}

}  // namespace

std::string formatText(const CheckReport& report, const std::string& folderShown) {
  std::string out = "Package " + visibleText(folderShown) + "\n";
  if (!report.lines.empty()) {
    out += "\nconfigs.txt as the installer reads it:\n";
    size_t width = 0;
    for (const LineReading& line : report.lines)
      width = std::max(width, std::min<size_t>(line.text.size(), 44));
    for (const LineReading& line : report.lines) {
      std::string number = std::to_string(line.number);
      std::string text = line.text.size() > 44 ? line.text.substr(0, 41) + "..." : line.text;
      out += std::string(number.size() < 4 ? 4 - number.size() : 0, ' ') + number + "  " + text +
             std::string(width - std::min(width, text.size()), ' ') + "  | " + line.reading + "\n";
    }
  }
  out += "\nThe installer's reading:\n";
  for (const std::string& line : report.summary) out += "  " + line + "\n";
  out += "\nFindings:\n";
  if (report.findings.empty()) out += "  none\n";
  for (const Finding& finding : report.findings)
    out += place(finding) + ": " + std::string(severityName(finding.severity)) + " [" + finding.id +
           "]: " + finding.message + "\n";
  out += "\n" + counts(report) + "\n";
  return out;
}

std::string formatJson(const CheckReport& report, const std::string& folderShown) {
  std::string out = "{\"package\": " + jsonString(folderShown) +
                    ", \"read_result\": " + std::to_string(report.readResult) + ",\n \"lines\": [";
  for (size_t i = 0; i < report.lines.size(); ++i) {
    const LineReading& line = report.lines[i];
    out += std::string(i ? "," : "") + "\n  {\"line\": " + std::to_string(line.number) +
           ", \"text\": " + jsonString(line.text) + ", \"reading\": " + jsonString(line.reading) + "}";
  }
  out += "],\n \"summary\": [";
  for (size_t i = 0; i < report.summary.size(); ++i)
    out += std::string(i ? ", " : "") + jsonString(report.summary[i]);
  out += "],\n \"findings\": [";
  for (size_t i = 0; i < report.findings.size(); ++i) {
    const Finding& f = report.findings[i];
    out += std::string(i ? "," : "") + "\n  {\"file\": " + jsonString(f.file) +
           ", \"line\": " + std::to_string(f.line) +
           ", \"severity\": " + jsonString(severityName(f.severity)) + ", \"id\": " + jsonString(f.id) +
           ", \"message\": " + jsonString(f.message) + "}";
  }
  out += "],\n \"errors\": " + std::to_string(report.count(Severity::Error)) +
         ", \"warnings\": " + std::to_string(report.count(Severity::Warning)) +
         ", \"notes\": " + std::to_string(report.count(Severity::Note)) +
         ", \"exit_code\": " + std::to_string(report.exitCode()) + "}\n";
  return out;
}

}  // namespace kit
