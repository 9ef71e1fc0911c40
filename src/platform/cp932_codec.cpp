#include "platform/cp932_codec.h"

#include <algorithm>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QStringDecoder>
#include <QStringEncoder>
#endif

namespace tarlo {

#ifdef Q_OS_WIN

namespace {
constexpr UINT kCodePage = 932;
}

QString decodeCp932Piece(QByteArrayView bytes, bool* ok) {
    if (ok) *ok = true;
    if (bytes.isEmpty()) return {};
    const int n = int(bytes.size());
    // A strict pass tells whether every byte was read; the lenient one gives the text.
    int wide = ::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes.data(), n, nullptr, 0);
    const bool strict = wide > 0;
    if (!strict) wide = ::MultiByteToWideChar(kCodePage, 0, bytes.data(), n, nullptr, 0);
    QString out(wide, Qt::Uninitialized);
    ::MultiByteToWideChar(kCodePage, strict ? MB_ERR_INVALID_CHARS : 0, bytes.data(), n,
                          reinterpret_cast<wchar_t*>(out.data()), wide);
    if (ok) *ok = strict;
    return out;
}

QByteArray encodeCp932(QStringView text, bool* ok) {
    if (ok) *ok = true;
    if (text.isEmpty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    const int n = int(text.size());
    BOOL defaulted = FALSE;
    const int size = ::WideCharToMultiByte(kCodePage, 0, wide, n, nullptr, 0, nullptr, &defaulted);
    QByteArray out(size, Qt::Uninitialized);
    ::WideCharToMultiByte(kCodePage, 0, wide, n, out.data(), size, nullptr, &defaulted);
    if (ok) *ok = !defaulted;
    return out;
}

#else

namespace {
// ICU's "Shift_JIS" is the Windows variant: 0x5C is "\" and 0x8160 is U+FF5E.
constexpr const char* kCodecName = "Shift_JIS";
}

QString decodeCp932Piece(QByteArrayView bytes, bool* ok) {
    QStringDecoder decoder(kCodecName, QStringDecoder::Flag::Stateless);
    QString out = decoder.decode(bytes);
    if (ok) *ok = !decoder.hasError();
    return out;
}

QByteArray encodeCp932(QStringView text, bool* ok) {
    QStringEncoder encoder(kCodecName, QStringEncoder::Flag::Stateless);
    QByteArray out = encoder.encode(text);
    if (ok) *ok = !encoder.hasError();
    return out;
}

#endif

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
