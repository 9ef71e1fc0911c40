// Code page 932 (Shift_JIS as Windows has it) in and out of UTF-16, with one
// table of our own on every system, so that a file reads the same on Linux
// and on Windows, byte for byte.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace tarlo {

// Decodes a stream given in pieces: a character cut between two pieces is
// decoded whole with the next. Bytes that read as no character become
// U+FFFD and set hasError().
class Cp932Decoder {
public:
    QString decode(QByteArrayView bytes);
    // What a lead byte at the very end of the stream leaves (an error).
    QString finish();
    bool hasError() const { return error_; }

private:
    QByteArray pending_;  // a lead byte that ended the last piece
    bool error_ = false;
};

// One-shot conversions; *ok (when given) is false when a byte or character
// had no counterpart (it is then replaced: U+FFFD for a byte, "?" for a
// character).
QString decodeCp932Piece(QByteArrayView bytes, bool* ok = nullptr);
QByteArray encodeCp932(QStringView text, bool* ok = nullptr);

// The bytes that start a two-byte character of code page 932.
inline bool isCp932LeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

}  // namespace tarlo
