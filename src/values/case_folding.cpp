#include "values/case_folding.h"

#include <QChar>

namespace tarlo {

namespace {

// Decodes one code point at s[at], advancing at; invalid bytes stand for themselves.
char32_t nextCodePoint(std::string_view s, size_t& at) {
    const auto c = static_cast<unsigned char>(s[at]);
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (at + extra >= s.size() + (extra ? 0 : 1)) extra = 0;
    char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    for (int i = 1; i <= extra; ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[at + i]) & 0x3F);
    at += extra + 1;
    return cp;
}

char32_t fold(char32_t cp) {
    if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    return QChar::toCaseFolded(cp);
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

}  // namespace

int compareIgnoringCase(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
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
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) appendUtf8(out, fold(nextCodePoint(text, i)));
    return out;
}

}  // namespace tarlo
