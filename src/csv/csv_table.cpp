#include "csv/csv_table.h"

#include "csv/pieced_file.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/memory.h"
#include "platform/parallel.h"
#include "values/case_folding.h"
#include "values/dates.h"
#include "csv/column_names.h"
#include "csv/declared_value.h"
#include "platform/text_lines.h"


#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <climits>
#include <functional>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <thread>

namespace tarlo {

namespace {

// A large file in pieces on every core: each page the text takes costs a
// fault as it is first written, and the faults then share the cores. Reads
// only the length the file had; a change is the caller's to notice.
TextBuffer readLargeFile(FileReader& reader, size_t size, const ParseProgress& progress) {
    constexpr size_t kPiece = size_t(4) << 20;
    TextBuffer bytes;
    bytes.resize(size);
    std::atomic<bool> stop = false;
    std::atomic<size_t> shortAt = size;
    onThreadsWatched(
        (size + kPiece - 1) / kPiece, coreCount(),
        [&](size_t k) {
            if (stop.load(std::memory_order_relaxed)) return;
            const size_t at = k * kPiece, want = std::min(kPiece, size - at);
            const size_t got = reader.readAt(qint64(at), bytes.data() + at, want);
            if (got < want) {
                size_t seen = shortAt.load();
                while (at + got < seen && !shortAt.compare_exchange_weak(seen, at + got)) {}
            }
        },
        [&] {
            if (progress && !progress(0)) stop = true;
            return !stop.load();
        });
    if (stop) throw Cancelled{};
    bytes.resize(shortAt.load());  // the file shrank while it was read
    return bytes;
}

TextBuffer readFileOnce(const QString& path, const ParseProgress& progress) {
    FileReader reader(path);
    const qint64 size = reader.size();
    if (size >= qint64(4) << 20) return readLargeFile(reader, size_t(size), progress);
    TextBuffer bytes;
    bytes.reserve(size > 0 ? size_t(size) + 1 : 65536);
    for (;;) {
        if (bytes.size() == bytes.capacity()) bytes.reserve(bytes.capacity() * 2);
        // In pieces, so a cancel is heard while a large file is read.
        const size_t want = std::min<size_t>(bytes.capacity() - bytes.size(), size_t(16) << 20);
        const size_t got = reader.readInto(bytes.data() + bytes.size(), want);
        if (got == 0) break;
        bytes.resize(bytes.size() + got);
        if (progress && !progress(0)) throw Cancelled{};
    }
    return bytes;
}

// How long after its last change a file may still be met by a write its
// times do not show: the times move in ticks of the system's clock, so a
// write within the tick of the one before leaves them as they were, and a
// write stamps the file before its bytes are in. Times in whole seconds
// are a file system that keeps no finer ones (two seconds on FAT). A file
// emptied moments ago is most likely a save that has yet to write.
qint64 settleTimeNs(const FileIdentity& file) {
    constexpr qint64 kSecond = 1000000000;
    if (file.size == 0) return 2 * kSecond;
    const bool fine = file.modifiedNs % kSecond != 0 || file.changedNs % kSecond != 0;
    return fine ? kSecond / 32 : 2 * kSecond;
}

// Waits until the clock reaches clockNs or the file changes again, which
// ends an emptied file's wait as soon as its new text is in.
void waitUntilSettled(const QString& path, const FileIdentity& file, qint64 clockNs, const ParseProgress& progress) {
    for (qint64 now = fileClockNs(); now < clockNs && fileIdentity(path) == file; now = fileClockNs()) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::min<qint64>(clockNs - now, 20000000)));
        if (progress && !progress(0)) throw Cancelled{};
    }
}

TextBuffer readWholeFile(const QString& path, const ParseProgress& progress, const TableFormat& format) {
    // A file that changes while it is read is read again, so no run sees a
    // mixture of two versions.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const qint64 start = fileClockNs();
        const FileIdentity before = fileIdentity(path);
        checkRoomToLoad(path, before.size, tableMemoryBound(), format);
        TextBuffer bytes;
        try {
            bytes = readFileOnce(path, progress);
        } catch (const FileError& e) {
            throw Error(ErrorFacts{.file = path}, u"テーブルのファイル \"%1\" を読めません: %2", path, e.reason());
        }
        const FileIdentity after = fileIdentity(path);
        if (before != after || after.size != qint64(bytes.size())) continue;
        // Unchanged for a while before the read began, any write during it
        // would have moved the times; so would one now to a file stamped
        // ahead of the clock. Otherwise the read may hold a write's first
        // part: read again once a further write would show.
        const qint64 changed = std::max(after.modifiedNs, after.changedNs);
        const qint64 settle = settleTimeNs(after);
        if (changed < start - settle || changed > fileClockNs() + settle) return bytes;
        waitUntilSettled(path, after, changed + settle, progress);
    }
    throw Error(ErrorFacts{.file = path}, u"テーブルのファイル \"%1\" が読み込み中に書き換えられています。", path);
}

}  // namespace

namespace {

// What the first megabyte of a table file says about its load: cells (a
// row's fields, and the gaps its short rows leave in columns that go on)
// and UTF-8 bytes, each per byte of the file.
struct FileShape {
    double cellsPerByte = 0;
    double utf8PerByte = 1;
    bool decoded = false;  // read into a second buffer as UTF-8
};

// UTF-8 as far as the sample goes (its last character may be cut).
bool looksLikeUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = s[i];
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0) return false;
        for (size_t k = 1; k < n && i + k < s.size(); ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

FileShape shapeOf(std::string_view sample, const TableFormat& format) {
    FileShape shape;
    if (sample.empty()) return shape;
    const bool wide = sample.starts_with("\xFF\xFE") || sample.starts_with("\xFE\xFF");
    const bool bigEndian = sample.starts_with("\xFE\xFF");
    const size_t step = wide ? 2 : 1;
    // The parser's cells: a column holds one from its first field's row to its last's.
    std::vector<qint64> first, last;
    qint64 row = format.header ? -1 : 0;
    size_t column = 0;
    bool quoted = false;
    double utf8 = 0;
    auto field = [&] {
        if (row >= 0 && column < kMaxColumns) {
            if (column == first.size()) first.push_back(row);
            last.resize(first.size());
            last[column] = row;
        }
        ++column;
    };
    for (size_t i = wide ? 2 : 0; i + step <= sample.size(); i += step) {
        const unsigned char b0 = sample[i], b1 = wide ? sample[i + 1] : 0;
        const unsigned unit = wide ? (bigEndian ? b0 << 8 | b1 : b1 << 8 | b0) : b0;
        if (wide) utf8 += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        if (format.quote && unit == static_cast<unsigned char>(format.quote)) quoted = !quoted;
        else if (quoted) continue;
        else if (unit == static_cast<unsigned char>(format.delimiter)) field();
        else if (unit == '\n') {
            field();
            ++row;
            column = 0;
        }
    }
    size_t cells = 0;
    for (size_t c = 0; c < first.size(); ++c) cells += size_t(last[c] - first[c] + 1);
    shape.cellsPerByte = double(cells) / double(sample.size());
    if (wide) {
        shape.utf8PerByte = utf8 / double(sample.size());
        shape.decoded = true;
    } else if (format.charset != Charset::Detect || !looksLikeUtf8(sample)) {
        // CP932: a half-width kana's byte takes three in UTF-8, a pair two or three.
        for (const char c : sample) {
            const unsigned char b = c;
            utf8 += b < 0x80 ? 1 : (b >= 0xA1 && b <= 0xDF) ? 3 : 1.5;
        }
        shape.utf8PerByte = utf8 / double(sample.size());
        shape.decoded = true;
    }
    return shape;
}

}  // namespace

// Measured on 100 MB files: a load peaks at about 1.1 times its UTF-8 text
// and 8 bytes a cell (twenty 1-character columns 5.1 times the file, rows
// of "x," 6.4, five mixed columns 2.1, two long texts 1.2), and a file not
// in UTF-8 first holds its bytes beside their UTF-8 (CP932 Japanese 2.5).
// The factors below keep a margin over each.
qint64 tableMemoryBound() {
    const qint64 available = availableMemory();
    bool ok = false;
    const qint64 bound = qEnvironmentVariable("TARLO_MEMORY_BOUND").toLongLong(&ok);
    return ok && bound > 0 ? std::min(bound, available) : available;
}

qint64 memoryToLoad(const QString& path, qint64 fileSize, const TableFormat& format) {
    constexpr qint64 kSample = qint64(1) << 20;
    FileShape shape{.cellsPerByte = 1.25 / 9};  // unseen: the flat 2.5 times the file of old
    try {
        shape = shapeOf(std::string_view(readFilePrefix(path, kSample)), format);
    } catch (const FileError&) {
        // The read that follows says why the file cannot be read.
    }
    const double size = double(fileSize), utf8 = size * shape.utf8PerByte;
    const double parsed = 1.25 * utf8 + 9 * shape.cellsPerByte * size;
    return qint64(std::max(shape.decoded ? size + 1.2 * utf8 : size, parsed));
}

void checkRoomToLoad(const QString& path, qint64 fileSize, qint64 available, const TableFormat& format) {
    const qint64 needed = memoryToLoad(path, fileSize, format);
    if (needed <= available) return;
    throw Error(ErrorFacts{.file = path},
                u"テーブルのファイル \"%1\" (%2) は大きすぎて読めません: 読むには %3 ほどのメモリーが要りますが、"
                u"いま使えるのは %4 です。",
                path, sizeText(fileSize), sizeText(needed), sizeText(available));
}

CsvDialect dialectOf(const TableFormat& format) {
    return {format.delimiter, format.quote, format.header, 0};
}

// The names columns are given before they are made unique: schema.ini's,
// F1, F2, ... without a header, else the header's (blank for NoName).
static std::vector<std::string> writtenNames(const std::vector<std::string_view>& header, size_t width,
                                             const TableFormat& format) {
    std::vector<std::string> written(width);
    for (size_t c = 0; c < width; ++c) {
        if (c < format.columns.size() && !format.columns[c].name.isEmpty()) {
            written[c] = format.columns[c].name.toStdString();
        } else if (!format.header) {
            written[c] = 'F' + std::to_string(c + 1);
        } else if (c < header.size()) {
            written[c] = trimControl(QString::fromUtf8(header[c].data(), qsizetype(header[c].size()))).toStdString();
        }
    }
    return written;
}

static bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

static bool wished(const ColumnWish& wish, std::string_view name) {
    return wish.all || std::any_of(wish.names.begin(), wish.names.end(), [&](const std::string& n) { return sameName(n, name); });
}

std::shared_ptr<const CsvTable> CsvTable::load(const QString& path, const ParseProgress& progress,
                                               const TableFormat& format, const ColumnWish& wish) {
    auto table = std::shared_ptr<CsvTable>(new CsvTable);
    table->path_ = path;
    table->format_ = format;
    table->fromFile_ = true;
    TextBuffer utf8 = decodeToUtf8(readWholeFile(path, progress, format), progress, format.charset, path);
    table->build(parseCsv(std::move(utf8), path, progress, dialectOf(format), choiceOf(wish, format)), format, progress);
    return table;
}

ColumnChoice choiceOf(const ColumnWish& wish, const TableFormat& format) {
    if (wish.all) return {};
    return [wish, format](const std::vector<std::string_view>& header) {
        const std::vector<std::string> names = uniqueColumnNames(writtenNames(header, header.size(), format));
        std::vector<bool> kept(names.size());
        for (size_t c = 0; c < names.size(); ++c) kept[c] = wished(wish, names[c]);
        return kept;
    };
}

bool CsvTable::hasLoaded(const ColumnWish& wish) const {
    if (loaded_.empty()) return true;
    if (wish.all) return false;
    for (size_t c = 0; c < names_.size(); ++c)
        if (!loaded_[c] && wished(wish, names_[c])) return false;
    return true;
}

ColumnWish CsvTable::loadedColumns() const {
    ColumnWish out;
    if (loaded_.empty()) return out;
    out.all = false;
    for (size_t c = 0; c < names_.size(); ++c)
        if (loaded_[c]) out.names.push_back(names_[c]);
    return out;
}

std::shared_ptr<const CsvTable> CsvTable::fromUtf8(std::string_view utf8, const QString& path, const TableFormat& format) {
    auto table = std::shared_ptr<CsvTable>(new CsvTable);
    table->path_ = path;
    table->build(parseCsv(textBufferOf(utf8), path, {}, dialectOf(format)), format);
    return table;
}

Cell CsvTable::nullCell(ColumnType type) {
    Cell c;
    switch (type) {
    case ColumnType::Text: c.text = FieldRef(0, kMissing); break;
    case ColumnType::Real: c.real = std::numeric_limits<double>::quiet_NaN(); break;
    default: c.integer = kNullInteger; break;
    }
    return c;
}

size_t CsvTable::memoryBytes() const {
    size_t bytes = text_.capacity();
    for (const Column& c : columns_) bytes += c.cells.capacity() * sizeof(Cell);
    return bytes;
}

void CsvTable::build(CsvData data, const TableFormat& format, const ParseProgress& progress,
                     const std::vector<ColumnType>* types) {
    progress_ = progress;
    rows_ = data.rows;
    const size_t width = std::max<size_t>({data.header.size(), data.columns.size(), format.columns.size(), 1,
                                           types ? types->size() : 0});
    data.columns.resize(width);

    // Blank names, and the columns of rows longer than the header, are
    // NoName, NoName1, ...; a repeated name gets the first free number.
    std::vector<std::string_view> header;
    for (size_t c = 0; c < data.header.size(); ++c) header.push_back(data.headerField(c));
    names_ = uniqueColumnNames(writtenNames(header, width, format));
    // Columns the read skipped hold nothing; they are never typed.
    if (!data.kept.empty()) {
        loaded_ = data.kept;
        loaded_.resize(width, true);
    }

    text_ = std::move(data.text);
    spellings_.resize(width);
    columns_.resize(width);
    types_.resize(width);
    nullIntegers_.assign(width, kNullInteger);
    for (size_t c = 0; c < width; ++c) {
        columns_[c].firstRow = data.columns[c].firstRow;
        columns_[c].cells = std::move(data.columns[c].cells).reinterpretAs<Cell>();
    }
    // Columns are typed on every core: each reads only its own cells and
    // the shared text. A failure is the first column's, as one thread's would be.
    onColumnsInParallel(width, [&](size_t c) {
        if (!loaded_.empty() && !loaded_[c]) {
            types_[c] = ColumnType::Text;  // empty: every value null
            return;
        }
        const bool declared = c < format.columns.size() && format.columns[c].type != DeclaredType::None;
        if (declared) {
            types_[c] = readDeclaredColumn(columns_[c].cells, c, format.columns[c], format);
            if (types && types_[c] == ColumnType::Date) types_[c] = (*types)[c];  // the file's times are the piece's
        } else {
            types_[c] = types ? readColumnAs(columns_[c].cells, c, (*types)[c], std::nullopt) : readUntypedColumn(columns_[c].cells, c);
        }
    });
    compactText();
    indexes_.resize(width);
    spreads_.resize(width);
    orders_.resize(width);
    codes_.resize(width);
    bitRanges_.resize(width);
    hasNulls_.resize(width);
    fewIntegers_.resize(width);
    progress_ = nullptr;
}

// Two passes, so no second array of the column's size is ever held: the
// first only decides the type (a text column usually in its first rows),
// the second reads the values again into the cells, over their slices.
ColumnType CsvTable::readUntypedColumn(LargeArray<Cell>& cells, size_t column) {
    const auto valueAt = [&](size_t i) {
        const FieldRef f = cells[i].text;
        return f.length() == kMissing ? std::string_view() : std::string_view(text_.data() + f.offset(), f.length());
    };
    TypeInference inference;
    for (size_t i = 0; i < cells.size() && !inference.decided(); ++i) {
        listen(i);
        inference.note(valueAt(i));
    }
    return readColumnAs(cells, column, inference.type(), inference.holdsLowest());
}

// The column's values in the form of type (an integer among reals a real),
// each read alone as typing reads it. lowest: whether an integer column
// holds the smallest 64-bit value, when known.
ColumnType CsvTable::readColumnAs(LargeArray<Cell>& cells, size_t column, ColumnType type, std::optional<bool> lowest) {
    if (type == ColumnType::Text) return type;
    const auto valueAt = [&](size_t i) {
        const FieldRef f = cells[i].text;
        return f.length() == kMissing ? std::string_view() : std::string_view(text_.data() + f.offset(), f.length());
    };
    const bool reals = type == ColumnType::Real;
    for (size_t i = 0; i < cells.size() && type == ColumnType::Integer && !lowest.value_or(false); ++i) {
        const std::string_view v = valueAt(i);
        if (v.size() >= 20 && TypeInference().add(v).integer == std::numeric_limits<int64_t>::min()) lowest = true;
    }
    if (type == ColumnType::Integer && lowest.value_or(false)) nullIntegers_[column] = unheldLowValue(cells);
    const int64_t null = nullIntegers_[column];
    for (size_t i = 0; i < cells.size(); ++i) {
        listen(i);
        const std::string_view v = valueAt(i);
        const TypeInference::Reading r = TypeInference().add(v);
        switch (r.kind) {
        case TypeInference::Reading::Integer:
        case TypeInference::Reading::Date:
            if (!reals) {
                cells[i].integer = r.integer;
                break;
            }
            cells[i].real = double(r.integer);
            // A whole number of more digits than a real holds shows as the file wrote it.
            if (r.kind == TypeInference::Reading::Integer && r.significantDigits > 15)
                keepSpelling(column, cells[i].real, withoutBlanks(v));
            break;
        case TypeInference::Reading::Real:
            cells[i].real = r.real;
            // More digits than a real shows: the file's spelling is shown instead.
            if (r.significantDigits > 15) keepSpelling(column, r.real, withoutBlanks(v));
            break;
        case TypeInference::Reading::Null:
            if (reals) cells[i] = nullCell(type);
            else cells[i].integer = null;
            break;
        case TypeInference::Reading::Text:
            // Typed otherwise from the whole file (a piece of it): the file has changed since.
            throw Error(ErrorFacts{.file = path_}, u"テーブルのファイル \"%1\" が読み込み中に書き換えられています。", path_);
        }
    }
    return type;
}

// The least value above the smallest 64-bit one that cells do not hold:
// among the cells.size() + 1 values above it one is always free.
int64_t CsvTable::unheldLowValue(const LargeArray<Cell>& cells) const {
    constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
    std::vector<bool> held(cells.size() + 1);
    for (size_t i = 0; i < cells.size(); ++i) {
        listen(i);
        const FieldRef f = cells[i].text;
        if (f.length() == 0 || f.length() == kMissing) continue;
        const auto number = readNumberText({text_.data() + f.offset(), f.length()});
        if (!number || !number->integer) continue;
        const uint64_t above = uint64_t(number->whole) - uint64_t(lowest);  // 0 for the lowest itself
        if (above >= 1 && above - 1 < held.size()) held[size_t(above - 1)] = true;
    }
    return lowest + 1 + int64_t(std::find(held.begin(), held.end(), false) - held.begin());
}

// Checks every value against the declared type before any is replaced,
// so the message can still quote the value and count the lines before it.
ColumnType CsvTable::readDeclaredColumn(LargeArray<Cell>& cells, size_t column, const DeclaredColumn& declared,
                                        const TableFormat& format) const {
    ColumnType type = storageOf(declared.type);
    if (type == ColumnType::Text) return type;
    for (size_t i = 0; i < cells.size(); ++i) {
        listen(i);
        const FieldRef f = cells[i].text;
        if (f.length() == 0 || f.length() == kMissing) continue;
        const std::string_view v(text_.data() + f.offset(), f.length());
        const auto value = readDeclared(declared.type, v, format);
        if (!value) {
            const char* start = text_.data();
            size_t line = size_t(1 + lineOffset_);
            for (const char* p = start; p < start + f.offset(); ++p) line += *p == '\n' || (*p == '\r' && p[1] != '\n');
            const ErrorFacts facts{.file = path_, .line = qint64(line), .column = int(column + 1),
                                   .columnName = QString::fromStdString(names_[column]), .word = messageArgument(v)};
            throw Error(facts, u"ファイル \"%1\" の %2 行目、%3 列目 (%4): \"%5\" は schema.ini で %6 と宣言された列に入りません。",
                        facts.file, facts.line, facts.column, facts.columnName, facts.word, declared.typeName);
        }
        if (value->hasTime) type = ColumnType::DateTime;
    }
    for (size_t i = 0; i < cells.size(); ++i) {
        const FieldRef f = cells[i].text;
        if (f.length() == 0 || f.length() == kMissing) {
            cells[i] = nullCell(type);
            continue;
        }
        const auto value = readDeclared(declared.type, {text_.data() + f.offset(), f.length()}, format);
        if (type == ColumnType::Real) cells[i].real = value->real;
        else cells[i].integer = value->integer;
    }
    return type;
}

namespace {

// A hash of a short text, read eight bytes at a time.
uint64_t hashOfText(std::string_view s) {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ s.size();
    size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        h = (h ^ w) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
    }
    uint64_t w = 0;
    if (i < s.size()) std::memcpy(&w, s.data() + i, s.size() - i);  // an empty view may have no data
    h = (h ^ w) * 0x94D049BB133111EBull;
    return h ^ (h >> 32);
}

// Whether two texts of the same length are the same: short ones (most are)
// by two loads each, not a call.
bool sameBytes(const char* a, const char* b, size_t n) {
    const auto load = [](const char* p, auto word) {
        std::memcpy(&word, p, sizeof word);
        return word;
    };
    if (n >= 8 && n <= 16) return load(a, uint64_t()) == load(b, uint64_t()) && load(a + n - 8, uint64_t()) == load(b + n - 8, uint64_t());
    if (n >= 4 && n < 8) return load(a, uint32_t()) == load(b, uint32_t()) && load(a + n - 4, uint32_t()) == load(b + n - 4, uint32_t());
    if (n < 4) return n == 0 || (a[0] == b[0] && a[n / 2] == b[n / 2] && a[n - 1] == b[n - 1]);
    return std::memcmp(a, b, n) == 0;
}

// The spellings a text column has kept so far, each a slice of the text
// already compacted, found by their bytes. Holds up to a set number; past
// it, new spellings are still found if kept, but no more are kept.
class KeptSpellings {
public:
    KeptSpellings(const char* text, size_t most) : text_(text), most_(most) { slots_.resize(64); }
    // The slice kept with these bytes, or a slice of length 0 and the slot to keep them in.
    FieldRef find(std::string_view s, uint64_t hash, size_t& slot) const {
        const size_t mask = slots_.size() - 1;
        const auto tag = uint32_t(hash >> 32);
        for (slot = size_t(hash) & mask;; slot = (slot + 1) & mask) {
            const Slot& at = slots_[slot];
            if (at.text.length() == 0) return at.text;
            if (at.tag == tag && at.text.length() == s.size() && sameBytes(text_ + at.text.offset(), s.data(), s.size()))
                return at.text;
        }
    }
    // A slot read soon: its cache line asked for ahead of the probe.
    void prefetch(uint64_t hash) const { __builtin_prefetch(&slots_[size_t(hash) & (slots_.size() - 1)]); }
    void keep(size_t slot, FieldRef f, uint64_t hash) {
        if (count_ >= most_) return;
        slots_[slot] = {f, uint32_t(hash >> 32)};
        if (++count_ * 2 > slots_.size()) grow();
    }

private:
    struct Slot {
        FieldRef text;  // length 0: empty (fresh pages are)
        uint32_t tag;   // the hash's high half, to pass most others by
    };
    void grow() {
        LargeArray<Slot> old = std::move(slots_);
        slots_.resize(old.size() * 2);
        for (size_t i = 0; i < old.size(); ++i) {
            if (old[i].text.length() == 0) continue;
            const std::string_view s(text_ + old[i].text.offset(), old[i].text.length());
            size_t slot;
            find(s, hashOfText(s), slot);
            slots_[slot] = old[i];
        }
    }
    const char* text_;
    size_t most_, count_ = 0;
    LargeArray<Slot> slots_;
};

}  // namespace

// Once numbers and dates are parsed their text is dead: the text columns'
// slices move down over it, in file order, and the freed tail goes back.
// A spelling its column has had before is not moved again: the cell shares
// the earlier slice, so a column of few values keeps their text once and
// stays in the cache however its rows are visited. A column keeps up to a
// sixteenth of its rows' spellings (at least 4096) to share.
// Each core compacts a run of rows into the front of that run's own text;
// the runs' text is then joined, and their slices moved with it.
void CsvTable::compactText() {
    std::vector<size_t> textColumns;
    for (size_t c = 0; c < columns_.size(); ++c)
        if (types_[c] == ColumnType::Text) textColumns.push_back(c);
    if (textColumns.empty()) return text_.shrinkTo(0);
    const auto fieldOf = [&](size_t r, size_t c) -> FieldRef* {
        Column& column = columns_[c];
        if (r < column.firstRow || r - column.firstRow >= column.cells.size()) return nullptr;
        FieldRef& f = column.cells[r - column.firstRow].text;
        return f.length() == kMissing || f.length() == 0 ? nullptr : &f;
    };
    const size_t parts = rows_ * textColumns.size() > (size_t(1) << 18) ? coreCount() : 1;
    // A run's text begins at its first field: within a row, later fields
    // lie further on, and later rows further still.
    std::vector<size_t> from(parts, 0), to(parts, 0);
    for (size_t p = 1; p < parts; ++p) {
        from[p] = text_.size();
        for (size_t r = rows_ * p / parts; r < rows_ && from[p] == text_.size(); ++r)
            for (const size_t c : textColumns)
                if (const FieldRef* f = fieldOf(r, c)) {
                    from[p] = f->offset();
                    break;
                }
    }
    onThreads(parts, parts, [&](size_t p) {
        const size_t first = rows_ * p / parts, last = rows_ * (p + 1) / parts;
        std::vector<KeptSpellings> kept;
        for (size_t k = 0; k < textColumns.size(); ++k)
            kept.emplace_back(text_.data(), std::max<size_t>(4096, rows_ / 16));
        size_t write = from[p];
        // Rows 16 at a time: their fields hashed and their slots asked for
        // first, so the probes of a column of many spellings wait less.
        constexpr size_t kBatch = 16;
        std::vector<uint64_t> hashes(kBatch * textColumns.size());
        for (size_t r = first; r < last; ++r) {
            listen(r);
            if ((r - first) % kBatch == 0) {
                for (size_t b = r; b < std::min(last, r + kBatch); ++b)
                    for (size_t k = 0; k < textColumns.size(); ++k)
                        if (const FieldRef* f = fieldOf(b, textColumns[k])) {
                            const uint64_t h = hashOfText({text_.data() + f->offset(), f->length()});
                            hashes[(b - r) * textColumns.size() + k] = h;
                            kept[k].prefetch(h);
                        }
            }
            for (size_t k = 0; k < textColumns.size(); ++k) {
                FieldRef* f = fieldOf(r, textColumns[k]);
                if (!f) continue;
                // Slices kept lie below write, which never passes the slice read.
                const std::string_view s(text_.data() + f->offset(), f->length());
                const uint64_t hash = hashes[(r - first) % kBatch * textColumns.size() + k];
                size_t slot;
                if (const FieldRef same = kept[k].find(s, hash, slot); same.length()) {
                    *f = same;
                    continue;
                }
                std::memmove(text_.data() + write, s.data(), s.size());
                *f = FieldRef(write, s.size());
                write += s.size();
                kept[k].keep(slot, *f, hash);
            }
        }
        to[p] = write;
    });
    std::vector<size_t> shift(parts, 0);
    size_t joined = to[0];
    for (size_t p = 1; p < parts; ++p) {
        shift[p] = from[p] - joined;
        std::memmove(text_.data() + joined, text_.data() + from[p], to[p] - from[p]);
        joined += to[p] - from[p];
    }
    onThreads(parts, parts, [&](size_t p) {
        if (!shift[p]) return;
        for (size_t r = rows_ * p / parts, last = rows_ * (p + 1) / parts; r < last; ++r)
            for (const size_t c : textColumns)
                if (FieldRef* f = fieldOf(r, c)) *f = FieldRef(f->offset() - shift[p], f->length());
    });
    text_.shrinkTo(joined);
}

void CsvTable::onColumnsInParallel(size_t width, const std::function<void(size_t)>& work) const {
    const bool worthThreads = width > 1 && !columns_.empty() && columns_[0].cells.size() * width > (size_t(1) << 16);
    onThreads(width, worthThreads ? coreCount() : 1, work);
}

// A real with more digits than a real shows keeps how the file wrote it:
// writers such as Python's write the shortest spelling that reads back to
// the same value. Spellings are kept by value: where rows spell one value
// differently (9007199254740992 and 9007199254740993 are one double), no
// row is shown another's spelling, and each shows the value's shortest.
void CsvTable::keepSpelling(size_t column, double value, std::string_view spelled) {
    if (parseReal(formatReal(value)) == value) return;  // fifteen digits say it
    auto& kept = spellings_[column];
    if (!kept) kept = std::make_unique<Spellings>();
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (const auto at = kept->texts.find(bits); at != kept->texts.end()) {
        if (at->second != spelled) at->second.clear();  // spelled two ways: neither is every row's
        return;
    }
    if (kept->texts.size() < kMaxKeptSpellings) kept->texts.emplace(bits, spelled);
}

std::string CsvTable::shortestText(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general);
    return std::string(buffer, result.ptr);
}

std::optional<std::string> CsvTable::spellingOf(size_t column, double value) const {
    // A file read in pieces keeps no spellings past its pieces: the value's
    // own digits, exactly, a whole number's in full as a file writes them.
    if (pieces_ && types_[column] == ColumnType::Real && parseReal(formatReal(value)) != value) {
        if (value != std::trunc(value) || std::abs(value) >= 1e21) return shortestText(value);
        char buffer[32];
        return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed).ptr);
    }
    if (column >= spellings_.size() || !spellings_[column] || parseReal(formatReal(value)) == value) return std::nullopt;
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const auto& texts = spellings_[column]->texts;
    if (const auto found = texts.find(bits); found != texts.end() && !found->second.empty()) return found->second;
    return shortestText(value);
}

size_t CsvTable::longestShown(size_t column) const {
    size_t longest = 32;  // any number or date as shown
    if (column < spellings_.size() && spellings_[column])
        for (const auto& kept : spellings_[column]->texts) longest = std::max(longest, kept.second.size());
    if (types_[column] == ColumnType::Text) {
        const LargeArray<Cell>& cells = columns_[column].cells;
        for (size_t i = 0; i < cells.size(); ++i) {
            const uint32_t n = cells[i].text.length();
            if (n != kMissing) longest = std::max<size_t>(longest, n);
        }
    }
    return longest;
}

std::string CsvTable::displayText(size_t row, size_t column) const {
    const Cell c = cell(row, column);
    const ColumnType type = types_[column];
    if (isNull(column, c)) return {};
    switch (type) {
    case ColumnType::Integer: return std::to_string(c.integer);
    case ColumnType::Real: return spellingOf(column, c.real).value_or(formatReal(c.real));
    case ColumnType::Date:
    case ColumnType::DateTime:
    case ColumnType::Time: return momentText(type, c.integer);
    case ColumnType::Text: break;
    }
    return std::string(textOf(c));
}

size_t CsvTable::firstRowHolding(size_t column, std::string_view value) const {
    const ColumnType type = column < columns_.size() ? types_[column] : ColumnType::Text;
    const bool date = type == ColumnType::Date || type == ColumnType::DateTime || type == ColumnType::Time;
    if (column >= columns_.size() || (type != ColumnType::Text && !date)) return rows_;
    for (size_t r = 0; r < rows_; ++r) {
        const Cell c = cell(r, column);
        if (isNull(column, c)) continue;
        // A date is named as the tables show it.
        if (date ? momentText(type, c.integer) == value : textOf(c) == value) return r;
    }
    return rows_;
}

qint64 lineOfField(const CsvData& data, size_t column, size_t row) {
    if (column >= data.columns.size() || !data.present(column, row)) return 0;
    const FieldRef f = data.columns[column].at(row);
    qint64 line = 1;
    for (const char* p = data.text.data(); p < data.text.data() + f.offset(); ++p)
        line += *p == '\n' || (*p == '\r' && p[1] != '\n');
    return line;
}

qint64 CsvTable::lineOfValue(size_t column, std::string_view value) const {
    if (pieces_) return pieces_->lineOfValue(column, value);
    const size_t row = firstRowHolding(column, value);
    if (row == rows_ || !fromFile_) return 0;
    try {
        return lineOfField(parseCsv(decodeToUtf8(readWholeFile(path_, {}, format_), {}, format_.charset, path_), path_, {},
                                    dialectOf(format_)),
                           column, row);
    } catch (...) {
        return 0;  // the file changed or went away: the message goes without its line
    }
}

std::optional<CsvTable::TextCause> CsvTable::textCause(size_t column) const {
    if (column >= columns_.size() || types_[column] != ColumnType::Text) return std::nullopt;
    enum Kind { Number, Date, Other };
    std::vector<Kind> kinds(rows_, Other);
    size_t counts[3] = {0, 0, 0};
    std::vector<bool> present(rows_, false);
    for (size_t r = 0; r < rows_; ++r) {
        const Cell c = cell(r, column);
        if (isNull(column, c) || isNullText(textOf(c))) continue;
        const std::string_view v = withoutBlanks(textOf(c));
        const bool leadingZero = v.size() > 1 && v[0] == '0' && v[1] >= '0' && v[1] <= '9';  // a code, as typing reads it
        kinds[r] = !leadingZero && readNumberText(v) ? Number : readDateText(v) ? Date : Other;
        present[r] = true;
        ++counts[kinds[r]];
    }
    const size_t values = counts[Number] + counts[Date] + counts[Other];
    const Kind most = counts[Number] >= counts[Date] ? Number : Date;
    if (values == 0 || counts[most] * 2 <= values) return std::nullopt;
    for (size_t r = 0; r < rows_; ++r) {
        if (!present[r] || kinds[r] == most) continue;
        TextCause cause{std::string(textOf(cell(r, column))), 0};
        cause.line = lineOfValue(column, cause.value);
        return cause;
    }
    return std::nullopt;
}

std::string CsvTable::keyOf(size_t column, Cell c) const {
    switch (types_[column]) {
    case ColumnType::Integer:
    case ColumnType::Date:
    case ColumnType::DateTime:
    case ColumnType::Time: return std::to_string(c.integer);
    case ColumnType::Real: return realKey(c.real);
    case ColumnType::Text: break;
    }
    return foldCase(textOf(c));
}

std::string CsvTable::realKey(double value) {
    // -0.0 equals 0 as a plain comparison finds: one key for both.
    if (value == 0) value = 0;
    char buffer[40];
    const int n = std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return std::string(buffer, size_t(n));
}

namespace {

// Every 65,536 steps of an index or order build, a look at the run's stop flag.
void listenTo(const std::atomic<bool>* stop, size_t step) {
    if ((step & 0xFFFF) == 0 && stop && stop->load(std::memory_order_relaxed)) throw Cancelled{};
}

// A sort's comparisons count as steps too: a sort of millions of keys takes
// seconds. The count lives outside, as the sort copies its comparison.
template <typename Less>
auto listening(const std::atomic<bool>* stop, size_t& count, Less less) {
    return [stop, less, &count](const auto& a, const auto& b) {
        listenTo(stop, ++count);
        return less(a, b);
    };
}

// How many runs a pass over rows is cut into: one per core, where the rows
// are enough to be worth the threads.
size_t rowParts(size_t rows) {
    return rows < 100000 ? 1 : coreCount();
}

// Numbers each distinct spelling in the order first seen: an open-addressing
// table of hashes, with each spelling copied once into a small arena of its
// own, so a lookup compares against nearby memory, not a far corner of the
// file's text.
class SpellingNumbers {
public:
    SpellingNumbers() : slots_(1024) {}
    uint32_t idOf(std::string_view text) { return idOf(text, hashOfText(text)); }
    // A slot read soon: its cache line asked for ahead of the probe.
    void prefetch(uint64_t h) const { __builtin_prefetch(&slots_[size_t(h) & (slots_.size() - 1)]); }
    uint32_t idOf(std::string_view text, uint64_t h) {
        if (starts_.size() * 2 >= slots_.size()) grow();
        size_t i = size_t(h) & (slots_.size() - 1);
        for (; slots_[i].id; i = (i + 1) & (slots_.size() - 1))
            if (slots_[i].hash == h && spelling(slots_[i].id - 1) == text) return slots_[i].id - 1;
        starts_.push_back(arena_.size());
        arena_.insert(arena_.end(), text.begin(), text.end());
        slots_[i] = {h, uint32_t(starts_.size())};
        return uint32_t(starts_.size() - 1);
    }
    size_t size() const { return starts_.size(); }
    std::string_view spelling(size_t id) const {
        const size_t end = id + 1 < starts_.size() ? starts_[id + 1] : arena_.size();
        return {arena_.data() + starts_[id], end - starts_[id]};
    }
    // Every spelling, viewing the arena, which the caller then keeps.
    std::vector<std::string_view> spellings() const {
        std::vector<std::string_view> out(starts_.size());
        for (size_t id = 0; id < out.size(); ++id) out[id] = spelling(id);
        return out;
    }
    std::vector<char> takeArena() { return std::move(arena_); }

private:
    struct Slot {
        uint64_t hash = 0;
        uint32_t id = 0;  // one more than the spelling's number; 0 for a free slot
    };
    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& s : old) {
            if (!s.id) continue;
            size_t i = size_t(s.hash) & (slots_.size() - 1);
            while (slots_[i].id) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = s;
        }
    }
    std::vector<Slot> slots_;
    std::vector<size_t> starts_;
    std::vector<char> arena_;
};

// A text column's distinct spellings, each row's spelling and the spellings
// in ascending order ignoring case.
struct Spellings {
    LargeArray<uint32_t> idOfRow;  // UINT32_MAX for null
    std::vector<char> arena;       // what spellings view
    std::vector<std::string_view> spellings;
    std::vector<uint32_t> byRank;
    size_t nulls = 0;
};

Spellings spellingsInOrder(const CsvTable& table, size_t column, const std::atomic<bool>* stop) {
    // Each core numbers the spellings of its own run of rows; the runs'
    // lists, joined in row order, give every spelling the number it has
    // when first seen, as one pass would.
    const size_t rows = table.rowCount();
    const size_t parts = rowParts(rows);
    struct Part {
        SpellingNumbers numbers;
        std::vector<uint32_t> globalId;
        size_t nulls = 0;
    };
    std::vector<Part> local(parts);
    Spellings out;
    out.idOfRow.resize(rows);
    onThreads(parts, parts, [&](size_t p) {
        Part& mine = local[p];
        // Rows a batch at a time: every slot of the batch is asked for
        // before the first is probed, so the cache misses overlap.
        constexpr size_t kBatch = 16;
        std::string_view texts[kBatch];
        uint64_t hashes[kBatch];
        bool nulls[kBatch];
        for (size_t r = rows * p / parts, end = rows * (p + 1) / parts; r < end; r += kBatch) {
            listenTo(stop, r / kBatch);
            const size_t batch = std::min(kBatch, end - r);
            for (size_t j = 0; j < batch; ++j) {
                const Cell c = table.cell(r + j, column);
                nulls[j] = table.isNull(column, c);
                if (nulls[j]) continue;
                texts[j] = table.textOf(c);
                hashes[j] = hashOfText(texts[j]);
                mine.numbers.prefetch(hashes[j]);
            }
            for (size_t j = 0; j < batch; ++j) {
                if (nulls[j]) {
                    out.idOfRow[r + j] = UINT32_MAX;
                    ++mine.nulls;
                } else {
                    out.idOfRow[r + j] = mine.numbers.idOf(texts[j], hashes[j]);
                }
            }
        }
    });
    SpellingNumbers all;
    for (Part& part : local) {
        out.nulls += part.nulls;
        part.globalId.resize(part.numbers.size());
        for (size_t k = 0; k < part.numbers.size(); ++k) part.globalId[k] = all.idOf(part.numbers.spelling(k));
    }
    out.spellings = all.spellings();
    out.arena = all.takeArena();  // a vector's move keeps its buffer, so the views stay
    if (parts > 1) {
        onThreads(parts, parts, [&](size_t p) {
            const std::vector<uint32_t>& globalId = local[p].globalId;
            for (size_t r = rows * p / parts, end = rows * (p + 1) / parts; r < end; ++r)
                if (out.idOfRow[r] != UINT32_MAX) out.idOfRow[r] = globalId[out.idOfRow[r]];
        });
    }
    out.byRank.resize(out.spellings.size());
    for (uint32_t i = 0; i < out.byRank.size(); ++i) out.byRank[i] = i;
    size_t comparisons = 0;
    std::sort(out.byRank.begin(), out.byRank.end(), listening(stop, comparisons, [&](uint32_t a, uint32_t b) {
        return compareIgnoringCase(out.spellings[a], out.spellings[b]) < 0;
    }));
    return out;
}

// Text: rank the distinct spellings once, then place rows by rank, so a
// column of a few values costs one pass, not a full comparison sort.
std::vector<uint32_t> orderOfText(const CsvTable& table, size_t column, const std::atomic<bool>* stop) {
    const Spellings s = spellingsInOrder(table, column, stop);
    // Spellings equal but for case share a rank, so their rows keep the file's order.
    std::vector<uint32_t> rankOfId(s.spellings.size());
    uint32_t rank = 0;
    for (uint32_t k = 0; k < s.byRank.size(); ++k) {
        if (k > 0 && compareIgnoringCase(s.spellings[s.byRank[k - 1]], s.spellings[s.byRank[k]]) != 0) ++rank;
        rankOfId[s.byRank[k]] = rank;
    }
    std::vector<uint32_t> start(s.spellings.size() + 1, 0);
    for (const uint32_t id : s.idOfRow)
        if (id != UINT32_MAX) ++start[rankOfId[id] + 1];
    for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    std::vector<uint32_t> order(table.rowCount());
    size_t nextNull = 0;
    for (uint32_t r = 0; r < s.idOfRow.size(); ++r) {
        if (s.idOfRow[r] == UINT32_MAX) order[nextNull++] = r;
        else order[s.nulls + start[rankOfId[s.idOfRow[r]]]++] = r;
    }
    return order;
}

// A column's codes as they are made, four bytes each, and each code's value
// where the making knew it.
struct WideCodes {
    LargeArray<uint32_t> codes;
    uint32_t width = 1;
    bool caseTwins = false;
    std::vector<Cell> cellOfCode;  // empty: found from the rows
};

WideCodes codesOfText(const CsvTable& table, size_t column, const std::atomic<bool>* stop) {
    Spellings s = spellingsInOrder(table, column, stop);
    WideCodes out;
    std::vector<uint32_t> codeOfId(s.spellings.size());
    for (uint32_t k = 0; k < s.byRank.size(); ++k) {
        if (k > 0 && compareIgnoringCase(s.spellings[s.byRank[k - 1]], s.spellings[s.byRank[k]]) == 0) out.caseTwins = true;
        codeOfId[s.byRank[k]] = k + 1;
    }
    out.width = uint32_t(s.spellings.size() + 1);
    out.codes = std::move(s.idOfRow);
    const size_t rows = out.codes.size();
    const size_t parts = rowParts(rows);
    onThreads(parts, parts, [&](size_t p) {
        for (size_t r = rows * p / parts, end = rows * (p + 1) / parts; r < end; ++r)
            out.codes[r] = out.codes[r] == UINT32_MAX ? 0 : codeOfId[out.codes[r]];
    });
    return out;
}

// work(part, first row, end) for each core's run of rows.
template <typename Work>
void eachRowPart(size_t rows, Work work) {
    const size_t parts = rowParts(rows);
    onThreads(parts, parts, [&](size_t p) { work(p, rows * p / parts, rows * (p + 1) / parts); });
}

// The least and greatest of an integer column, on every core; the least
// above the greatest when every value is null.
std::pair<int64_t, int64_t> rangeOfIntegers(const CsvTable& table, size_t column, const std::atomic<bool>* stop) {
    const int64_t null = table.nullInteger(column);
    const size_t rows = table.rowCount();
    std::vector<int64_t> lows(rowParts(rows), std::numeric_limits<int64_t>::max()),
        highs(rowParts(rows), std::numeric_limits<int64_t>::min());
    const CsvTable::CellSpan cells = table.cellsOf(column);
    eachRowPart(cells.count, [&](size_t p, size_t begin, size_t end) {
        // In registers, written once: the parts' slots share a cache line.
        int64_t low = std::numeric_limits<int64_t>::max(), high = std::numeric_limits<int64_t>::min();
        for (size_t i = begin; i < end; ++i) {
            listenTo(stop, i);
            const int64_t v = cells.cells[i].integer;
            if (v == null) continue;
            low = std::min(low, v);
            high = std::max(high, v);
        }
        lows[p] = low;
        highs[p] = high;
    });
    return {*std::min_element(lows.begin(), lows.end()), *std::max_element(highs.begin(), highs.end())};
}

// A day packed as yyyymmdd000000 lies far from the next when a month or a
// year turns (20241231 to 20250101); counted as days of 31-day months, days
// keep their order and lie near, so two years of them take 744 places.
int64_t dayPlace(int64_t packed) {
    const int64_t day = packed / 1000000;
    return (day / 10000 * 12 + day / 100 % 100 - 1) * 31 + day % 100 - 1;
}
int64_t dayOfPlace(int64_t place) {
    return ((place / 372 * 100 + place / 31 % 12 + 1) * 100 + place % 31 + 1) * 1000000;
}

// Whether every value of a date column is a whole day (of a year from 0 on,
// which dayPlace keeps in order).
bool holdsWholeDays(const CsvTable& table, size_t column, const std::atomic<bool>* stop) {
    const int64_t null = table.nullInteger(column);
    const size_t rows = table.rowCount();
    std::atomic<bool> whole = true;
    eachRowPart(rows, [&](size_t, size_t begin, size_t end) {
        for (size_t r = begin; r < end && whole.load(std::memory_order_relaxed); ++r) {
            listenTo(stop, r);
            const int64_t v = table.cell(r, column).integer;
            if (v != null && (v < 0 || v % 1000000 != 0)) whole = false;
        }
    });
    return whole;
}

// Codes by a count over a narrow range of places: every core marks the
// places its rows have (a mark is the same byte from any of them, stored
// whole), the marks are numbered in order, and each row takes its place's
// number. placeOf is one-to-one and keeps the values' order; valueOf is
// its inverse.
template <typename PlaceOf, typename ValueOf>
WideCodes codesOverPlaces(const CsvTable& table, size_t column, int64_t low, uint64_t span, PlaceOf placeOf, ValueOf valueOf) {
    const int64_t null = table.nullInteger(column);
    WideCodes out;
    const size_t rows = table.rowCount();
    out.codes.resize(rows);
    LargeArray<uint8_t> marks;  // zero, as fresh pages are
    marks.resize(size_t(span) + 1);
    const auto seen = [&](size_t i) { return std::atomic_ref<uint8_t>(marks[i]); };
    eachRowPart(rows, [&](size_t, size_t begin, size_t end) {
        for (size_t r = begin; r < end; ++r)
            if (const int64_t v = table.cell(r, column).integer; v != null) {
                // Looked at first: a store to a mark the other core reads would take its cache line every row.
                const std::atomic_ref<uint8_t> mark = seen(size_t(uint64_t(placeOf(v)) - uint64_t(low)));
                if (!mark.load(std::memory_order_relaxed)) mark.store(1, std::memory_order_relaxed);
            }
    });
    LargeArray<uint32_t> codeOf;  // fresh pages are zero, and cheap where the range is wide
    codeOf.resize(size_t(span) + 1);
    size_t marked = 0;
    for (size_t i = 0; i <= span; ++i) marked += marks[i];  // the cores are done
    out.cellOfCode.reserve(marked + 1);
    out.cellOfCode.push_back(Cell{.integer = null});
    for (size_t i = 0; i <= span; ++i)
        if (marks[i]) {
            codeOf[i] = uint32_t(out.cellOfCode.size());
            out.cellOfCode.push_back(Cell{.integer = valueOf(int64_t(uint64_t(low) + i))});
        }
    out.width = uint32_t(out.cellOfCode.size());
    eachRowPart(rows, [&](size_t, size_t begin, size_t end) {
        for (size_t r = begin; r < end; ++r) {
            const int64_t v = table.cell(r, column).integer;
            out.codes[r] = v == null ? 0 : codeOf[size_t(uint64_t(placeOf(v)) - uint64_t(low))];
        }
    });
    return out;
}

// Integers: a count over the range when it is narrow (dates counted in
// days), else the sorted distinct values, each core sorting its share. The
// passes over the rows run on every core.
WideCodes codesOfIntegers(const CsvTable& table, size_t column, const std::atomic<bool>* stop) {
    const int64_t null = table.nullInteger(column);
    const size_t rows = table.rowCount();
    const uint64_t narrow = std::max<uint64_t>(uint64_t(1) << 16, 4 * uint64_t(rows));
    // Plain names, not a structured binding: the lambdas below use them, which clang 14 refuses.
    const std::pair<int64_t, int64_t> range = rangeOfIntegers(table, column, stop);
    const int64_t low = range.first, high = range.second;
    if (low > high) {  // all null
        WideCodes out;
        out.codes.resize(rows);
        out.cellOfCode.push_back(Cell{.integer = null});
        return out;
    }
    if (uint64_t(high) - uint64_t(low) < narrow)
        return codesOverPlaces(table, column, low, uint64_t(high) - uint64_t(low), std::identity(), std::identity());
    if (table.columnTypes()[column] != ColumnType::Integer && dayPlace(high) - dayPlace(low) < int64_t(narrow) &&
        holdsWholeDays(table, column, stop))
        return codesOverPlaces(table, column, dayPlace(low), uint64_t(dayPlace(high) - dayPlace(low)), dayPlace, dayOfPlace);

    const size_t parts = rowParts(rows);
    std::vector<std::vector<int64_t>> shares(parts);
    eachRowPart(rows, [&](size_t p, size_t begin, size_t end) {
        std::vector<int64_t>& share = shares[p];
        share.reserve(end - begin);
        for (size_t r = begin; r < end; ++r)
            if (const int64_t v = table.cell(r, column).integer; v != null) share.push_back(v);
        size_t comparisons = 0;
        std::sort(share.begin(), share.end(), listening(stop, comparisons, std::less<>()));
        share.erase(std::unique(share.begin(), share.end()), share.end());
    });
    std::vector<int64_t> distinct = std::move(shares[0]);
    for (size_t p = 1; p < parts; ++p) {
        const size_t middle = distinct.size();
        distinct.insert(distinct.end(), shares[p].begin(), shares[p].end());
        std::inplace_merge(distinct.begin(), distinct.begin() + ptrdiff_t(middle), distinct.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        listenTo(stop, 0);
    }
    WideCodes out;
    out.codes.resize(rows);
    out.width = uint32_t(distinct.size() + 1);
    out.cellOfCode.reserve(out.width);
    out.cellOfCode.push_back(Cell{.integer = null});
    for (const int64_t v : distinct) out.cellOfCode.push_back(Cell{.integer = v});
    eachRowPart(rows, [&](size_t, size_t begin, size_t end) {
        for (size_t r = begin; r < end; ++r) {
            listenTo(stop, r);
            const int64_t v = table.cell(r, column).integer;
            out.codes[r] = v == null ? 0 : uint32_t(std::lower_bound(distinct.begin(), distinct.end(), v) - distinct.begin() + 1);
        }
    });
    return out;
}

template <typename Key>
std::vector<uint32_t> orderByKey(const CsvTable& table, size_t column, Key keyOf, const std::atomic<bool>* stop) {
    using K = decltype(keyOf(Cell{}));
    std::vector<std::pair<K, uint32_t>> keyed;
    std::vector<uint32_t> order;
    order.reserve(table.rowCount());
    keyed.reserve(table.rowCount());
    for (size_t r = 0; r < table.rowCount(); ++r) {
        listenTo(stop, r);
        const Cell c = table.cell(r, column);
        if (table.isNull(column, c)) order.push_back(uint32_t(r));  // nulls sort first
        else keyed.emplace_back(keyOf(c), uint32_t(r));
    }
    size_t comparisons = 0;
    std::sort(keyed.begin(), keyed.end(), listening(stop, comparisons, std::less<>()));
    for (const auto& k : keyed) order.push_back(k.second);
    return order;
}

}  // namespace

const std::vector<uint32_t>& CsvTable::rowsInOrder(size_t column, const std::atomic<bool>* stop) const {
    std::lock_guard lock(indexLock_);
    std::unique_ptr<std::vector<uint32_t>>& order = orders_[column];
    if (!order) {
        switch (types_[column]) {
        case ColumnType::Integer:
        case ColumnType::Date:
        case ColumnType::DateTime:
        case ColumnType::Time:
            order = std::make_unique<std::vector<uint32_t>>(orderByKey(*this, column, [](Cell c) { return c.integer; }, stop));
            break;
        case ColumnType::Real:
            order = std::make_unique<std::vector<uint32_t>>(orderByKey(*this, column, [](Cell c) { return c.real; }, stop));
            break;
        case ColumnType::Text: order = std::make_unique<std::vector<uint32_t>>(orderOfText(*this, column, stop)); break;
        }
    }
    return *order;
}

const CsvTable::ValueCodes& CsvTable::codesOf(size_t column, const std::atomic<bool>* stop) const {
    std::lock_guard lock(indexLock_);
    std::unique_ptr<ValueCodes>& codes = codes_[column];
    if (!codes) {
        WideCodes wide = types_[column] == ColumnType::Text ? codesOfText(*this, column, stop)
                                                            : codesOfIntegers(*this, column, stop);
        auto made = std::make_unique<ValueCodes>();
        made->width = wide.width;
        made->caseTwins = wide.caseTwins;
        if (!wide.cellOfCode.empty()) {
            made->cellOfCode = std::move(wide.cellOfCode);
        } else {
            made->cellOfCode.assign(wide.width, nullCellOf(column));
            std::vector<bool> seen(wide.width);
            for (size_t r = 0; r < wide.codes.size(); ++r) {
                const uint32_t code = wide.codes[r];
                if (!seen[code]) seen[code] = true, made->cellOfCode[code] = cell(r, column);
            }
        }
        made->codes = CodeArray(std::move(wide.codes), wide.width);
        codes = std::move(made);
    }
    return *codes;
}

const CsvTable::ValueCodes* CsvTable::builtCodesOf(size_t column) const {
    std::lock_guard lock(indexLock_);
    return codes_[column].get();
}

CsvTable::BitRange CsvTable::bitRangeOf(size_t column) const {
    std::lock_guard lock(indexLock_);
    std::optional<BitRange>& range = bitRanges_[column];
    if (!range) {
        int lowest = INT_MAX, highest = INT_MIN;
        bool finite = true;
        const LargeArray<Cell>& cells = columns_[column].cells;
        for (size_t i = 0; i < cells.size(); ++i) {
            uint64_t bits;
            std::memcpy(&bits, &cells[i].real, sizeof bits);
            const int field = int((bits >> 52) & 0x7FF);
            uint64_t significand = bits & ((uint64_t(1) << 52) - 1);
            if (field == 0x7FF && significand == 0) finite = false;
            if (field == 0x7FF || (field == 0 && significand == 0)) continue;  // null, infinite, zero
            if (field) significand |= uint64_t(1) << 52;
            const int unit = (field ? field : 1) - 1075;  // the exponent of the significand's last bit
            lowest = std::min(lowest, unit + std::countr_zero(significand));
            highest = std::max(highest, unit + 63 - std::countl_zero(significand));
        }
        range = lowest > highest ? BitRange{0, 0, finite} : BitRange{lowest, highest, finite};
    }
    return *range;
}

bool CsvTable::hasFewIntegers(size_t column) const {
    std::lock_guard lock(indexLock_);
    std::optional<bool>& few = fewIntegers_[column];
    if (!few) {
        few = false;
        if (types_[column] == ColumnType::Integer) {
            const auto [low, high] = rangeOfIntegers(*this, column, nullptr);
            few = low > high || uint64_t(high) - uint64_t(low) < 255;
        }
    }
    return *few;
}

bool CsvTable::hasNulls(size_t column) const {
    std::lock_guard lock(indexLock_);
    std::optional<bool>& nulls = hasNulls_[column];
    if (!nulls) {
        const Column& c = columns_[column];
        nulls = c.cells.size() < rows_;
        for (size_t i = 0; i < c.cells.size() && !*nulls; ++i) nulls = isNull(column, c.cells[i]);
    }
    return *nulls;
}

const CsvTable::Index& CsvTable::indexOf(size_t column, const std::atomic<bool>* stop) const {
    std::unique_ptr<Index>& index = indexes_[column];
    if (!index) {
        auto built = std::make_unique<Index>();
        for (size_t r = 0; r < rowCount(); ++r) {
            listenTo(stop, r);
            if (const Cell c = cell(r, column); !isNull(column, c))
                (*built)[keyOf(column, c)].push_back(uint32_t(r));
        }
        index = std::move(built);
    }
    return *index;
}

const std::vector<uint32_t>* CsvTable::rowsWithKey(size_t column, const std::string& key,
                                                   const std::atomic<bool>* stop) const {
    std::lock_guard lock(indexLock_);
    const Index& index = indexOf(column, stop);
    const auto it = index.find(key);
    return it == index.end() ? nullptr : &it->second;
}

CsvTable::KeySpread CsvTable::keySpreadOf(size_t column, const std::atomic<bool>* stop) const {
    std::lock_guard lock(indexLock_);
    std::optional<KeySpread>& spread = spreads_[column];
    if (spread) return *spread;
    KeySpread out;
    if (rowCount() <= kExactSpreadRows) {
        // The index a lookup needs anyway tells it exactly: the rows a
        // value's key has, averaged over the values of all rows.
        const Index& index = indexOf(column, stop);
        double rows = 0, squares = 0;
        for (const auto& [key, list] : index) {
            rows += double(list.size());
            squares += double(list.size()) * double(list.size());
        }
        out.unique = rows == double(index.size());
        out.rowsPerKey = rows > 0 ? squares / rows : 1;
    } else {
        // One row at random from each of kSpreadSample equal stretches (the
        // same rows every time, so a statement is always planned alike): the
        // share of sampled pairs with one key is the chance two rows share it,
        // sorted files too.
        std::vector<std::string> keys;
        keys.reserve(kSpreadSample);
        const size_t stretch = rowCount() / kSpreadSample;
        uint64_t state = 0x9E3779B97F4A7C15u;
        for (size_t i = 0; i < kSpreadSample; ++i) {
            state = state * 6364136223846793005u + 1442695040888963407u;
            const size_t r = i * stretch + size_t((state >> 33) % stretch);
            if (const Cell c = cell(r, column); !isNull(column, c)) keys.push_back(keyOf(column, c));
        }
        std::sort(keys.begin(), keys.end());
        double pairs = 0;
        for (size_t i = 0, j; i < keys.size(); i = j) {
            for (j = i + 1; j < keys.size() && keys[j] == keys[i];) ++j;
            pairs += double(j - i) * double(j - i - 1) / 2;
        }
        const double n = double(keys.size());
        const double rows = double(rowCount()) * n / double(kSpreadSample);
        out.rowsPerKey = n > 1 ? 1 + (rows - 1) * pairs / (n * (n - 1) / 2) : 1;
    }
    spread = out;
    return out;
}

}  // namespace tarlo
