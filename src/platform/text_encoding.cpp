#include "platform/text_encoding.h"

#include "platform/error.h"
#include "platform/utf8.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace tarlo {

namespace {

// ICU's "Shift_JIS" is the Windows variant: 0x5C is "\" and 0x8160 is U+FF5E.
constexpr const char* kCp932Name = "Shift_JIS";

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

QString decodeAs(QByteArrayView bytes, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Ascii:
    case TextEncoding::Utf8: return QString::fromUtf8(bytes);
    case TextEncoding::Utf8WithBom:
        return QString::fromUtf8(startsWith(bytes, "\xEF\xBB\xBF", 3) ? bytes.sliced(3) : bytes);
    case TextEncoding::Utf16LeWithBom:
    case TextEncoding::Utf16BeWithBom: {
        QStringDecoder decoder(encoding == TextEncoding::Utf16LeWithBom ? QStringConverter::Utf16LE
                                                                        : QStringConverter::Utf16BE);
        const QByteArrayView body = bytes.size() >= 2 ? bytes.sliced(2) : QByteArrayView();
        return decoder.decode(body);
    }
    case TextEncoding::Cp932: {
        QStringDecoder decoder(kCp932Name);
        return decoder.decode(bytes);
    }
    }
    return {};
}

DecodedText decodeText(QByteArrayView bytes) {
    const TextEncoding encoding = detectEncoding(bytes);
    return {decodeAs(bytes, encoding), encoding};
}

QByteArray encodeText(const QString& text, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf8: return text.toUtf8();
    case TextEncoding::Utf8WithBom: return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
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
    QStringEncoder encoder(kCp932Name);
    QByteArray out;
    out.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QStringView piece = QStringView(text).sliced(i, n);
        QByteArray bytes = encoder(piece);
        if (encoder.hasError() || decodeAs(bytes, TextEncoding::Cp932) != piece) {
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
    if (codePoint > 0xFFFF) return 4;
    return 2;
}

}  // namespace tarlo
