// The old engine's Like: % any run, _ one character, [abc] [a-z] one of a
// set, [!abc] none of it; letters compared ignoring case (full-width too).
// Matching takes at most text length times pattern length steps, however
// many % the pattern has.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarlo {

class LikePattern {
public:
    // escape, when given (Like ... ESCAPE '!'), makes the character after it literal.
    explicit LikePattern(std::string_view pattern, char32_t escape = 0);
    bool matches(std::string_view text) const;

private:
    struct Item {
        enum Kind { Literal, AnyOne, AnyRun, Set } kind;
        char32_t c = 0;
        bool negated = false;
        std::vector<std::pair<char32_t, char32_t>> ranges;
    };
    static bool matchesOne(const Item& item, char32_t c);
    std::vector<Item> items_;
};

}  // namespace tarlo
