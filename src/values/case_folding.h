// Text comparison that ignores letter case as the old engine did
// ('abc' = 'ABC', full-width letters too), on UTF-8 without copying.
#pragma once

#include <string>
#include <string_view>

namespace tarlo {

// The collation SQLite compares texts with, ignoring case as foldCase does.
inline constexpr char kNoCaseCollation[] = "TARLO_NOCASE";

int compareIgnoringCase(std::string_view a, std::string_view b);
std::string foldCase(std::string_view text);
// The code points of text with letter case folded.
std::u32string foldedCodePoints(std::string_view text);

}  // namespace tarlo
