#include "ui/toolkit/headless/answers.h"

#include <cstdio>

#include "platform/ascii_text.h"
#include "simulated/machine.h"

namespace toolkit::headless {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string join(const std::vector<std::string>& tokens, size_t from) {
  std::string out;
  for (size_t i = from; i < tokens.size(); ++i) {
    if (!out.empty()) out += ' ';
    out += tokens[i];
  }
  return out;
}

void note(std::string_view token, const char* why) {
  std::fprintf(stderr, "[user] answers: '%.*s' dropped: %s\n", static_cast<int>(token.size()), token.data(),
               why);
}

}  // namespace

std::vector<std::string> splitAnswers(std::string_view text) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isBlank(text[i])) ++i;
    const size_t start = i;
    while (i < text.size() && !isBlank(text[i])) ++i;
    if (i > start) tokens.emplace_back(text.substr(start, i - start));
  }
  return tokens;
}

AnswerToken parseAnswerToken(std::string_view token) {
  AnswerToken parsed;
  const size_t colon = token.find(':');
  if (colon == std::string_view::npos) return parsed;
  parsed.form = std::string(token.substr(0, colon));
  const std::string action = platform::lowerAscii(token.substr(colon + 1));
  if (action == "close") {
    parsed.answer.kind = Answer::Kind::Close;
    parsed.valid = true;
  } else if (action == "button1" || action == "button2" || action == "button3") {
    parsed.answer.kind = Answer::Kind::Click;
    parsed.answer.button = static_cast<ButtonId>(action.back() - '0');
    parsed.valid = true;
  }
  return parsed;
}

Answer takeAnswer(std::string_view form) {
  const simulated::MachineIni ini = simulated::MachineIni::load();
  const std::vector<std::string> tokens = splitAnswers(ini.get("user", "answers", ""));
  size_t next = 0;
  Answer answer;
  while (next < tokens.size()) {
    const AnswerToken parsed = parseAnswerToken(tokens[next]);
    if (!parsed.form.empty() && parsed.form != form) break;
    ++next;
    if (parsed.form.empty()) {
      note(tokens[next - 1], "not of the form Form:button");
      continue;
    }
    if (!parsed.valid) {
      note(tokens[next - 1], "the button is not button1, button2, button3 or close");
      continue;
    }
    answer = parsed.answer;
    break;
  }
  if (next > 0) simulated::MachineIni::update("user", "answers", join(tokens, next));
  return answer;
}

}  // namespace toolkit::headless
