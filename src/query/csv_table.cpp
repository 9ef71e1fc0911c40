#include "query/csv_table.h"

#include "platform/error.h"
#include "platform/file_io.h"
#include "query/case_folding.h"
#include "workspace/text_lines.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace tarlo::query {

namespace {

TextBuffer readFileOnce(const QString& path) {
    FileReader reader(path);
    TextBuffer bytes;
    const qint64 size = reader.size();
    bytes.reserve(size > 0 ? size_t(size) + 1 : 65536);
    for (;;) {
        if (bytes.size() == bytes.capacity()) bytes.reserve(bytes.capacity() * 2);
        const size_t got = reader.readInto(bytes.data() + bytes.size(), bytes.capacity() - bytes.size());
        if (got == 0) break;
        bytes.resize(bytes.size() + got);
    }
    return bytes;
}

TextBuffer readWholeFile(const QString& path) {
    // A file that changes while it is read is read again, so no run sees a
    // mixture of two versions.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QFileInfo before(path);
        TextBuffer bytes;
        try {
            bytes = readFileOnce(path);
        } catch (const FileError& e) {
            throw Error(QStringLiteral("テーブルのファイル \"%1\" を読めません: %2").arg(path, e.reason()));
        }
        const QFileInfo after(path);
        if (before.size() == after.size() && before.lastModified() == after.lastModified() &&
            after.size() == qint64(bytes.size()))
            return bytes;
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
    table->data_ = parseCsv(textBufferOf(utf8), path);
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
    orders_.resize(width);
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

namespace {

// Text: rank the distinct spellings once, then place rows by rank, so a
// column of a few values costs one pass, not a full comparison sort.
std::vector<uint32_t> orderOfText(const CsvTable& table, size_t column) {
    std::unordered_map<std::string_view, uint32_t> ids;
    std::vector<std::string_view> spellings;
    std::vector<uint32_t> idOfRow(table.rowCount());
    size_t nulls = 0;
    for (size_t r = 0; r < table.rowCount(); ++r) {
        const auto f = table.field(r, column);
        if (!f || f->empty()) {
            idOfRow[r] = UINT32_MAX;
            ++nulls;
            continue;
        }
        const auto [it, added] = ids.try_emplace(*f, uint32_t(spellings.size()));
        if (added) spellings.push_back(*f);
        idOfRow[r] = it->second;
    }
    std::vector<uint32_t> byRank(spellings.size());
    for (uint32_t i = 0; i < byRank.size(); ++i) byRank[i] = i;
    std::sort(byRank.begin(), byRank.end(), [&](uint32_t a, uint32_t b) {
        return compareIgnoringCase(spellings[a], spellings[b]) < 0;
    });
    std::vector<uint32_t> rankOfId(spellings.size());
    for (uint32_t rank = 0; rank < byRank.size(); ++rank) rankOfId[byRank[rank]] = rank;
    std::vector<uint32_t> start(spellings.size() + 1, 0);
    for (const uint32_t id : idOfRow)
        if (id != UINT32_MAX) ++start[rankOfId[id] + 1];
    for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    std::vector<uint32_t> order(table.rowCount());
    size_t nextNull = 0;
    for (uint32_t r = 0; r < idOfRow.size(); ++r) {
        if (idOfRow[r] == UINT32_MAX) order[nextNull++] = r;
        else order[nulls + start[rankOfId[idOfRow[r]]]++] = r;
    }
    return order;
}

template <typename Key>
std::vector<uint32_t> orderByKey(const CsvTable& table, size_t column, Key keyOf) {
    using K = decltype(keyOf(std::string_view()));
    std::vector<std::pair<K, uint32_t>> keyed;
    std::vector<uint32_t> order;
    order.reserve(table.rowCount());
    keyed.reserve(table.rowCount());
    for (size_t r = 0; r < table.rowCount(); ++r) {
        const auto f = table.field(r, column);
        if (!f || f->empty()) order.push_back(uint32_t(r));  // nulls sort first
        else keyed.emplace_back(keyOf(*f), uint32_t(r));
    }
    std::sort(keyed.begin(), keyed.end());
    for (const auto& k : keyed) order.push_back(k.second);
    return order;
}

}  // namespace

const std::vector<uint32_t>& CsvTable::rowsInOrder(size_t column) const {
    std::lock_guard lock(indexLock_);
    std::unique_ptr<std::vector<uint32_t>>& order = orders_[column];
    if (!order) {
        switch (types_[column]) {
        case ColumnType::Integer:
            order = std::make_unique<std::vector<uint32_t>>(
                orderByKey(*this, column, [](std::string_view f) { return parseInteger(f).value_or(0); }));
            break;
        case ColumnType::Real:
            order = std::make_unique<std::vector<uint32_t>>(
                orderByKey(*this, column, [](std::string_view f) { return parseReal(f).value_or(0); }));
            break;
        case ColumnType::Date:
        case ColumnType::DateTime:
            order = std::make_unique<std::vector<uint32_t>>(
                orderByKey(*this, column, [](std::string_view f) { return parseDateTime(f); }));
            break;
        case ColumnType::Text: order = std::make_unique<std::vector<uint32_t>>(orderOfText(*this, column)); break;
        }
    }
    return *order;
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
