// How the text files of the folder are decoded, and encoded again when saved.
// Users' files are UTF-8 or the Windows Japanese code page CP932; which one a
// file is in is told from its bytes, and remembered so a save keeps it.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
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

struct DecodedText {
    QString text;
    TextEncoding encoding = TextEncoding::Ascii;
};

// A byte-order mark first, then valid UTF-8, otherwise CP932.
TextEncoding detectEncoding(QByteArrayView bytes);

// Decodes with the detected encoding; a byte-order mark never reaches the text.
DecodedText decodeText(QByteArrayView bytes);
QString decodeAs(QByteArrayView bytes, TextEncoding encoding);

// Encodes text for a file in the given encoding, with its byte-order mark
// where it has one. Throws Error naming the first character that the
// encoding cannot hold, so nothing is written with it silently replaced.
QByteArray encodeText(const QString& text, TextEncoding encoding);

// The number of bytes a character takes in the Windows Japanese code page.
int cp932ByteLength(char32_t codePoint);

}  // namespace tarlo
