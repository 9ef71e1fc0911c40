#include "query/like_pattern.h"

#include "query/case_folding.h"

namespace tarlo::query {

LikePattern::LikePattern(std::string_view pattern) {
    const std::u32string p = foldedCodePoints(pattern);
    for (size_t i = 0; i < p.size(); ++i) {
        const char32_t c = p[i];
        if (c == U'%') {
            if (items_.empty() || items_.back().kind != Item::AnyRun) items_.push_back({Item::AnyRun});
        } else if (c == U'_') {
            items_.push_back({Item::AnyOne});
        } else if (c == U'[' && p.find(U']', i + 1) != std::u32string::npos) {
            Item set{Item::Set};
            size_t j = i + 1;
            if (j < p.size() && p[j] == U'!') set.negated = true, ++j;
            const size_t close = p.find(U']', j + (j < p.size() && p[j] == U']' ? 1 : 0));
            for (; j < close; ++j) {
                if (j + 2 < close && p[j + 1] == U'-') {
                    set.ranges.emplace_back(p[j], p[j + 2]);
                    j += 2;
                } else {
                    set.ranges.emplace_back(p[j], p[j]);
                }
            }
            items_.push_back(set);
            i = close;
        } else {
            items_.push_back({Item::Literal, c});
        }
    }
}

bool LikePattern::matchFrom(const std::u32string& s, size_t si, size_t pi) const {
    while (pi < items_.size()) {
        const Item& item = items_[pi];
        if (item.kind == Item::AnyRun) {
            if (pi + 1 == items_.size()) return true;
            for (size_t k = si; k <= s.size(); ++k)
                if (matchFrom(s, k, pi + 1)) return true;
            return false;
        }
        if (si >= s.size()) return false;
        const char32_t c = s[si];
        bool ok = true;
        if (item.kind == Item::Literal) ok = c == item.c;
        else if (item.kind == Item::Set) {
            bool in = false;
            for (const auto& [lo, hi] : item.ranges) in = in || (c >= lo && c <= hi);
            ok = in != item.negated;
        }
        if (!ok) return false;
        ++si;
        ++pi;
    }
    return si == s.size();
}

bool LikePattern::matches(std::string_view text) const {
    return matchFrom(foldedCodePoints(text), 0, 0);
}

}  // namespace tarlo::query
