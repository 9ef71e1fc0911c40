#include "csv/csv_reader.h"

#include <string>

#include "platform/cp932_codec.h"
#include "platform/cp932_table.h"
#include "platform/error.h"
#include "platform/parallel.h"
#include "platform/text_encoding.h"

#include <QStringDecoder>

#include <atomic>
#include <cstring>
#include <exception>
#include <limits>

namespace tarlo {

namespace {

bool startsWith(const TextBuffer& s, const char* prefix, size_t n) {
    return s.size() >= n && std::memcmp(s.data(), prefix, n) == 0;
}

void checkCancel(const ParseProgress& progress, double share) {
    if (progress && !progress(share)) throw Cancelled{};
}

// Validated in pieces cut before a character's first byte, on every core,
// so a cancel is heard within a few milliseconds even on a gigabyte.
bool isValidUtf8InPieces(const TextBuffer& bytes, const ParseProgress& progress) {
    constexpr size_t kPiece = size_t(4) << 20;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    std::vector<size_t> cuts{0};
    while (cuts.back() < bytes.size()) {
        size_t end = std::min(bytes.size(), cuts.back() + kPiece);
        while (end < bytes.size() && (b[end] & 0xC0) == 0x80) ++end;
        cuts.push_back(end);
    }
    std::atomic<bool> valid = true, stop = false;
    onThreadsWatched(
        cuts.size() - 1, coreCount(),
        [&](size_t k) {
            if (stop.load(std::memory_order_relaxed) || !valid.load(std::memory_order_relaxed)) return;
            if (!isValidUtf8(QByteArrayView(bytes.data() + cuts[k], qsizetype(cuts[k + 1] - cuts[k])))) valid = false;
        },
        [&] {
            if (progress && !progress(0)) stop = true;
            return !stop.load();
        });
    if (stop) throw Cancelled{};
    return valid;
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
        const size_t bom = startsWith(bytes, "\xEF\xBB\xBF", 3) ? 3 : 0;
        // Valid text is its own UTF-8: no decoding, and no copy.
        if (isValidUtf8InPieces(bytes, progress)) {
            if (bom) {
                std::memmove(bytes.data(), bytes.data() + bom, bytes.size() - bom);
                bytes.resize(bytes.size() - bom);
            }
            return bytes;
        }
        QStringDecoder decoder(QStringConverter::Utf8);
        return decodeStrictly(decoder, bytes, bom, progress, path, "UTF-8");
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

namespace {

// What stopped a parse, kept until its piece is known to be the file's own.
struct Failure {
    enum class Kind { None, Columns, Rows, FieldLength, Unclosed } kind = Kind::None;
    qint64 line = 0;
    size_t count = 0;
};

[[noreturn]] void raise(Failure f, const QString& path, qint64 lineOffset) {
    f.line += lineOffset;
    const ErrorFacts facts{.file = path, .line = f.line};
    switch (f.kind) {
    case Failure::Kind::Columns:
        throw Error(facts, u"ファイル \"%1\" の %2 行目: 列が多すぎます (%3 列、%4 列まで)。", path, f.line, f.count, kMaxColumns);
    case Failure::Kind::Rows:
        throw Error(facts, u"ファイル \"%1\" の %2 行目: 行が多すぎます (%3 行まで)。", path, f.line, kMaxRows);
    case Failure::Kind::FieldLength:
        throw Error(facts, u"ファイル \"%1\" の %2 行目: 項目が長すぎます (%3 MB まで)。", path, f.line, kMaxFieldBytes >> 20);
    default:
        throw Error(facts,
                    u"ファイル \"%1\" の %2 行目: 引用符 (\") が閉じられていません。"
                    u"この行で開いた引用符がファイルの終わりまで続いています。",
                    path, f.line);
    }
}

// The quoted field whose opening quote is at p: its text, unescaped, from
// p on (written only when Write), and where the input goes on. Lines the
// field spans are counted into line. False for a quote never closed.
template <bool Write>
bool readQuoted(char* p, const char* end, char quote, const Stops& stops, qint64& line, char*& outEnd, const char*& inEnd) {
    char* out = p;
    const char* in = p + 1;
    for (;;) {
        const char* close = static_cast<const char*>(std::memchr(in, quote, size_t(end - in)));
        if (!close) return false;
        for (const char* c = in; c < close; ++c) line += (*c == '\n') || (*c == '\r' && (c + 1 == close || c[1] != '\n'));
        const size_t n = size_t(close - in);
        if constexpr (Write) std::memmove(out, in, n);
        out += n;
        in = close + 1;
        if (in < end && *in == quote) {
            if constexpr (Write) *out = quote;
            ++out;
            ++in;
            continue;
        }
        break;
    }
    // Text after the closing quote is kept, not dropped.
    while (in < end && !stops.table[static_cast<unsigned char>(*in)]) {
        if constexpr (Write) *out = *in;
        ++out;
        ++in;
    }
    outEnd = out;
    inEnd = in;
    return true;
}

// The records that start in [begin, end) of the text; the last may run on
// past end. Rows and lines count from the piece's start.
struct Piece {
    size_t begin = 0, end = 0;
    size_t next = 0;  // where the record after the piece's last one starts
    bool headerDone = true;
    std::vector<FieldRef> header;
    std::vector<CsvColumn> columns;
    size_t rows = 0;
    qint64 lines = 0;  // line breaks read
    std::vector<std::pair<uint64_t, uint64_t>> quoted;  // deferred: each quoted field's start and input end
    Failure failure;
    bool headerOnly = false;  // stop after the first record
    // Direct: the first `width` columns go straight into the file's arrays,
    // rows from `slot` on (at most `room` of them); only the columns of rows
    // longer than that stay in columns.
    FieldRef* const* direct = nullptr;
    size_t width = 0, slot = 0, room = 0;
    std::vector<size_t> lastRow;  // per direct column: one past the last row that has it
    bool overflow = false;        // more rows than room: the counts were wrong
};

// Write: quoted fields are unescaped as they are read (one piece, one
// thread). Otherwise they are left for unescapeQuoted, so that a piece read
// from a wrong start never writes into its neighbour's text.
template <bool Write>
void parsePiece(char* base, size_t fileEnd, Piece& piece, const CsvDialect& dialect, const Stops& stops,
                const std::function<bool(size_t at)>& goOn, size_t reserve) {
    const char* const end = base + fileEnd;
    std::vector<FieldRef> record;
    qint64 line = 1;
    qint64 recordLine = 1;
    auto fail = [&](Failure::Kind kind, qint64 at, size_t count = 0) {
        piece.failure = {kind, at, count};
    };
    auto addRecord = [&] {
        if (record.size() > kMaxColumns) return fail(Failure::Kind::Columns, recordLine, record.size());
        if (!piece.headerDone) {
            piece.header = record;
            piece.headerDone = true;
            for (size_t c = 0; c < record.size(); ++c) piece.columns.emplace_back().cells.reserve(reserve);
            return;
        }
        if (piece.rows >= kMaxRows) return fail(Failure::Kind::Rows, recordLine);
        if (piece.direct) {
            if (piece.rows >= piece.room) {
                piece.overflow = true;
                return fail(Failure::Kind::Rows, recordLine);
            }
            const size_t at = piece.slot + piece.rows;
            for (size_t c = 0; c < piece.width; ++c) {
                FieldRef* const column = piece.direct[c];  // null: a column not kept
                if (c < record.size()) {
                    if (column) column[at] = record[c];
                    piece.lastRow[c] = piece.rows + 1;
                } else if (column) {
                    column[at] = FieldRef(0, kMissing);
                }
            }
            if (record.size() <= piece.width) {
                ++piece.rows;
                return;
            }
        }
        // A row longer than any before it opens columns that start at that row.
        while (piece.columns.size() < record.size()) piece.columns.emplace_back().firstRow = piece.rows;
        for (size_t c = piece.direct ? piece.width : 0; c < record.size(); ++c) {
            CsvColumn& column = piece.columns[c];
            // Short rows in between hold nothing in this column.
            while (column.firstRow + column.cells.size() < piece.rows) column.cells.push_back(FieldRef(0, kMissing));
            column.cells.push_back(record[c]);
        }
        ++piece.rows;
    };

    char* p = base + piece.begin;
    const char* const stopAt = base + piece.end;
    size_t nextCheck = piece.begin + (size_t(1) << 22);
    while (p < stopAt && piece.failure.kind == Failure::Kind::None) {
        if (goOn && size_t(p - base) >= nextCheck) {
            if (!goOn(size_t(p - base))) return;
            nextCheck = size_t(p - base) + (size_t(1) << 22);
        }
        record.clear();
        recordLine = line;
        bool quotedOnly = false;
        for (;;) {
            char* start = p;
            size_t length = 0;
            if (p < end && dialect.quote && *p == dialect.quote) {
                const qint64 openLine = line;
                char* out;
                const char* in;
                if (!readQuoted<Write>(p, end, dialect.quote, stops, line, out, in)) {
                    fail(Failure::Kind::Unclosed, openLine);
                    break;
                }
                if (!Write) piece.quoted.emplace_back(uint64_t(p - base), uint64_t(in - base));
                length = size_t(out - p);
                quotedOnly = record.empty();
                p = const_cast<char*>(in);
            } else {
                while (p < end && !stops.table[static_cast<unsigned char>(*p)]) ++p;
                length = size_t(p - start);
                quotedOnly = false;
            }
            // A field longer than a cell can say is refused, never cut.
            if (length > kMaxFieldBytes) {
                fail(Failure::Kind::FieldLength, recordLine);
                break;
            }
            record.push_back(FieldRef(uint64_t(start - base), length));
            if (p == end) break;
            if (*p == dialect.delimiter) {
                ++p;
                continue;
            }
            if (*p++ == '\r' && p < end && *p == '\n') ++p;
            ++line;
            break;
        }
        if (piece.failure.kind != Failure::Kind::None) break;
        // A blank line holds no data: it is no row.
        if (record.size() == 1 && record[0].length() == 0 && !quotedOnly) continue;
        addRecord();
        if (piece.headerOnly) break;
    }
    piece.next = size_t(p - base);
    piece.lines = line - 1;
}

void unescapeQuoted(char* base, const Piece& piece, char quote, const Stops& stops) {
    for (const auto& [at, inEnd] : piece.quoted) {
        qint64 line = 0;
        char* out;
        const char* in;
        readQuoted<true>(base + at, base + inEnd, quote, stops, line, out, in);
    }
}

// The pieces' columns as the file's, joined a column at a time so the
// pieces' cells are let go as the file's grow.
void joinColumns(CsvData& data, std::vector<Piece>& pieces, const std::vector<size_t>& rowBase, size_t from) {
    size_t width = std::max(data.header.size(), data.columns.size());
    for (const Piece& piece : pieces) width = std::max(width, piece.columns.size());
    data.columns.resize(width);
    for (size_t c = from; c < width; ++c) {
        CsvColumn& out = data.columns[c];
        bool started = c < data.header.size();  // the header's columns start at the first row
        size_t last = 0;
        for (size_t k = 0; k < pieces.size(); ++k) {
            if (c >= pieces[k].columns.size()) continue;
            const CsvColumn& pc = pieces[k].columns[c];
            if (!started) out.firstRow = rowBase[k] + pc.firstRow, started = true;
            if (!pc.cells.empty()) last = rowBase[k] + pc.firstRow + pc.cells.size();
        }
        out.cells.reserve(last > out.firstRow ? last - out.firstRow : 0);
        for (size_t k = 0; k < pieces.size(); ++k) {
            if (c >= pieces[k].columns.size()) continue;
            CsvColumn& pc = pieces[k].columns[c];
            if (pc.cells.empty()) continue;
            while (out.firstRow + out.cells.size() < rowBase[k] + pc.firstRow) out.cells.push_back(FieldRef(0, kMissing));
            out.cells.append(pc.cells.data(), pc.cells.size());
            pc.cells = {};
        }
    }
}

size_t piecesFor(size_t bytes) {
    const size_t threads = coreCount();
    if (threads == 1 || bytes < (size_t(4) << 20)) return 1;
    return std::min(threads * 4, std::max(threads, bytes >> 22));
}

// One reader over the whole text, unescaping as it reads.
CsvData parseWhole(TextBuffer utf8, const QString& path, const ParseProgress& progress, const CsvDialect& dialect) {
    const Stops stops(dialect.delimiter);
    if (utf8.size() >= kMaxTextBytes) {
        throw Error(ErrorFacts{.file = path}, u"ファイル \"%1\" が大きすぎます (64 GB まで)。", path);
    }
    CsvData data;
    data.text = std::move(utf8);
    char* const base = data.text.data();
    const size_t size = data.text.size();

    // The line count bounds the row count: each column is sized once.
    size_t lines = 1;
    for (size_t i = 0; i < size; ++i) {
        lines += (base[i] == '\n' || base[i] == '\r');
        if ((i & ((1 << 22) - 1)) == 0) checkCancel(progress, 0);
    }
    Piece piece;
    piece.end = size;
    piece.headerDone = !dialect.header;
    const auto goOn = [&](size_t at) {
        checkCancel(progress, double(at) / double(size));
        return true;
    };
    parsePiece<true>(base, size, piece, dialect, stops, progress ? goOn : std::function<bool(size_t)>(), lines);
    if (piece.failure.kind != Failure::Kind::None) raise(piece.failure, path, dialect.lineOffset);
    data.header = std::move(piece.header);
    data.columns = std::move(piece.columns);
    data.rows = piece.rows;
    return data;
}

}  // namespace

CsvData parseCsv(TextBuffer utf8, const QString& path, const ParseProgress& progress, const CsvDialect& dialect,
                 const ColumnChoice& choose) {
    const size_t pieces = piecesFor(utf8.size());
    if (pieces > 1) return parseCsvInPieces(std::move(utf8), path, progress, dialect, pieces, choose);
    return parseWhole(std::move(utf8), path, progress, dialect);
}

CsvData parseCsvInPieces(TextBuffer utf8, const QString& path, const ParseProgress& progress, const CsvDialect& dialect,
                         size_t count, const ColumnChoice& choose) {
    const Stops stops(dialect.delimiter);
    if (utf8.size() >= kMaxTextBytes) {
        throw Error(ErrorFacts{.file = path}, u"ファイル \"%1\" が大きすぎます (64 GB まで)。", path);
    }
    char* const base = utf8.data();
    const size_t size = utf8.size();
    if (size == 0) return parseWhole(std::move(utf8), path, progress, dialect);

    // The first record, read alone: its width is the columns the pieces
    // write straight into the file's arrays.
    Piece head;
    head.end = size;
    head.headerDone = !dialect.header;
    head.headerOnly = true;
    parsePiece<false>(base, size, head, dialect, stops, {}, 0);
    if (head.failure.kind != Failure::Kind::None || (dialect.header && !head.headerDone))
        return parseWhole(std::move(utf8), path, progress, dialect);
    const size_t width = dialect.header ? head.header.size() : head.columns.size();
    const size_t first = dialect.header ? head.next : 0;
    if (first >= size) return parseWhole(std::move(utf8), path, progress, dialect);
    std::vector<bool> kept;
    if (choose && dialect.header) {
        // The names unquoted as the table gives them, in a copy: the text is
        // unescaped in place only once the whole read stands.
        std::string names(base, head.next);
        unescapeQuoted(names.data(), head, dialect.quote, stops);
        std::vector<std::string_view> header;
        for (const FieldRef f : head.header) header.emplace_back(names.data() + f.offset(), f.length());
        kept = choose(header);
        kept.resize(width, true);
    }
    const auto keeps = [&](size_t c) { return kept.empty() || kept[c]; };

    // Each piece starts after a line break, where a record most likely
    // starts; where it does not (a quoted field spans the break), the piece
    // is read again from where its neighbour really ended.
    std::vector<Piece> pieces(1);
    pieces[0].begin = first;
    for (size_t k = 1; k < count; ++k) {
        const size_t from = first + (size - first) * k / count;
        const void* nl = std::memchr(base + from, '\n', size - from);
        if (!nl) break;
        const size_t start = size_t(static_cast<const char*>(nl) - base) + 1;
        if (start >= size || start <= pieces.back().begin) continue;
        pieces.back().end = start;
        pieces.emplace_back().begin = start;
    }
    pieces.back().end = size;

    std::atomic<bool> stop{false};
    std::atomic<size_t> done{0};
    const size_t threads = std::min(pieces.size(), coreCount());
    const auto watch = [&] {
        if (progress && !progress(std::min(1.0, double(done.load()) / double(size)))) stop = true;
        return !stop.load();
    };
    // A piece holds at most as many records as line ends: each its slot of rows.
    onThreadsWatched(
        pieces.size(), threads,
        [&](size_t k) {
            Piece& piece = pieces[k];
            size_t ends = 0;
            for (size_t i = piece.begin; i < piece.end; ++i)
                ends += base[i] == '\n' || (base[i] == '\r' && (i + 1 == size || base[i + 1] != '\n'));
            piece.room = ends + (k + 1 == pieces.size() && base[size - 1] != '\n' && base[size - 1] != '\r');
        },
        watch);
    if (stop) throw Cancelled{};
    size_t allRows = 0;
    for (Piece& piece : pieces) piece.slot = allRows, allRows += piece.room;
    std::vector<LargeArray<FieldRef>> direct(width);
    std::vector<FieldRef*> directData(width);
    for (size_t c = 0; c < width; ++c) {
        if (!keeps(c)) continue;
        direct[c].resize(allRows);
        directData[c] = direct[c].data();
    }
    for (Piece& piece : pieces) {
        piece.direct = directData.data();
        piece.width = width;
        piece.lastRow.assign(width, 0);
    }

    const auto workerGoOn = [&](size_t) {
        done += size_t(1) << 22;
        return !stop.load(std::memory_order_relaxed);
    };
    onThreadsWatched(
        pieces.size(), threads, [&](size_t k) { parsePiece<false>(base, size, pieces[k], dialect, stops, workerGoOn, 0); },
        watch);
    if (stop) throw Cancelled{};

    // In file order: each piece must start where the one before ended; the
    // first failure of a piece so confirmed is the file's.
    const auto mainGoOn = [&](size_t at) {
        checkCancel(progress, double(at) / double(size));
        return true;
    };
    std::vector<size_t> rowBase(pieces.size(), 0);
    qint64 lineBase = dialect.header ? head.lines : 0;
    size_t rows = 0;
    for (size_t k = 0; k < pieces.size(); ++k) {
        if (k > 0 && pieces[k].begin != pieces[k - 1].next) {
            Piece again;
            again.begin = pieces[k - 1].next;
            again.end = std::max(again.begin, pieces[k].end);
            again.direct = pieces[k].direct;
            again.width = width;
            again.slot = pieces[k].slot;
            again.room = pieces[k].room;
            again.lastRow.assign(width, 0);
            parsePiece<false>(base, size, again, dialect, stops, mainGoOn, 0);
            pieces[k] = std::move(again);
        }
        Piece& piece = pieces[k];
        // Too many rows, or line ends miscounted: rare enough that one reader settles it.
        if (piece.failure.kind == Failure::Kind::Rows) return parseWhole(std::move(utf8), path, progress, dialect);
        if (piece.failure.kind != Failure::Kind::None) {
            Failure f = piece.failure;
            f.line += lineBase;
            raise(f, path, dialect.lineOffset);
        }
        rowBase[k] = rows;
        rows += piece.rows;
        lineBase += piece.lines;
    }
    if (rows > kMaxRows) return parseWhole(std::move(utf8), path, progress, dialect);  // the one reader names the line

    std::vector<const Piece*> quoted;
    if (dialect.header) quoted.push_back(&head);
    for (const Piece& piece : pieces)
        if (!piece.quoted.empty()) quoted.push_back(&piece);
    onThreads(quoted.size(), coreCount(), [&](size_t k) { unescapeQuoted(base, *quoted[k], dialect.quote, stops); });

    // Rows a piece did not fill (blank lines, quoted line breaks) close up.
    CsvData data;
    data.columns.resize(width);
    for (size_t c = 0; c < width; ++c) {
        if (!keeps(c)) continue;
        size_t end = 0;
        for (size_t k = 0; k < pieces.size(); ++k) {
            const Piece& piece = pieces[k];
            if (piece.slot != rowBase[k] && piece.rows)
                std::memmove(directData[c] + rowBase[k], directData[c] + piece.slot, piece.rows * sizeof(FieldRef));
            if (piece.lastRow[c]) end = rowBase[k] + piece.lastRow[c];
        }
        // Short rows at the end hold nothing, as one reader leaves them.
        direct[c].resize(end);
        direct[c].shrinkTo(end);
        data.columns[c].cells = std::move(direct[c]);
    }
    data.text = std::move(utf8);
    data.header = std::move(head.header);
    data.rows = rows;
    data.kept = std::move(kept);
    joinColumns(data, pieces, rowBase, width);
    return data;
}

size_t recordsEnd(std::string_view bytes, const CsvDialect& dialect, bool cp932, bool first) {
    const char* const b = bytes.data();
    const size_t n = bytes.size();
    // Without a quote every line break ends a record (no CP932 trail byte is
    // one): the last, found from the end.
    if (!first && (!dialect.quote || !std::memchr(b, dialect.quote, n))) {
        for (size_t i = n; i-- > 0;) {
            if (b[i] == '\n') return i + 1;
            if (b[i] == '\r' && i + 1 < n) return i + 1;  // a lone CR (a CR LF ends at its LF, met first)
        }
        return 0;
    }
    size_t ended = 0, i = 0;
    bool fieldStart = true;
    while (i < n) {
        const char c = b[i];
        if (fieldStart && dialect.quote && c == dialect.quote) {
            // To the closing quote: one not doubled.
            for (++i;;) {
                const void* close = std::memchr(b + i, dialect.quote, n - i);
                if (!close) return ended;
                i = size_t(static_cast<const char*>(close) - b) + 1;
                if (i < n && b[i] == dialect.quote) {
                    ++i;
                    continue;
                }
                if (i == n) return ended;  // a doubled quote may follow beyond
                break;
            }
            fieldStart = false;
            continue;
        }
        if (c == dialect.delimiter) {
            fieldStart = true;
            ++i;
        } else if (c == '\n') {
            ended = ++i;
            fieldStart = true;
            if (first) return ended;
        } else if (c == '\r') {
            if (i + 1 == n) return ended;  // a line feed may follow beyond
            i += b[i + 1] == '\n' ? 2 : 1;
            ended = i;
            fieldStart = true;
            if (first) return ended;
        } else {
            // As the decoder reads it: a lead byte takes the next only where the two make a character.
            const int lead = cp932 ? cp932::leadIndex(static_cast<unsigned char>(c)) : -1;
            const int trail = lead >= 0 && i + 1 < n ? cp932::trailIndex(static_cast<unsigned char>(b[i + 1])) : -1;
            i += trail >= 0 && cp932::kPairs[lead][trail] != 0 ? 2 : 1;
            fieldStart = false;
        }
    }
    return std::min(ended, n);
}

}  // namespace tarlo
