// How the text files of the folder are decoded, and encoded again when saved.
// Users' files are UTF-8 or the Windows Japanese code page CP932; which one a
// file is in is told from its bytes, and remembered so a save keeps it.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include "platform/utf8.h"

namespace tarlo {

enum class TextEncoding {
    Ascii,        // no byte above 0x7F: saved as CP932, the folder's traditional code page
    Utf8,
    Utf8WithBom,
    Cp932,
    Utf16LeWithBom,
    Utf16BeWithBom,
};

// How a file writes its characters: its encoding and, for CP932, the code
// of each character the file spells (where CP932 has two codes for one
// character, such as ED 40 and FA 5C, the encoder alone would pick one).
// A character the file spells both ways has the code of each of its
// occurrences in order; occurrences past those take the first code.
struct TextSpelling {
    TextSpelling(TextEncoding e = TextEncoding::Ascii) : encoding(e) {}  // NOLINT: an encoding is a spelling
    TextEncoding encoding;
    QHash<char16_t, QByteArray> codes;
    QHash<char16_t, QList<QByteArray>> eachCode;
};

struct DecodedText {
    QString text;
    TextSpelling spelling;
};

// A byte-order mark first, then valid UTF-8, otherwise CP932.
TextEncoding detectEncoding(QByteArrayView bytes);

// Decodes with the detected encoding; a byte-order mark never reaches the
// text. A byte its encoding cannot read stays in the text as an escape (a lone
// U+DC00 + byte, which no decoder gives), so that encoding the text with the
// spelling gives the file's bytes back.
DecodedText decodeText(QByteArrayView bytes);
QString decodeAs(QByteArrayView bytes, TextEncoding encoding);
// Whether a decoded text holds bytes its encoding could not read.
bool hasUndecodableBytes(QStringView text);

// Encodes text for a file in the given encoding, with its byte-order mark
// where it has one; escaped bytes are written as they were read, and a
// spelling's codes take precedence. Throws Error naming the first character
// that the encoding cannot hold, so nothing is written with it silently
// replaced.
QByteArray encodeText(const QString& text, const TextSpelling& spelling);

// The number of bytes a character takes in the Windows Japanese code page
// (a character it lacks counts as the two bytes its stand-in takes at most).
int cp932ByteLength(char32_t codePoint);

}  // namespace tarlo
