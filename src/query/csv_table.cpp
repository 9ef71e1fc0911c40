#include "query/csv_table.h"

#include "platform/error.h"
#include "platform/file_io.h"
#include "query/case_folding.h"
#include "workspace/text_lines.h"

#include <QFileInfo>

#include <cstdio>

namespace tarlo::query {

namespace {

std::string readWholeFile(const QString& path) {
    // A file that changes while it is read is read again, so no run sees a
    // mixture of two versions.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QFileInfo before(path);
        QByteArray bytes;
        try {
            bytes = readFileBytes(path);
        } catch (const FileError& e) {
            throw Error(QStringLiteral("テーブルのファイル \"%1\" を読めません: %2").arg(path, e.reason()));
        }
        const QFileInfo after(path);
        if (before.size() == after.size() && before.lastModified() == after.lastModified() &&
            after.size() == bytes.size())
            return std::string(bytes.constData(), size_t(bytes.size()));
    }
    throw Error(QStringLiteral("テーブルのファイル \"%1\" が読み込み中に書き換えられています。").arg(path));
}

std::string nameWithSuffix(const std::string& base, int n) {
    return n == 0 ? base : base + std::to_string(n);
}

bool containsIgnoringCase(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& existing : names)
        if (compareIgnoringCase(existing, name) == 0) return true;
    return false;
}

}  // namespace

std::shared_ptr<const CsvTable> CsvTable::load(const QString& path, const ParseProgress& progress) {
    auto table = std::shared_ptr<CsvTable>(new CsvTable);
    table->path_ = path;
    table->data_ = parseCsv(decodeToUtf8(readWholeFile(path)), path, progress);
    table->describeColumns();
    return table;
}

std::shared_ptr<const CsvTable> CsvTable::fromUtf8(std::string utf8, const QString& path) {
    auto table = std::shared_ptr<CsvTable>(new CsvTable);
    table->path_ = path;
    table->data_ = parseCsv(std::move(utf8), path);
    table->describeColumns();
    return table;
}

void CsvTable::describeColumns() {
    size_t width = data_.rowCount() > 0 ? data_.fieldCount(0) : 0;
    for (size_t r = 1; r < data_.rowCount(); ++r) width = std::max<size_t>(width, data_.fieldCount(r));
    width = std::max<size_t>(width, 1);

    // Blank names, and the extra fields of rows longer than the header, are
    // NoName, NoName1, ...; a repeated name gets the first free number.
    int blanks = 0;
    for (size_t c = 0; c < width; ++c) {
        std::string name;
        if (data_.rowCount() > 0 && c < data_.fieldCount(0)) {
            const std::string_view raw = data_.field(0, uint32_t(c));
            name = trimControl(QString::fromUtf8(raw.data(), qsizetype(raw.size()))).toStdString();
        }
        const bool blank = name.empty();
        const std::string base = blank ? "NoName" : name;
        int n = blank ? blanks : 0;
        while (containsIgnoringCase(names_, nameWithSuffix(base, n))) ++n;
        if (blank) blanks = n + 1;
        names_.push_back(nameWithSuffix(base, n));
    }

    std::vector<TypeInference> inference(width);
    for (size_t r = 1; r < data_.rowCount(); ++r) {
        const uint32_t n = data_.fieldCount(r);
        for (uint32_t c = 0; c < n; ++c) inference[c].add(data_.field(r, c));
    }
    for (const TypeInference& t : inference) types_.push_back(t.type());
    indexes_.resize(width);
}

std::string CsvTable::keyOfField(size_t column, std::string_view field) const {
    switch (types_[column]) {
    case ColumnType::Integer: return std::string(field);
    case ColumnType::Real: {
        char buffer[40];
        const int n = std::snprintf(buffer, sizeof buffer, "%.17g", parseReal(field).value_or(0));
        return std::string(buffer, size_t(n));
    }
    case ColumnType::Date:
    case ColumnType::DateTime: return std::to_string(parseDateTime(field));
    case ColumnType::Text: break;
    }
    return foldCase(field);
}

const std::vector<uint32_t>* CsvTable::rowsWithKey(size_t column, const std::string& key) const {
    std::lock_guard lock(indexLock_);
    std::unique_ptr<Index>& index = indexes_[column];
    if (!index) {
        index = std::make_unique<Index>();
        for (size_t r = 0; r < rowCount(); ++r)
            if (const auto f = field(r, column); f && !f->empty())
                (*index)[keyOfField(column, *f)].push_back(uint32_t(r));
    }
    const auto it = index->find(key);
    return it == index->end() ? nullptr : &it->second;
}

}  // namespace tarlo::query
