// A table file read into memory: its parsed fields, unique column names and
// column types. Immutable once loaded, so runs and threads can share it; the
// equality index of a column is built on first use (joins on a key).
#pragma once

#include "query/column_types.h"
#include "query/csv_reader.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarlo::query {

class CsvTable {
public:
    // Reads and parses the file. Throws Error naming the file.
    static std::shared_ptr<const CsvTable> load(const QString& path, const ParseProgress& progress = {});
    // From text already decoded, for tests and the fuzzer.
    static std::shared_ptr<const CsvTable> fromUtf8(std::string utf8, const QString& path);

    const QString& path() const { return path_; }
    const std::vector<std::string>& columnNames() const { return names_; }
    const std::vector<ColumnType>& columnTypes() const { return types_; }
    size_t columnCount() const { return names_.size(); }
    size_t rowCount() const { return data_.rowCount() > 0 ? data_.rowCount() - 1 : 0; }
    size_t memoryBytes() const { return data_.memoryBytes(); }

    // The raw field of data row `row` (0-based); nullopt past a short row's end.
    std::optional<std::string_view> field(size_t row, size_t column) const {
        if (column >= data_.fieldCount(row + 1)) return std::nullopt;
        return data_.field(row + 1, uint32_t(column));
    }

    // The rows whose field in column has this key (see keyOfField).
    const std::vector<uint32_t>* rowsWithKey(size_t column, const std::string& key) const;
    // All rows in ascending order of column as the engine compares its
    // values (nulls first; text ignoring case). Built on first use.
    const std::vector<uint32_t>& rowsInOrder(size_t column) const;

    // The key a field is indexed under: what equal values share.
    std::string keyOfField(size_t column, std::string_view field) const;

private:
    CsvTable() = default;
    void describeColumns();

    QString path_;
    CsvData data_;
    std::vector<std::string> names_;
    std::vector<ColumnType> types_;

    using Index = std::unordered_map<std::string, std::vector<uint32_t>>;
    mutable std::mutex indexLock_;
    mutable std::vector<std::unique_ptr<Index>> indexes_;
    mutable std::vector<std::unique_ptr<std::vector<uint32_t>>> orders_;
};

}  // namespace tarlo::query
