// A table file read into memory: unique column names, a type for each
// column and its values stored column by column, numbers and dates parsed
// once at load. Immutable once loaded, so runs and threads can share it;
// a column's equality index and sort order are built on first use.
#pragma once

#include "values/column_types.h"
#include "csv/code_array.h"
#include "csv/csv_reader.h"

#include <atomic>
#include <QString>

#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarlo {

// One value: the text slice of a text column, or the parsed value of a
// number or date column. Nulls: a missing or empty slice, NaN, INT64_MIN (or
// the column's own null, when it holds that value).
union Cell {
    FieldRef text;
    int64_t integer;  // Integer; Date and DateTime as yyyymmddhhmmss
    double real;
};
static_assert(sizeof(Cell) == sizeof(FieldRef));
constexpr int64_t kNullInteger = std::numeric_limits<int64_t>::min();

// Refuses, before the file is read, one whose load would take more memory
// than available: at its peak a load holds its text and a cell for each
// field, and a file not in UTF-8 its bytes beside their UTF-8, estimated
// from the shape of the file's first megabyte (2.5 times the file when it
// cannot be looked at).
// The columns a statement reads, by name (ASCII letters alike in either
// case, as SQLite matches names), or all of them.
struct ColumnWish {
    bool all = true;
    std::vector<std::string> names;
};

// The choice of a read that keeps the columns of wish.
ColumnChoice choiceOf(const ColumnWish& wish, const TableFormat& format);

void checkRoomToLoad(const QString& path, qint64 fileSize, qint64 available, const TableFormat& format = {});
// The memory a load may take: the free memory, or less where
// TARLO_MEMORY_BOUND (bytes) says so.
qint64 tableMemoryBound();
// The memory a load of path would take at its peak (see checkRoomToLoad).
qint64 memoryToLoad(const QString& path, qint64 fileSize, const TableFormat& format = {});
CsvDialect dialectOf(const TableFormat& format);
// The line of the text data was parsed from on which column's field of row starts; 0 when it has none.
qint64 lineOfField(const CsvData& data, size_t column, size_t row);

class PiecedFile;

class CsvTable {
public:
    // Reads and parses the file. Throws Error naming the file (and for a
    // value that does not fit its declared type, the line and column).
    // A large file read for wish reads only the columns wished for: the
    // others are empty, and a later statement that reads one loads the file
    // again (see hasLoaded).
    static std::shared_ptr<const CsvTable> load(const QString& path, const ParseProgress& progress = {},
                                                const TableFormat& format = {}, const ColumnWish& wish = {});
    // Whether every column of wish was read.
    bool hasLoaded(const ColumnWish& wish) const;
    // The columns read: all, or by name.
    ColumnWish loadedColumns() const;
    // From text already decoded, for tests and the fuzzer.
    static std::shared_ptr<const CsvTable> fromUtf8(std::string_view utf8, const QString& path,
                                                    const TableFormat& format = {});

    // A table of other tables' columns as a join pairs their rows: row r of
    // each column is row rows[r] of its source, or null for kNoRow. Values
    // keep their sources' types and spellings; the text the table holds is
    // only that of the rows it takes. Hears stop as rowsWithKey does.
    // A column keeps its source's value codes where the source has them
    // built, or where codes is set (building them): grouping by a master's
    // column then costs no second look at its values.
    struct Gathered {
        const CsvTable* table = nullptr;
        size_t column = 0;
        const uint32_t* rows = nullptr;  // the source row of each row, or kNoRow
        std::string name;
        bool codes = false;
    };
    static constexpr uint32_t kNoRow = UINT32_MAX;
    static std::shared_ptr<const CsvTable> gathered(const std::vector<Gathered>& columns, size_t rowCount,
                                                    const std::atomic<bool>* stop = nullptr);

    // Set for a file too big to hold, read a piece at a time: the table
    // itself then holds its columns and their types but no rows.
    const PiecedFile* pieces() const { return pieces_.get(); }

    const QString& path() const { return path_; }
    const std::vector<std::string>& columnNames() const { return names_; }
    const std::vector<ColumnType>& columnTypes() const { return types_; }
    size_t columnCount() const { return names_.size(); }
    size_t rowCount() const { return rows_; }
    size_t memoryBytes() const;

    Cell cell(size_t row, size_t column) const {
        const Column& c = columns_[column];
        if (row < c.firstRow || row - c.firstRow >= c.cells.size()) return nullCellOf(column);
        return c.cells[row - c.firstRow];
    }
    // A column's cells as stored: those of rows firstRow on; other rows are null.
    struct CellSpan {
        const Cell* cells;
        size_t firstRow;
        size_t count;
    };
    CellSpan cellsOf(size_t column) const {
        const Column& c = columns_[column];
        return {c.cells.data(), c.firstRow, c.cells.size()};
    }
    // The null of an integer column: kNullInteger, unless the column holds
    // that value, when it is one the column does not hold.
    int64_t nullInteger(size_t column) const { return nullIntegers_[column]; }
    bool holdsLowest(size_t column) const { return nullIntegers_[column] != kNullInteger; }
    bool isNull(size_t column, Cell cell) const {
        switch (types_[column]) {
        case ColumnType::Text: return cell.text.length() == 0 || cell.text.length() == kMissing;
        case ColumnType::Real: return std::isnan(cell.real);
        case ColumnType::Integer:
        case ColumnType::Date:
        case ColumnType::DateTime:
        case ColumnType::Time: return cell.integer == nullIntegers_[column];
        }
        return true;
    }
    Cell nullCellOf(size_t column) const {
        Cell c = nullCell(types_[column]);
        if (types_[column] == ColumnType::Integer) c.integer = nullIntegers_[column];
        return c;
    }
    std::string_view textOf(Cell cell) const { return {text_.data() + cell.text.offset(), cell.text.length()}; }
    // The value as shown: numbers and dates formatted, text as in the file.
    std::string displayText(size_t row, size_t column) const;
    // How the file spelled a real of column that needs more than fifteen
    // digits; nothing for a value fifteen digits show.
    std::optional<std::string> spellingOf(size_t column, double value) const;
    // The most bytes a value of column takes as shown (a bound for numbers and dates).
    size_t longestShown(size_t column) const;

    // The line of the file on which column (of texts or dates) first holds
    // value as shown, read again from the file (messages only); 0 when it
    // cannot be told.
    qint64 lineOfValue(size_t column, std::string_view value) const;
    // Why a text column is text where most of its values are numbers or
    // dates: the first value that is neither (or of the other kind) and its
    // line (0 when unknown). Nothing for another column.
    struct TextCause {
        std::string value;
        qint64 line = 0;
    };
    std::optional<TextCause> textCause(size_t column) const;

    // The rows whose value in column has this key (see keyOf). Building the
    // index the first time looks at stop now and then and throws Cancelled
    // when it is set, keeping nothing of the half-built index.
    const std::vector<uint32_t>* rowsWithKey(size_t column, const std::string& key,
                                             const std::atomic<bool>* stop = nullptr) const;
    // How many rows a lookup of a value of column finds, as the engine's
    // planner weighs a lookup: the rows sharing a row's key, averaged over
    // the non-null rows. Exact for a table of up to kExactSpreadRows rows
    // (from its index, built then), else estimated from kSpreadSample rows;
    // unique only when exact and no two rows share a key. Worked out once.
    struct KeySpread {
        double rowsPerKey = 1;
        bool unique = false;
    };
    KeySpread keySpreadOf(size_t column, const std::atomic<bool>* stop = nullptr) const;
    static constexpr size_t kExactSpreadRows = 65536;
    static constexpr size_t kSpreadSample = 4096;
    // The key a value is indexed under: what equal values share.
    std::string keyOf(size_t column, Cell cell) const;
    // The key of a real value: equal values (0 and -0.0 too) share one.
    static std::string realKey(double value);
    // All rows in ascending order of column as the engine compares its
    // values (nulls first; text ignoring case).
    // Built the first time, hearing stop as rowsWithKey does.
    const std::vector<uint32_t>& rowsInOrder(size_t column, const std::atomic<bool>* stop = nullptr) const;

    // Each row's value of an integer or text column as a small code that
    // sorts as rowsInOrder does: 0 for null, then 1, 2, ... for the distinct
    // values, ascending. Texts equal but for case get codes of their own and
    // caseTwins says so. Built the first time, hearing stop as rowsWithKey does.
    struct ValueCodes {
        CodeArray codes;
        uint32_t width = 1;  // one more than the highest code
        bool caseTwins = false;
        std::vector<Cell> cellOfCode;  // each code's value
    };
    const ValueCodes& codesOf(size_t column, const std::atomic<bool>* stop = nullptr) const;
    // The codes if built, else null.
    const ValueCodes* builtCodesOf(size_t column) const;
    // Whether an integer column's values lie within 255 of each other: its
    // codes then take a byte a row, an eighth of its cells.
    bool hasFewIntegers(size_t column) const;

    // The binary places a real column's values use: 2^lowest is the least
    // bit any value sets, 2^highest the greatest (both 0 for no nonzero value).
    // Sums that fit between them are exact in 128-bit integers.
    struct BitRange {
        int lowest = 0, highest = 0;
        bool finite = true;  // no infinity among the values
    };
    BitRange bitRangeOf(size_t column) const;
    // Whether some row has no value in column (empty, or past a short row's end).
    bool hasNulls(size_t column) const;

private:
    friend class PiecedFile;
    struct Column {
        size_t firstRow = 0;
        LargeArray<Cell> cells;
    };
    CsvTable() = default;
    // types: each column's type as given (a piece of a file typed whole).
    void build(CsvData data, const TableFormat& format, const ParseProgress& progress = {},
               const std::vector<ColumnType>* types = nullptr);
    // Asks the progress every 65,536 steps, so a cancel is heard within milliseconds.
    void listen(size_t step) const {
        if ((step & 0xFFFF) == 0 && progress_ && !progress_(1.0)) throw Cancelled{};
    }
    ColumnType readDeclaredColumn(LargeArray<Cell>& cells, size_t column, const DeclaredColumn& declared,
                                  const TableFormat& format) const;
    ColumnType readUntypedColumn(LargeArray<Cell>& cells, size_t column);
    int64_t unheldLowValue(const LargeArray<Cell>& cells) const;
    ColumnType readColumnAs(LargeArray<Cell>& cells, size_t column, ColumnType type, std::optional<bool> lowest);
    // The first row whose value of a text or date column shows as value; rowCount() when none.
    size_t firstRowHolding(size_t column, std::string_view value) const;
    void compactText();
    void keepSpelling(size_t column, double value, std::string_view spelled);
    static std::string shortestText(double value);
    // work(column) for every column, on this thread and, for a table big
    // enough to repay threads, one more for each other core.
    void onColumnsInParallel(size_t width, const std::function<void(size_t)>& work) const;
    static Cell nullCell(ColumnType type);
    // Built the first time; the caller holds indexLock_.
    using Index = std::unordered_map<std::string, std::vector<uint32_t>>;
    const Index& indexOf(size_t column, const std::atomic<bool>* stop) const;

    QString path_;
    TableFormat format_;
    bool fromFile_ = false;
    TextBuffer text_;
    size_t rows_ = 0;
    std::vector<std::string> names_;
    std::vector<ColumnType> types_;
    std::vector<Column> columns_;
    std::vector<bool> loaded_;  // by column, whether the file's values were read; empty: all
    struct Spellings {  // present for a column with longer reals
        std::unordered_map<uint64_t, std::string> texts;  // only those the shortest spelling misses
    };
    static constexpr size_t kMaxKeptSpellings = 100000;
    std::vector<std::unique_ptr<Spellings>> spellings_;

    mutable std::mutex indexLock_;
    mutable std::vector<std::unique_ptr<Index>> indexes_;
    mutable std::vector<std::optional<KeySpread>> spreads_;
    mutable std::vector<std::unique_ptr<std::vector<uint32_t>>> orders_;
    mutable std::vector<std::unique_ptr<ValueCodes>> codes_;
    mutable std::vector<std::optional<BitRange>> bitRanges_;
    std::vector<int64_t> nullIntegers_;  // by column
    mutable std::vector<std::optional<bool>> hasNulls_;
    mutable std::vector<std::optional<bool>> fewIntegers_;
    ParseProgress progress_;  // while the table is built
    std::shared_ptr<const PiecedFile> pieces_;
    qint64 lineOffset_ = 0;  // lines of the file before the text's first
};

}  // namespace tarlo
