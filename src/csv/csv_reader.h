// The CSV reader: RFC 4180 and what real files do (quoted fields with
// commas, doubled quotes and line breaks, CR LF / LF / lone CR line ends, a
// last line without a break). Decodes the file to UTF-8 first, so every
// field is a slice of one buffer; quoted fields are unescaped in place.
// Fields are stored column by column, so a query reads a column in order.
#pragma once

#include "csv/large_array.h"
#include "csv/table_format.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace tarlo {

// Where a field lies in the text, in eight bytes: a 36-bit offset (texts up
// to 64 GB) and a 28-bit length (fields up to 256 MB).
constexpr uint32_t kMissing = (uint32_t(1) << 28) - 1;  // the length past the end of a short row
constexpr uint64_t kMaxTextBytes = uint64_t(1) << 36;
constexpr uint32_t kMaxFieldBytes = kMissing - 1;

class FieldRef {
public:
    FieldRef() = default;  // trivial: a cell is a union
    constexpr FieldRef(uint64_t offset, uint64_t length) : bits_(offset << 28 | length) {}
    constexpr uint64_t offset() const { return bits_ >> 28; }
    constexpr uint32_t length() const { return uint32_t(bits_ & kMissing); }

private:
    uint64_t bits_;
};

// One column's fields, for the rows from firstRow on; rows outside hold
// none (a column that a long row opened, or short rows at the end).
struct CsvColumn {
    size_t firstRow = 0;
    LargeArray<FieldRef> cells;

    FieldRef at(size_t row) const {
        if (row < firstRow || row - firstRow >= cells.size()) return FieldRef(0, kMissing);
        return cells[row - firstRow];
    }
};

constexpr size_t kMaxColumns = 2000;        // the engine's own limit
constexpr size_t kMaxRows = UINT32_MAX - 1;  // rows are numbered in 32 bits

struct CsvData {
    TextBuffer text;                  // UTF-8 (no byte-order mark)
    std::vector<FieldRef> header;     // the first line's fields
    std::vector<CsvColumn> columns;
    size_t rows = 0;
    std::vector<bool> kept;  // by column, whether it was read; empty: every column

    bool present(size_t column, size_t row) const { return columns[column].at(row).length() != kMissing; }
    std::string_view field(size_t column, size_t row) const {
        const FieldRef f = columns[column].at(row);
        return f.length() == kMissing ? std::string_view() : std::string_view(text.data() + f.offset(), f.length());
    }
    std::string_view headerField(size_t column) const {
        return {text.data() + header[column].offset(), header[column].length()};
    }
};

// Called now and then with the share of the text parsed; returning false
// stops the read or parse (it then throws Cancelled).
using ParseProgress = std::function<bool(double share)>;

// Turns the file's bytes into UTF-8: UTF-8 with or without a byte-order
// mark, UTF-16 with one, otherwise CP932 when the bytes are not UTF-8; or
// as the given character set says. Throws Error naming path for bytes that
// are not in the character set given.
TextBuffer decodeToUtf8(TextBuffer bytes, const ParseProgress& progress = {}, Charset charset = Charset::Detect,
                        const QString& path = {});

struct Cancelled {};

// Which columns a read keeps, chosen from the header's fields once they
// are read; a column not kept is skipped as the rows are read and left
// empty. Only a read in pieces chooses: a small file is read whole.
using ColumnChoice = std::function<std::vector<bool>(const std::vector<std::string_view>& header)>;

struct CsvDialect {
    char delimiter = ',';
    char quote = '"';  // 0: quotes are text like any other
    bool header = true;
    qint64 lineOffset = 0;  // lines of the file before the text's first (for a piece of it)
};

// Parses UTF-8 CSV text. Throws Error naming the file and line of an
// unclosed quote. path is only used in messages.
// A large text is read in pieces on every core (parseCsvInPieces).
CsvData parseCsv(TextBuffer utf8, const QString& path, const ParseProgress& progress = {}, const CsvDialect& dialect = {},
                 const ColumnChoice& choose = {});

// The same read in about count pieces, each on a core of its own, with the
// very result, failure and line numbers of one reader.
CsvData parseCsvInPieces(TextBuffer utf8, const QString& path, const ParseProgress& progress, const CsvDialect& dialect,
                         size_t count, const ColumnChoice& choose = {});

// Where the last record that ends inside bytes ends (past its line break),
// bytes starting at a record's start; 0 when none does. Read as the parser
// reads (a quote opens a field only at its start); cp932: a lead byte's
// trail byte is never a delimiter.
// first: where the first record ends instead.
size_t recordsEnd(std::string_view bytes, const CsvDialect& dialect, bool cp932, bool first = false);

}  // namespace tarlo
