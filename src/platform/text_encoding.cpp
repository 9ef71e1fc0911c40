#include "platform/text_encoding.h"

#include "platform/cp932_codec.h"
#include "platform/error.h"
#include "platform/utf8.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace tarlo {

namespace {

bool startsWith(QByteArrayView bytes, const char* prefix, qsizetype n) {
    return bytes.size() >= n && std::equal(prefix, prefix + n, bytes.data());
}

bool isAscii(QByteArrayView bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

const char* encodingLabel(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf8:
    case TextEncoding::Utf8WithBom: return "UTF-8";
    case TextEncoding::Utf16LeWithBom:
    case TextEncoding::Utf16BeWithBom: return "UTF-16";
    case TextEncoding::Ascii:
    case TextEncoding::Cp932: break;
    }
    return "Shift_JIS";
}

}  // namespace

TextEncoding detectEncoding(QByteArrayView bytes) {
    if (startsWith(bytes, "\xEF\xBB\xBF", 3)) return TextEncoding::Utf8WithBom;
    if (startsWith(bytes, "\xFF\xFE", 2)) return TextEncoding::Utf16LeWithBom;
    if (startsWith(bytes, "\xFE\xFF", 2)) return TextEncoding::Utf16BeWithBom;
    if (isAscii(bytes)) return TextEncoding::Ascii;
    if (isValidUtf8(bytes)) return TextEncoding::Utf8;
    return TextEncoding::Cp932;
}

namespace {

// Escapes are lone low surrogates: a decoder never gives one, the editor keeps one.
constexpr char16_t kByteEscape = 0xDC00;

bool isLeadByte(uint8_t b) {
    return isCp932LeadByte(b);
}

bool isTrailByte(uint8_t b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// Whether text[i] is an escaped byte rather than half of a surrogate pair.
bool isEscapeAt(QStringView text, qsizetype i) {
    const char16_t c = text[i].unicode();
    return c >= kByteEscape && c <= kByteEscape + 0xFF && (i == 0 || !text[i - 1].isHighSurrogate());
}

// Character by character, so that every byte either decodes to a character
// whose code the spelling records or stays an escape.
void decodeCp932Exactly(QByteArrayView bytes, DecodedText& out) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const qsizetype n = bytes.size();
    QHash<char16_t, QList<QByteArray>> spelled;  // every pair's code, per character, in order
    for (qsizetype i = 0; i < n;) {
        if (data[i] < 0x80) {
            out.text += QChar(char16_t(data[i++]));
            continue;
        }
        const bool pair = isLeadByte(data[i]) && i + 1 < n && isTrailByte(data[i + 1]);
        const QByteArrayView piece = bytes.sliced(i, pair ? 2 : 1);
        bool decoded = false;
        const QString character = decodeCp932Piece(piece, &decoded);
        if (!decoded || character.size() != 1) {
            out.text += QChar(char16_t(kByteEscape + data[i++]));  // a pair's second byte is read again alone
            continue;
        }
        if (pair) {
            QList<QByteArray>& codes = spelled[character[0].unicode()];
            codes.append(piece.toByteArray());
            if (codes.size() == 1) out.spelling.codes.insert(character[0].unicode(), codes.front());
        }
        out.text += character;
        i += piece.size();
    }
    for (auto it = spelled.cbegin(); it != spelled.cend(); ++it)
        if (it->count(it->front()) != it->size()) out.spelling.eachCode.insert(it.key(), *it);
}

DecodedText decodeCp932(QByteArrayView bytes) {
    DecodedText out{{}, TextEncoding::Cp932};
    // Most files read and write back the same, and one pass each way tells.
    bool decoded = false;
    out.text = decodeCp932Piece(bytes, &decoded);
    if (decoded) {
        bool encoded = false;
        const QByteArray again = encodeCp932(out.text, &encoded);
        if (encoded && again == bytes) return out;
    }
    out.text.clear();
    decodeCp932Exactly(bytes, out);
    return out;
}

// UTF-8 with the bytes that start no well-formed sequence kept as escapes.
QString decodeUtf8(QByteArrayView bytes) {
    if (isValidUtf8(bytes)) {
        // A second byte-order mark after the first is text, kept.
        QStringDecoder decoder(QStringConverter::Utf8,
                               QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        return decoder.decode(bytes);
    }
    QString out;
    out.reserve(bytes.size());
    const std::string_view s(bytes.data(), size_t(bytes.size()));
    for (size_t at = 0; at < s.size();) {
        const size_t from = at;
        bool valid = false;
        const char32_t cp = nextCodePoint(s, at, &valid);
        if (!valid) {
            out += QChar(char16_t(kByteEscape + uint8_t(s[from])));
        } else if (QChar::requiresSurrogates(cp)) {
            out += QChar(QChar::highSurrogate(cp));
            out += QChar(QChar::lowSurrogate(cp));
        } else {
            out += QChar(char16_t(cp));  // U+FEFF inside the text too: it is no byte-order mark there
        }
    }
    return out;
}

}  // namespace

QString decodeAs(QByteArrayView bytes, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Ascii:
    case TextEncoding::Utf8: return decodeUtf8(bytes);
    case TextEncoding::Utf8WithBom: return decodeUtf8(startsWith(bytes, "\xEF\xBB\xBF", 3) ? bytes.sliced(3) : bytes);
    case TextEncoding::Utf16LeWithBom:
    case TextEncoding::Utf16BeWithBom: {
        QStringDecoder decoder(encoding == TextEncoding::Utf16LeWithBom ? QStringConverter::Utf16LE
                                                                        : QStringConverter::Utf16BE);
        const QByteArrayView body = bytes.size() >= 2 ? bytes.sliced(2) : QByteArrayView();
        return decoder.decode(body);
    }
    case TextEncoding::Cp932: return decodeCp932(bytes).text;
    }
    return {};
}

DecodedText decodeText(QByteArrayView bytes) {
    const TextEncoding encoding = detectEncoding(bytes);
    if (encoding == TextEncoding::Cp932) return decodeCp932(bytes);
    return {decodeAs(bytes, encoding), encoding};
}

bool hasUndecodableBytes(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (isEscapeAt(text, i)) return true;
    return false;
}

QByteArray encodeText(const QString& text, const TextSpelling& spelling) {
    const TextEncoding encoding = spelling.encoding;
    switch (encoding) {
    case TextEncoding::Utf8:
    case TextEncoding::Utf8WithBom: {
        QByteArray out = encoding == TextEncoding::Utf8WithBom ? QByteArray("\xEF\xBB\xBF") : QByteArray();
        qsizetype from = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (!isEscapeAt(text, i)) continue;
            out += QStringView(text).sliced(from, i - from).toUtf8();
            out += char(text[i].unicode() - kByteEscape);
            from = i + 1;
        }
        return out + QStringView(text).sliced(from).toUtf8();
    }
    case TextEncoding::Utf16LeWithBom:
    case TextEncoding::Utf16BeWithBom: {
        const bool le = encoding == TextEncoding::Utf16LeWithBom;
        QStringEncoder encoder(le ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        return QByteArray(le ? "\xFF\xFE" : "\xFE\xFF") + QByteArray(encoder.encode(text));
    }
    case TextEncoding::Ascii:
    case TextEncoding::Cp932: break;
    }
    // Character by character, so the message can name the one that does not fit.
    QByteArray out;
    out.reserve(text.size() * 2);
    QHash<char16_t, qsizetype> occurrences;  // of the characters spelled more than one way
    for (qsizetype i = 0; i < text.size();) {
        if (text[i].unicode() < 0x80) {
            out += char(text[i++].unicode());
            continue;
        }
        if (isEscapeAt(text, i)) {
            out += char(text[i++].unicode() - kByteEscape);
            continue;
        }
        if (const auto each = spelling.eachCode.constFind(text[i].unicode()); each != spelling.eachCode.cend()) {
            if (const qsizetype k = occurrences[text[i].unicode()]++; k < each->size()) {
                out += each->at(k);
                ++i;
                continue;
            }
        }
        if (const auto code = spelling.codes.constFind(text[i].unicode()); code != spelling.codes.cend()) {
            out += *code;
            ++i;
            continue;
        }
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QStringView piece = QStringView(text).sliced(i, n);
        bool encoded = false;
        QByteArray bytes = encodeCp932(piece, &encoded);
        if (!encoded || decodeAs(bytes, TextEncoding::Cp932) != piece) {
            throw Error(ErrorFacts{.column = int(i + 1), .word = piece.toString()},
                        u"文字 \"%1\" (%2 文字目) は %3 で保存できません。", piece, i + 1, encodingLabel(encoding));
        }
        out += bytes;
        i += n;
    }
    return out;
}

int cp932ByteLength(char32_t codePoint) {
    if (codePoint < 0x80) return 1;
    if (codePoint >= 0xFF61 && codePoint <= 0xFF9F) return 1;  // half-width katakana
    return 2;  // beyond the BMP too: the code page writes such a character as "?" in at most two bytes
}

}  // namespace tarlo
