#include "csv/pieced_file.h"

#include "csv/declared_value.h"

#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/memory.h"
#include "platform/parallel.h"
#include "platform/utf8.h"
#include "values/column_types.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <string>

namespace tarlo {

namespace {

// How many bytes of s are c: eight at a time, each byte equal to c made
// zero and the zero bytes counted.
qint64 countOf(std::string_view s, char c) {
    constexpr uint64_t ones = 0x0101010101010101u, lows = 0x7F7F7F7F7F7F7F7Fu;
    const uint64_t pattern = ones * static_cast<unsigned char>(c);
    qint64 n = 0;
    size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, s.data() + i, 8);
        word ^= pattern;
        // 0x80 in each byte that was zero; summed by a multiply, which needs no popcount instruction.
        const uint64_t zeros = ~(((word & lows) + lows) | word | lows) >> 7;
        n += qint64((zeros * ones) >> 56);
    }
    for (; i < s.size(); ++i) n += s[i] == c;
    return n;
}

qint64 lineBreaksIn(std::string_view s) {
    // Every LF, and each CR not before one.
    qint64 n = countOf(s, '\n');
    for (size_t i = s.find('\r'); i != std::string_view::npos; i = s.find('\r', i + 1)) n += i + 1 == s.size() || s[i + 1] != '\n';
    return n;
}

// Where the header ends: after the first record that is no blank line,
// as the parser skips those; 0 when none ends within bytes.
size_t headerEndIn(std::string_view bytes, const CsvDialect& dialect, bool cp932) {
    for (size_t at = 0; at < bytes.size();) {
        const size_t end = recordsEnd(bytes.substr(at), dialect, cp932, true);
        if (end == 0) return 0;
        if (bytes.substr(at, end).find_first_not_of("\r\n") != std::string_view::npos) return at + end;
        at += end;
    }
    return 0;
}

[[noreturn]] void unreadable(const QString& path, const FileError& e) {
    throw Error(ErrorFacts{.file = path}, u"テーブルのファイル \"%1\" を読めません: %2", path, e.reason());
}

[[noreturn]] void changedWhileRead(const QString& path) {
    throw Error(ErrorFacts{.file = path}, u"テーブルのファイル \"%1\" が読み込み中に書き換えられています。", path);
}

bool hasUtf8Mark(std::string_view bytes) {
    return bytes.substr(0, 3) == "\xEF\xBB\xBF";
}

bool stopped(const std::atomic<bool>* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

// Values a column has just been typed from. A value typed again changes
// nothing (typing only ever clears what a column may still be, or marks
// what it has held, by the value alone), so it is passed over: a column of
// a few hundred dates reads each date once, not once a row.
class RecentValues {
public:
    // Whether value was among the recent ones; it is from now on.
    bool seen(std::string_view value) {
        std::string& slot = slots_[std::hash<std::string_view>()(value) % slots_.size()];
        if (slot == value) return true;
        slot.assign(value);
        return false;
    }

private:
    std::array<std::string, 1024> slots_;
};

// Each column's type, read from every value in order as a whole load reads them.
struct Typing {
    std::vector<TypeInference> inferred;
    std::vector<bool> withTime;  // a declared date column's value with a time
    std::vector<std::unique_ptr<RecentValues>> recent;

    void read(const CsvData& data, const TableFormat& format) {
        if (inferred.size() < data.columns.size()) {
            inferred.resize(data.columns.size());
            withTime.resize(data.columns.size());
            while (recent.size() < data.columns.size()) recent.push_back(std::make_unique<RecentValues>());
        }
        for (size_t c = 0; c < data.columns.size(); ++c) {
            const bool declared = c < format.columns.size() && format.columns[c].type != DeclaredType::None;
            if (declared && format.columns[c].type != DeclaredType::DateTime) continue;
            if (c < data.kept.size() && !data.kept[c]) continue;  // a text already: not read
            // Numbers are looked at quickly; a column past them parses every value as a date.
            const ColumnType sofar = inferred[c].type();
            const bool moments = sofar == ColumnType::Date || sofar == ColumnType::DateTime || sofar == ColumnType::Time;
            for (size_t r = 0; r < data.rows && !inferred[c].decided() && !withTime[c]; ++r) {
                if (!data.present(c, r)) {
                    if (!declared) inferred[c].note({});
                    continue;
                }
                const std::string_view v = data.field(c, r);
                if (!declared) {
                    if (!moments || !recent[c]->seen(v)) inferred[c].note(v);
                } else if (!v.empty()) {
                    const auto value = readDeclared(DeclaredType::DateTime, v, format);
                    withTime[c] = value && value->hasTime;
                }
            }
        }
    }

    // The columns a later piece is read for: those still to be typed, and
    // the declared ones, whose values are checked; nothing: every column.
    ColumnChoice stillTyped(const TableFormat& format) const {
        std::vector<bool> kept(inferred.size());
        for (size_t c = 0; c < kept.size(); ++c)
            kept[c] = !inferred[c].decided() || withTime[c] || (c < format.columns.size() && format.columns[c].type != DeclaredType::None);
        if (std::all_of(kept.begin(), kept.end(), [](bool k) { return k; })) return {};
        return [kept](const std::vector<std::string_view>& header) {
            std::vector<bool> out = kept;
            out.resize(header.size(), true);
            return out;
        };
    }

    std::vector<ColumnType> types(size_t width, const TableFormat& format) const {
        std::vector<ColumnType> out(width, ColumnType::Text);
        for (size_t c = 0; c < width; ++c) {
            const bool declared = c < format.columns.size() && format.columns[c].type != DeclaredType::None;
            if (declared) out[c] = withTime.size() > c && withTime[c] ? ColumnType::DateTime : storageOf(format.columns[c].type);
            else if (c < inferred.size()) out[c] = inferred[c].type();
        }
        return out;
    }
};

}  // namespace

std::shared_ptr<const CsvTable> PiecedFile::open(const QString& path, const ParseProgress& progress,
                                                 const TableFormat& format, size_t pieceBytes) {
    auto file = std::shared_ptr<PiecedFile>(new PiecedFile);
    file->path_ = path;
    file->format_ = format;
    file->identity_ = fileIdentity(path);
    const qint64 size = file->identity_.size;
    file->size_ = size;
    QByteArray start;
    try {
        start = readFilePrefix(path, 4);
    } catch (const FileError& e) {
        unreadable(path, e);
    }
    // UTF-16 is read whole: its line breaks are two bytes, which pieces would cut.
    const bool utf16 = start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF");
    if (format.charset == Charset::Utf16 || (format.charset == Charset::Detect && utf16)) {
        checkRoomToLoad(path, size, tableMemoryBound(), format);
        throw Error(ErrorFacts{.file = path}, u"テーブルのファイル \"%1\" は UTF-16 なので、分割しては読めません。", path);
    }
    file->charset_ = format.charset == Charset::Cp932 ? Charset::Cp932 : Charset::Utf8;
    const bool detect = format.charset == Charset::Detect;
    const CsvDialect dialect = dialectOf(format);
    const bool declares = std::any_of(format.columns.begin(), format.columns.end(),
                                      [](const DeclaredColumn& c) { return c.type != DeclaredType::None; });

    // Read again from the start as CP932 when a piece turns out not to be UTF-8.
    for (bool again = true; again;) {
        again = false;
        file->pieces_.clear();
        file->header_.clear();
        file->rows_ = 0;
        Typing typing;
        size_t width = format.columns.size();
        qint64 offset = 0, line = 1;
        std::atomic<bool> cancelled{false};
        const ParseProgress listen = [&cancelled](double) { return !cancelled.load(std::memory_order_relaxed); };
        struct Parsed {
            CsvData data;
            bool notUtf8 = false;  // the file is then read again, as CP932
        };
        std::deque<std::future<Parsed>> parsing;  // of the pieces from typed on
        size_t typed = 0;
        const size_t depth = std::max<size_t>(coreCount(), 1);
        struct Settle {  // a piece still parsing when this pass stops is stopped, and waited for
            std::atomic<bool>& cancelled;
            std::deque<std::future<Parsed>>& parsing;
            ~Settle() {
                cancelled = true;
                parsing.clear();
            }
        } settle{cancelled, parsing};
        const auto typeNext = [&] {
            Parsed parsed = parsing.front().get();
            parsing.pop_front();
            if (parsed.notUtf8) {
                file->charset_ = Charset::Cp932;
                again = true;
                return;
            }
            CsvData& data = parsed.data;
            Piece& piece = file->pieces_[typed++];
            piece.firstRow = file->rows_;
            typing.read(data, format);
            width = std::max({width, data.columns.size(), data.header.size()});
            file->rows_ += data.rows;
            if (declares) {
                // A value that does not fit its declared type stops the read here, before any row is answered.
                CsvTable check;
                check.path_ = path;
                check.lineOffset_ = file->lineOffsetOf(piece);
                check.build(std::move(data), format);
            }
        };
        FileReader reader = [&] {
            try {
                return FileReader(path);
            } catch (const FileError& e) {
                unreadable(path, e);
            }
        }();
        while (offset < size && !again) {
            // A later piece is read after the header's bytes, so it parses to the same columns.
            TextBuffer text;
            const size_t prefix = offset > 0 ? size_t(file->header_.size()) : 0;
            text.append(file->header_.data(), prefix);
            size_t cut = 0, headerEnd = 0;
            const bool cp932 = file->charset_ == Charset::Cp932;
            for (size_t want = pieceBytes;; want *= 2) {
                const auto bytes = size_t(std::min<qint64>(qint64(want), size - offset));
                text.resize(prefix + bytes);
                size_t got = 0;
                try {
                    got = reader.readAt(offset, text.data() + prefix, bytes);
                } catch (const FileError& e) {
                    unreadable(path, e);
                }
                if (got < bytes) changedWhileRead(path);
                const std::string_view view(text.data() + prefix, bytes);
                const bool last = offset + qint64(bytes) >= size;
                cut = last ? view.size() : recordsEnd(view, dialect, cp932);
                if (offset == 0 && format.header) {
                    headerEnd = headerEndIn(view, dialect, cp932);
                    if (headerEnd == 0 && !last) continue;  // a header longer than the piece
                    if (headerEnd == 0) headerEnd = view.size();
                    cut = std::max(cut, headerEnd);
                }
                if (cut > 0) break;
            }
            text.resize(prefix + cut);
            if (offset == 0 && format.header) {
                // Later pieces follow the header without a UTF-8 byte-order mark, which is then the first piece's alone.
                const size_t bom = file->charset_ == Charset::Utf8 && hasUtf8Mark({text.data(), headerEnd}) ? 3 : 0;
                file->header_ = QByteArray(text.data() + bom, qsizetype(headerEnd - bom));
                // A header ended by a lone CR would take a later piece's first LF for its own.
                if (file->header_.endsWith('\r')) file->header_ += '\n';
            }
            // Pieces are checked and parsed on every core; their values are typed here, in the file's order.
            Piece piece{.offset = offset, .bytes = cut, .firstRow = 0, .firstLine = line};
            file->pieces_.push_back(piece);
            line += lineBreaksIn({text.data() + prefix, cut});
            const bool checkUtf8 = detect && file->charset_ == Charset::Utf8;
            // Typed as text by the pieces before (as far as they are typed): not read again.
            const ColumnChoice choose = typing.stillTyped(format);
            parsing.push_back(std::async(std::launch::async, [&, piece, prefix, checkUtf8, choose, text = std::move(text)]() mutable {
                Parsed out;
                if (!checkUtf8) {
                    out.data = file->parse(piece, file->decoded(std::move(text), &cancelled), listen, choose);
                } else if (!isValidUtf8(QByteArrayView(text.data() + prefix, qsizetype(text.size() - prefix)))) {
                    out.notUtf8 = true;
                } else {
                    // Checked: UTF-8 as it is, but for the mark.
                    if (hasUtf8Mark({text.data(), text.size()})) {
                        std::memmove(text.data(), text.data() + 3, text.size() - 3);
                        text.resize(text.size() - 3);
                    }
                    out.data = file->parse(piece, std::move(text), listen, choose);
                }
                return out;
            }));
            offset += qint64(cut);
            if (progress && !progress(double(offset) / double(size))) {
                cancelled = true;
                throw Cancelled{};
            }
            while (!again && (parsing.size() > depth || (offset >= size && !parsing.empty()))) typeNext();
        }
        if (!again) file->types_ = typing.types(std::max<size_t>(width, 1), format);
    }
    if (fileIdentity(path) != file->identity_) changedWhileRead(path);

    // The schema: the header alone, typed as the file.
    auto schema = std::shared_ptr<CsvTable>(new CsvTable);
    schema->path_ = path;
    schema->format_ = format;
    const Piece header{.offset = 0, .bytes = size_t(file->header_.size()), .firstRow = 0, .firstLine = 1};
    schema->build(file->parse(header, file->decoded(textBufferOf(std::string_view(file->header_.data(), size_t(file->header_.size()))), nullptr)), format, {}, &file->types_);
    schema->rows_ = 0;
    schema->pieces_ = std::move(file);
    return schema;
}

TextBuffer PiecedFile::decoded(TextBuffer bytes, const std::atomic<bool>* stop) const {
    const ParseProgress listen = [stop](double) { return !stopped(stop); };
    return decodeToUtf8(std::move(bytes), stop ? listen : ParseProgress(), charset_, path_);
}

CsvData PiecedFile::parse(const Piece& piece, TextBuffer utf8, const ParseProgress& progress, const ColumnChoice& choose) const {
    CsvDialect dialect = dialectOf(format_);
    dialect.lineOffset = lineOffsetOf(piece);
    return parseCsv(std::move(utf8), path_, progress, dialect, choose);
}

// A later piece's text starts with the header's lines, then the piece's first.
qint64 PiecedFile::lineOffsetOf(const Piece& piece) const {
    return piece.offset > 0 ? piece.firstLine - 1 - lineBreaksIn({header_.data(), size_t(header_.size())}) : 0;
}

TextBuffer PiecedFile::textOf(const Piece& piece, const std::atomic<bool>* stop) const {
    if (fileIdentity(path_) != identity_) changedWhileRead(path_);
    // A later piece is read after the header's bytes, so it parses to the same columns.
    const size_t prefix = piece.offset > 0 ? size_t(header_.size()) : 0;
    TextBuffer text;
    text.resize(prefix + piece.bytes);
    std::memcpy(text.data(), header_.data(), prefix);
    try {
        FileReader reader(path_);
        if (reader.readAt(piece.offset, text.data() + prefix, piece.bytes) != piece.bytes) changedWhileRead(path_);
    } catch (const FileError& e) {
        unreadable(path_, e);
    }
    return decoded(std::move(text), stop);
}

std::shared_ptr<const CsvTable> PiecedFile::piece(size_t k, const std::atomic<bool>* stop, const ColumnWish& wish) const {
    if (stopped(stop)) throw Cancelled{};
    const Piece& piece = pieces_[k];
    auto table = std::shared_ptr<CsvTable>(new CsvTable);
    table->path_ = path_;
    table->format_ = format_;
    table->lineOffset_ = lineOffsetOf(piece);
    const ParseProgress listen = [stop](double) { return !stopped(stop); };
    const ParseProgress heard = stop ? listen : ParseProgress();
    table->build(parse(piece, textOf(piece, stop), heard, choiceOf(wish, format_)), format_, heard, &types_);
    return table;
}

qint64 PiecedFile::lineOfValue(size_t column, std::string_view value) const {
    try {
        for (size_t k = 0; k < pieces_.size(); ++k) {
            const std::shared_ptr<const CsvTable> table = piece(k);
            const size_t row = table->firstRowHolding(column, value);
            if (row == table->rowCount()) continue;
            const CsvData data = parse(pieces_[k], textOf(pieces_[k], nullptr));
            const qint64 line = lineOfField(data, column, row);
            return line > 0 ? line + table->lineOffset_ : 0;
        }
    } catch (...) {
        // The file changed or went away: the message goes without its line.
    }
    return 0;
}

}  // namespace tarlo
