// How far apart two names are, for a "did you mean" of a mistyped key.
#pragma once

#include <cstddef>
#include <string_view>

namespace kit {

// Insertions, deletions and substitutions that turn `a` into `b`.
size_t editDistance(std::string_view a, std::string_view b);

}  // namespace kit
