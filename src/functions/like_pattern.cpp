#include "functions/like_pattern.h"

#include "values/case_folding.h"

namespace tarlo {

namespace {

// The "]" closing the set opened at open, or npos: a "]" first in the set
// (after "!") is a member, so "[]]" matches "]".
size_t setClose(const std::u32string& p, size_t open) {
    size_t j = open + 1;
    if (j < p.size() && p[j] == U'!') ++j;
    if (j < p.size() && p[j] == U']') ++j;
    return j < p.size() ? p.find(U']', j) : std::u32string::npos;
}

}  // namespace

LikePattern::LikePattern(std::string_view pattern) {
    const std::u32string p = foldedCodePoints(pattern);
    for (size_t i = 0; i < p.size(); ++i) {
        const char32_t c = p[i];
        if (c == U'%') {
            if (items_.empty() || items_.back().kind != Item::AnyRun) items_.push_back({Item::AnyRun, 0, false, {}});
        } else if (c == U'_') {
            items_.push_back({Item::AnyOne, 0, false, {}});
        } else if (c == U'[' && setClose(p, i) != std::u32string::npos) {
            Item set{Item::Set, 0, false, {}};
            size_t j = i + 1;
            if (j < p.size() && p[j] == U'!') set.negated = true, ++j;
            const size_t close = setClose(p, i);
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
            items_.push_back({Item::Literal, c, false, {}});
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

}  // namespace tarlo
