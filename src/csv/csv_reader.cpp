#include "csv/csv_reader.h"

#include "platform/cp932_codec.h"
#include "platform/error.h"
#include "platform/text_encoding.h"

#include <QStringDecoder>

#include <cstring>
#include <limits>

namespace tarlo {

namespace {

bool startsWith(const TextBuffer& s, const char* prefix, size_t n) {
    return s.size() >= n && std::memcmp(s.data(), prefix, n) == 0;
}

void checkCancel(const ParseProgress& progress, double share) {
    if (progress && !progress(share)) throw Cancelled{};
}

// Validated in pieces cut before a character's first byte, so a cancel is
// heard within a few milliseconds even on a gigabyte.
bool isValidUtf8InPieces(const TextBuffer& bytes, const ParseProgress& progress) {
    constexpr size_t kPiece = size_t(16) << 20;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t at = 0; at < bytes.size();) {
        size_t end = std::min(bytes.size(), at + kPiece);
        while (end < bytes.size() && (b[end] & 0xC0) == 0x80) ++end;
        if (!isValidUtf8(QByteArrayView(bytes.data() + at, qsizetype(end - at)))) return false;
        checkCancel(progress, 0);
        at = end;
    }
    return true;
}

// Any of the stream decoders: Qt's for the Unicode forms, ours for CP932.
template <typename Decoder>
TextBuffer decodeWith(Decoder& decoder, const TextBuffer& bytes, size_t from, const ParseProgress& progress) {
    TextBuffer out;
    out.reserve(bytes.size() + bytes.size() / 2 + 16);
    constexpr size_t kChunk = 1 << 20;  // in pieces, so no whole-file UTF-16 copy is ever held
    for (size_t at = from; at < bytes.size(); at += kChunk) {
        const QByteArrayView piece(bytes.data() + at, static_cast<qsizetype>(std::min(kChunk, bytes.size() - at)));
        const QByteArray utf8 = QString(decoder.decode(piece)).toUtf8();
        out.append(utf8.constData(), static_cast<size_t>(utf8.size()));
        checkCancel(progress, 0);
    }
    if constexpr (requires { decoder.finish(); }) {
        const QByteArray utf8 = decoder.finish().toUtf8();
        out.append(utf8.constData(), static_cast<size_t>(utf8.size()));
    }
    return out;
}

// Codes that end an unquoted field.
struct Stops {
    bool table[256] = {};
    explicit Stops(char delimiter) { table[static_cast<unsigned char>(delimiter)] = table[size_t('\r')] = table[size_t('\n')] = true; }
};

TextBuffer decodeStrictly(QStringDecoder& decoder, const TextBuffer& bytes, size_t from, const ParseProgress& progress,
                          const QString& path, const char* name) {
    TextBuffer out = decodeWith(decoder, bytes, from, progress);
    if (decoder.hasError())
        throw Error(ErrorFacts{.file = path}, u"ファイル \"%1\" は %2 の文字として読めないバイトを含みます (schema.ini の CharacterSet)。",
                    path, name);
    return out;
}

}  // namespace

TextBuffer decodeToUtf8(TextBuffer bytes, const ParseProgress& progress, Charset charset, const QString& path) {
    if (charset == Charset::Cp932) {
        Cp932Decoder decoder;
        return decodeWith(decoder, bytes, 0, progress);
    }
    if (charset == Charset::Utf8) {
        QStringDecoder decoder(QStringConverter::Utf8);
        return decodeStrictly(decoder, bytes, startsWith(bytes, "\xEF\xBB\xBF", 3) ? 3 : 0, progress, path, "UTF-8");
    }
    if (charset == Charset::Utf16) {
        const bool big = startsWith(bytes, "\xFE\xFF", 2);
        QStringDecoder decoder(big ? QStringConverter::Utf16BE : QStringConverter::Utf16LE);
        const bool bom = big || startsWith(bytes, "\xFF\xFE", 2);
        return decodeStrictly(decoder, bytes, bom ? 2 : 0, progress, path, "UTF-16");
    }
    if (startsWith(bytes, "\xEF\xBB\xBF", 3)) {
        std::memmove(bytes.data(), bytes.data() + 3, bytes.size() - 3);
        bytes.resize(bytes.size() - 3);
        return bytes;
    }
    if (startsWith(bytes, "\xFF\xFE", 2)) {
        QStringDecoder decoder(QStringConverter::Utf16LE);
        return decodeWith(decoder, bytes, 2, progress);
    }
    if (startsWith(bytes, "\xFE\xFF", 2)) {
        QStringDecoder decoder(QStringConverter::Utf16BE);
        return decodeWith(decoder, bytes, 2, progress);
    }
    if (isValidUtf8InPieces(bytes, progress)) return bytes;
    Cp932Decoder decoder;
    return decodeWith(decoder, bytes, 0, progress);
}

CsvData parseCsv(TextBuffer utf8, const QString& path, const ParseProgress& progress, const CsvDialect& dialect) {
    const Stops stops(dialect.delimiter);
    if (utf8.size() >= kMaxTextBytes) {
        throw Error(ErrorFacts{.file = path}, u"ファイル \"%1\" が大きすぎます (64 GB まで)。", path);
    }
    CsvData data;
    data.text = std::move(utf8);
    char* const base = data.text.data();
    const char* const end = base + data.text.size();

    // The line count bounds the row count: each column is sized once.
    size_t lines = 1;
    for (const char* p = base; p < end; ++p) {
        lines += (*p == '\n' || *p == '\r');
        if (((p - base) & ((1 << 22) - 1)) == 0) checkCancel(progress, 0);
    }

    std::vector<FieldRef> record;
    qint64 recordLine = 1;
    bool headerDone = !dialect.header;
    auto addRecord = [&] {
        if (record.size() > kMaxColumns) {
            throw Error(ErrorFacts{.file = path, .line = qint64(recordLine)},
                        u"ファイル \"%1\" の %2 行目: 列が多すぎます (%3 列、%4 列まで)。", path, recordLine, record.size(),
                        kMaxColumns);
        }
        if (!headerDone) {
            data.header = record;
            headerDone = true;
            for (size_t c = 0; c < record.size(); ++c) data.columns.emplace_back().cells.reserve(lines);
            return;
        }
        if (data.rows >= kMaxRows) {
            throw Error(ErrorFacts{.file = path, .line = recordLine},
                        u"ファイル \"%1\" の %2 行目: 行が多すぎます (%3 行まで)。", path, recordLine, kMaxRows);
        }
        // A row longer than any before it opens columns that start at that row.
        while (data.columns.size() < record.size()) data.columns.emplace_back().firstRow = data.rows;
        for (size_t c = 0; c < record.size(); ++c) {
            CsvColumn& column = data.columns[c];
            // Short rows in between hold nothing in this column.
            while (column.firstRow + column.cells.size() < data.rows) column.cells.push_back(FieldRef(0, kMissing));
            column.cells.push_back(record[c]);
        }
        ++data.rows;
    };

    // A field longer than a cell can say is refused, never cut.
    auto field = [&](const char* start, size_t length) {
        if (length > kMaxFieldBytes) {
            throw Error(ErrorFacts{.file = path, .line = recordLine},
                        u"ファイル \"%1\" の %2 行目: 項目が長すぎます (%3 MB まで)。", path, recordLine,
                        kMaxFieldBytes >> 20);
        }
        return FieldRef(uint64_t(start - base), length);
    };

    char* p = base;
    qint64 line = 1;
    // Offsets, not pointers: an empty file has no buffer to point past.
    size_t nextReport = size_t(1) << 22;
    while (p < end) {
        if (progress && size_t(p - base) >= nextReport) {
            checkCancel(progress, double(p - base) / double(end - base));
            nextReport = size_t(p - base) + (size_t(1) << 22);
        }
        record.clear();
        recordLine = line;
        bool quotedOnly = false;
        for (;;) {
            if (p < end && dialect.quote && *p == dialect.quote) {
                const qint64 openLine = line;
                char* out = p;
                const char* in = p + 1;
                for (;;) {
                    const char* quote = static_cast<const char*>(std::memchr(in, dialect.quote, size_t(end - in)));
                    if (!quote) {
                        throw Error(ErrorFacts{.file = path, .line = qint64(openLine)},
                                    u"ファイル \"%1\" の %2 行目: 引用符 (\") が閉じられていません。"
                                    u"この行で開いた引用符がファイルの終わりまで続いています。",
                                    path, openLine);
                    }
                    for (const char* c = in; c < quote; ++c)
                        line += (*c == '\n') || (*c == '\r' && (c + 1 == quote || c[1] != '\n'));
                    const size_t n = size_t(quote - in);
                    std::memmove(out, in, n);
                    out += n;
                    in = quote + 1;
                    if (in < end && *in == dialect.quote) {
                        *out++ = dialect.quote;
                        ++in;
                        continue;
                    }
                    break;
                }
                // Text after the closing quote is kept, not dropped.
                while (in < end && !stops.table[static_cast<unsigned char>(*in)]) *out++ = *in++;
                record.push_back(field(p, size_t(out - p)));
                quotedOnly = record.size() == 1;
                p = const_cast<char*>(in);
            } else {
                char* start = p;
                while (p < end && !stops.table[static_cast<unsigned char>(*p)]) ++p;
                record.push_back(field(start, size_t(p - start)));
                quotedOnly = false;
            }
            if (p == end) break;
            if (*p == dialect.delimiter) {
                ++p;
                continue;
            }
            if (*p++ == '\r' && p < end && *p == '\n') ++p;
            ++line;
            break;
        }
        // A blank line holds no data: it is no row.
        if (record.size() == 1 && record[0].length() == 0 && !quotedOnly) continue;
        addRecord();
    }
    return data;
}

}  // namespace tarlo
