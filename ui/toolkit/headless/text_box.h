// A dialog drawn as a box of text, for a person at a terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/toolkit/form.h"

namespace toolkit::headless {

// Terminal columns a UTF-8 text takes: East Asian wide characters count two.
size_t displayWidth(std::string_view text);

// Breaks `text` at its line feeds and wraps each line at blanks to at most
// `width` columns; a word wider than that is cut. Empty lines are kept.
std::vector<std::string> wrapText(std::string_view text, size_t width);

// The dialog as lines of text ending in '\n': title bar with the minimise
// button, message, progress bar and action buttons in their left-to-right
// order, each action button with the digit that presses it.
std::string drawTextBox(const Form& form);

// "[#####.....]  50%".
std::string drawProgress(int value);

}  // namespace toolkit::headless
