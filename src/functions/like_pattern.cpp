#include "functions/like_pattern.h"

#include "functions/function_support.h"

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

LikePattern::LikePattern(std::string_view pattern, char32_t escape) {
    const std::u32string p = foldedCodePoints(pattern);
    for (size_t i = 0; i < p.size(); ++i) {
        const char32_t c = p[i];
        if (escape && c == escape && i + 1 < p.size()) {
            items_.push_back({Item::Literal, p[++i], false, {}});
        } else if (c == U'%') {
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

bool LikePattern::matchesOne(const Item& item, char32_t c) {
    if (item.kind == Item::Literal) return c == item.c;
    if (item.kind == Item::AnyOne) return true;
    bool in = false;
    for (const auto& [lo, hi] : item.ranges) in = in || (c >= lo && c <= hi);
    return in != item.negated;
}

// Every item but % takes one character, so on a mismatch only the last %
// need take one more: the items before it matched already, and a later %
// could only take what this one may.
bool LikePattern::matches(std::string_view text) const {
    const std::u32string s = foldedCodePoints(text);
    size_t si = 0, pi = 0;
    size_t runItem = items_.size(), runFrom = 0;  // the last %, and where its run ends now
    // A long text against a long pattern takes its text length times the pattern's steps.
    for (size_t step = 1; si < s.size(); ++step) {
        listenForStop(step);
        if (pi < items_.size() && items_[pi].kind == Item::AnyRun) {
            runItem = pi++;
            runFrom = si;
        } else if (pi < items_.size() && matchesOne(items_[pi], s[si])) {
            ++si;
            ++pi;
        } else if (runItem < items_.size()) {
            pi = runItem + 1;
            si = ++runFrom;
        } else {
            return false;
        }
    }
    while (pi < items_.size() && items_[pi].kind == Item::AnyRun) ++pi;
    return pi == items_.size();
}

}  // namespace tarlo
