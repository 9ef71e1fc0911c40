#include "platform/cp932_codec.h"

#include "platform/cp932_table.h"

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

namespace tarlo {

namespace {

// Where a character has several codes, the one Windows writes: JIS X 0208
// first, then NEC's row 13, then IBM's extensions, last NEC's copies of them.
int preference(uint8_t lead) {
    if (lead == 0x87) return 1;
    if (lead >= 0xFA) return 2;
    if (lead == 0xED || lead == 0xEE) return 3;
    return 0;
}

// Each character's two-byte code, lead byte high; 0 for none. Built once.
const std::array<uint16_t, 0x10000>& pairCodes() {
    static const auto table = [] {
        auto codes = std::make_unique<std::array<uint16_t, 0x10000>>();
        codes->fill(0);
        for (int l = 0; l < cp932::kLeadCount; ++l)
            for (int t = 0; t < cp932::kTrailCount; ++t) {
                const char16_t c = cp932::kPairs[l][t];
                if (c == 0) continue;
                const uint8_t lead = cp932::leadByte(l);
                uint16_t& code = (*codes)[c];
                if (code == 0 || preference(lead) < preference(uint8_t(code >> 8))) code = uint16_t(lead << 8 | (t + 0x40));
            }
        return codes;
    }();
    return *table;
}

}  // namespace

// Bytes below 80 are ASCII (the controls 1A, 1C and 7F too), A1-DF the
// half-width katakana; 80, A0 and FD-FF have no character. A lead byte whose
// pair has none is read as no character alone, and the next byte is read
// again: no following byte (a TAB, a ";") is ever swallowed.
QString decodeCp932Piece(QByteArrayView bytes, bool* ok) {
    bool clean = true;
    QString out(bytes.size(), Qt::Uninitialized);
    char16_t* to = reinterpret_cast<char16_t*>(out.data());
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype written = 0;
    for (qsizetype i = 0; i < n;) {
        const uint8_t c = b[i];
        if (c < 0x80) {
            to[written++] = c;
            ++i;
        } else if (c >= 0xA1 && c <= 0xDF) {
            to[written++] = char16_t(0xFF61 + (c - 0xA1));
            ++i;
        } else if (const int lead = cp932::leadIndex(c), trail = i + 1 < n ? cp932::trailIndex(b[i + 1]) : -1;
                   lead >= 0 && trail >= 0 && cp932::kPairs[lead][trail] != 0) {
            to[written++] = cp932::kPairs[lead][trail];
            i += 2;
        } else {
            to[written++] = 0xFFFD;
            clean = false;
            ++i;
        }
    }
    out.truncate(written);
    if (ok) *ok = clean;
    return out;
}

QByteArray encodeCp932(QStringView text, bool* ok) {
    bool clean = true;
    QByteArray out;
    out.reserve(text.size() * 2);
    const auto& codes = pairCodes();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            out += char(c);
        } else if (c >= 0xFF61 && c <= 0xFF9F) {
            out += char(0xA1 + (c - 0xFF61));
        } else if (const uint16_t code = codes[c]; code != 0) {
            out += char(code >> 8);
            out += char(code & 0xFF);
        } else {
            out += '?';
            clean = false;
            if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
        }
    }
    if (ok) *ok = clean;
    return out;
}

QString Cp932Decoder::decode(QByteArrayView bytes) {
    QByteArray joined;
    if (!pending_.isEmpty()) {
        joined = pending_ + bytes.toByteArray();
        bytes = joined;
        pending_.clear();
    }
    // A lead byte at the very end waits for its second byte in the next piece.
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n && !(isCp932LeadByte(b[i]) && i + 1 == n)) i += isCp932LeadByte(b[i]) ? 2 : 1;
    const qsizetype whole = std::min(i, n);
    if (whole < n) pending_ = QByteArray(bytes.data() + whole, n - whole);
    bool ok = true;
    QString out = decodeCp932Piece(bytes.first(whole), &ok);
    error_ = error_ || !ok;
    return out;
}

QString Cp932Decoder::finish() {
    if (pending_.isEmpty()) return {};
    const QByteArray rest = std::exchange(pending_, {});
    error_ = true;  // a lead byte with no second byte reads as no character
    const QString out = decodeCp932Piece(rest);
    return out.isEmpty() ? QString(QChar::ReplacementCharacter) : out;
}

}  // namespace tarlo
