// The CSV reader: RFC 4180 and what real files do (quoted fields with
// commas, doubled quotes and line breaks, CR LF / LF / lone CR line ends, a
// last line without a break). Decodes the file to UTF-8 first, so every
// field is a slice of one buffer; quoted fields are unescaped in place.
#pragma once

#include "query/large_array.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarlo::query {

struct FieldRef {
    uint32_t offset;
    uint32_t length;
};

struct CsvData {
    TextBuffer text;                 // UTF-8 (no byte-order mark)
    LargeArray<FieldRef> fields;     // row-major, header row first
    LargeArray<uint32_t> rowStart;   // index of each row's first field, plus one past the last

    size_t rowCount() const { return rowStart.empty() ? 0 : rowStart.size() - 1; }
    uint32_t fieldCount(size_t row) const { return rowStart[row + 1] - rowStart[row]; }
    std::string_view field(size_t row, uint32_t column) const {
        const FieldRef& f = fields[rowStart[row] + column];
        return {text.data() + f.offset, f.length};
    }
    size_t memoryBytes() const {
        return text.capacity() + fields.capacity() * sizeof(FieldRef) +
               rowStart.capacity() * sizeof(uint32_t);
    }
};

// Turns the file's bytes into UTF-8: UTF-8 with or without a byte-order
// mark, UTF-16 with one, otherwise CP932 when the bytes are not UTF-8.
TextBuffer decodeToUtf8(TextBuffer bytes);

// Called now and then with the share of the text parsed; returning false
// stops the parse (it then throws Cancelled).
using ParseProgress = std::function<bool(double share)>;

struct Cancelled {};

// Parses UTF-8 CSV text. Throws Error naming the file and line of an
// unclosed quote. path is only used in messages.
CsvData parseCsv(TextBuffer utf8, const QString& path, const ParseProgress& progress = {});

}  // namespace tarlo::query
