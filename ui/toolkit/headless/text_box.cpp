#include "ui/toolkit/headless/text_box.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace toolkit::headless {

namespace {

constexpr size_t kInnerWidth = 64;

struct CodePoint {
  uint32_t value = 0;
  size_t length = 1;
};

// Malformed bytes are taken one at a time as width-one characters: this
// only lays out text for a terminal and must never stop on bad input.
CodePoint decodeAt(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length = lead < 0x80           ? 1
                  : (lead >> 5) == 0x6  ? 2
                  : (lead >> 4) == 0xE  ? 3
                  : (lead >> 3) == 0x1E ? 4
                                        : 0;
  if (length == 0 || at + length > text.size()) return {lead, 1};
  uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return {lead, 1};
    value = (value << 6) | (next & 0x3F);
  }
  return {value, length};
}

size_t columns(uint32_t c) {
  if (c >= 0x300 && c <= 0x36F) return 0;  // combining accents
  const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                    (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                    (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                    (c >= 0xFFE0 && c <= 0xFFE6);
  return wide ? 2 : 1;
}

std::string padded(std::string_view text, size_t width) {
  std::string out(text);
  const size_t used = displayWidth(text);
  if (used < width) out.append(width - used, ' ');
  return out;
}

std::string boxLine(std::string_view content) { return "| " + padded(content, kInnerWidth) + " |\n"; }

std::string rule() { return "+" + std::string(kInnerWidth + 2, '-') + "+\n"; }

// Appends one line of a paragraph, cutting words wider than the line.
void wrapLine(std::string_view line, size_t width, std::vector<std::string>& out) {
  std::string current;
  size_t currentWidth = 0;
  size_t at = 0;
  auto flush = [&] {
    out.push_back(current);
    current.clear();
    currentWidth = 0;
  };
  while (at < line.size()) {
    if (line[at] == ' ') {
      // A blank that would end the line is where the line breaks.
      if (currentWidth + 1 > width) {
        flush();
      } else {
        current += ' ';
        ++currentWidth;
      }
      ++at;
      continue;
    }
    size_t end = line.find(' ', at);
    if (end == std::string_view::npos) end = line.size();
    const std::string_view word = line.substr(at, end - at);
    const size_t wordWidth = displayWidth(word);
    if (currentWidth + wordWidth > width && currentWidth > 0) {
      while (!current.empty() && current.back() == ' ') current.pop_back();
      flush();
    }
    if (wordWidth <= width) {
      current += word;
      currentWidth += wordWidth;
    } else {
      for (size_t i = 0; i < word.size();) {
        const CodePoint cp = decodeAt(word, i);
        const size_t w = columns(cp.value);
        if (currentWidth + w > width) flush();
        current.append(word.substr(i, cp.length));
        currentWidth += w;
        i += cp.length;
      }
    }
    at = end;
  }
  out.push_back(current);
}

}  // namespace

size_t displayWidth(std::string_view text) {
  size_t width = 0;
  for (size_t at = 0; at < text.size();) {
    const CodePoint cp = decodeAt(text, at);
    width += columns(cp.value);
    at += cp.length;
  }
  return width;
}

std::vector<std::string> wrapText(std::string_view text, size_t width) {
  std::vector<std::string> lines;
  if (width == 0) width = 1;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    wrapLine(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start), width,
             lines);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

std::string drawProgress(int value) {
  const int clamped = std::clamp(value, 0, 100);
  constexpr int kCells = 40;
  const int filled = clamped * kCells / 100;
  std::string out = "[" + std::string(filled, '#') + std::string(kCells - filled, '.') + "] ";
  const std::string percent = std::to_string(clamped) + "%";
  out.append(4 - std::min<size_t>(4, percent.size()), ' ');
  return out + percent;
}

std::string drawTextBox(const Form& form) {
  std::string minimise;
  std::vector<std::pair<int, std::string>> actions;
  const std::array<std::pair<ButtonId, const Button*>, 3> buttons{{{ButtonId::Button1, &form.button1},
                                                                   {ButtonId::Button2, &form.button2},
                                                                   {ButtonId::Button3, &form.button3}}};
  for (const auto& [id, button] : buttons) {
    if (!button->Visible) continue;
    const std::string digit = std::to_string(static_cast<int>(id));
    if (button->IsMinimize) {
      minimise = "[" + digit + ": _]";
    } else {
      actions.emplace_back(button->bounds.x, "[" + digit + ": " + button->Text + "]");
    }
  }
  std::sort(actions.begin(), actions.end());

  std::string box = rule();
  const size_t titleWidth = kInnerWidth - displayWidth(minimise);
  std::string title = form.Text;
  if (displayWidth(title) > titleWidth) title = wrapText(title, titleWidth).front();
  box += boxLine(padded(title, titleWidth) + minimise);
  box += rule();
  for (const std::string& line : wrapText(form.label1.Text, kInnerWidth)) box += boxLine(line);
  if (form.progressBar1.Visible) {
    box += boxLine("");
    box += boxLine(drawProgress(form.progressBar1.Value));
  }
  if (!actions.empty()) {
    std::string row;
    for (const auto& action : actions) {
      if (!row.empty()) row += "   ";
      row += action.second;
    }
    box += boxLine("");
    const size_t rowWidth = displayWidth(row);
    box += boxLine(std::string(rowWidth < kInnerWidth ? kInnerWidth - rowWidth : 0, ' ') + row);
  }
  box += rule();
  return box;
}

}  // namespace toolkit::headless
