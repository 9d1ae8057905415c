// JSON string text, written and read back: the simulated machine's trace and
// the package author's kit's --json report both write it, and the trace's
// readers read it. Whatever goes in, what comes out is valid JSON.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The text as the inside of a JSON string (no quotes). Bytes that are not
// UTF-8 (a device's garbage, a Latin-1 file) would make a whole document
// unparseable; each ill-formed sequence becomes U+FFFD instead.
std::string jsonEscape(std::string_view text);

// The JSON string that starts at text[at] == '"', escapes undone; `at` moves
// past its closing quote. Nothing, and `at` unspecified, when it is not one
// (no opening or closing quote, a broken escape). A lone surrogate escape
// becomes U+FFFD, so the result is always valid UTF-8 when the input is.
std::optional<std::string> readJsonString(std::string_view text, size_t& at);

}  // namespace platform
