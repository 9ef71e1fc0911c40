// The one UTF-8 decoder and encoder of the core.
#include "platform/utf8.h"

#include <cstdint>
#include <cstring>

namespace tarlo {

char32_t nextCodePoint(std::string_view s, size_t& at, bool* valid) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = byte(at);
    int extra = 0;
    char32_t min = 0, cp = c;
    if (c >= 0x80) {
        if ((c & 0xE0) == 0xC0) extra = 1, min = 0x80, cp = c & 0x1F;
        else if ((c & 0xF0) == 0xE0) extra = 2, min = 0x800, cp = c & 0x0F;
        else if ((c & 0xF8) == 0xF0) extra = 3, min = 0x10000, cp = c & 0x07;
        bool ok = extra > 0 && at + extra < s.size();
        for (int i = 1; ok && i <= extra; ++i) {
            ok = (byte(at + i) & 0xC0) == 0x80;
            cp = (cp << 6) | (byte(at + i) & 0x3F);
        }
        ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!ok) {
            if (valid) *valid = false;
            ++at;
            return c;
        }
    }
    if (valid) *valid = true;
    at += size_t(extra) + 1;
    return cp;
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

bool isValidUtf8(QByteArrayView bytes) {
    const std::string_view s(bytes.data(), size_t(bytes.size()));
    for (size_t at = 0; at < s.size();) {
        // Most files are mostly ASCII: 32 bytes at a time while they are.
        if (at + 32 <= s.size()) {
            uint64_t w[4];
            std::memcpy(w, s.data() + at, 32);
            if (((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080ull) == 0) {
                at += 32;
                continue;
            }
        }
        uint64_t eight;
        if (at + 8 <= s.size() && (std::memcpy(&eight, s.data() + at, 8), (eight & 0x8080808080808080ull) == 0)) {
            at += 8;
            continue;
        }
        if (static_cast<unsigned char>(s[at]) < 0x80) {  // the common case, without a call
            ++at;
            continue;
        }
        bool valid = false;
        nextCodePoint(s, at, &valid);
        if (!valid) return false;
    }
    return true;
}

}  // namespace tarlo
