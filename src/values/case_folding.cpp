// Letter case folded as the old engine ignored it, over UTF-8 text.
#include "values/case_folding.h"

#include "platform/utf8.h"

#include <QChar>

#include <algorithm>

namespace tarlo {

namespace {

char32_t fold(char32_t cp) {
    if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    return QChar::toCaseFolded(cp);
}

}  // namespace

namespace {

bool continuesCodePoint(std::string_view s, size_t at) {
    return at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80;
}

}  // namespace

int compareIgnoringCase(std::string_view a, std::string_view b) {
    // Sorting for GROUP BY compares mostly equal texts: the common prefix is
    // skipped bytewise. Where neither text continues a code point both have
    // the same whole code points before it (a decoder never takes a
    // non-continuation byte into an earlier sequence), so folding may start there.
    size_t same = 0;
    const size_t shorter = std::min(a.size(), b.size());
    while (same < shorter && a[same] == b[same]) ++same;
    if (same == a.size() && same == b.size()) return 0;
    while (same > 0 && (continuesCodePoint(a, same) || continuesCodePoint(b, same))) --same;
    size_t i = same, j = same;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (ca < 0x80 && cb < 0x80) {
            const int fa = (ca >= 'A' && ca <= 'Z') ? ca + 32 : ca;
            const int fb = (cb >= 'A' && cb <= 'Z') ? cb + 32 : cb;
            if (fa != fb) return fa < fb ? -1 : 1;
            ++i;
            ++j;
            continue;
        }
        const char32_t fa = fold(nextCodePoint(a, i));
        const char32_t fb = fold(nextCodePoint(b, j));
        if (fa != fb) return fa < fb ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

std::u32string foldedCodePoints(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) out += fold(nextCodePoint(text, i));
    return out;
}

std::string foldCase(std::string_view text) {
    std::string out;
    // Keys are mostly ASCII (codes, names): those fold byte by byte.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        out.assign(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = char(c + 32);
        return out;
    }
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) appendUtf8(out, fold(nextCodePoint(text, i)));
    return out;
}

}  // namespace tarlo
