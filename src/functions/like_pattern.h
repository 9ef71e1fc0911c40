// The old engine's Like: % any run, _ one character, [abc] [a-z] one of a
// set, [!abc] none of it; letters compared ignoring case (full-width too).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarlo {

class LikePattern {
public:
    explicit LikePattern(std::string_view pattern);
    bool matches(std::string_view text) const;

private:
    struct Item {
        enum Kind { Literal, AnyOne, AnyRun, Set } kind;
        char32_t c = 0;
        bool negated = false;
        std::vector<std::pair<char32_t, char32_t>> ranges;
    };
    bool matchFrom(const std::u32string& s, size_t si, size_t pi) const;
    std::vector<Item> items_;
};

}  // namespace tarlo
