// A table made of other tables' columns, row by row as a join pairs their
// rows, so everything that runs over one table runs over joined files.
#include "csv/csv_table.h"

#include "platform/error.h"
#include "platform/parallel.h"

namespace tarlo {

namespace {

void listenTo(const std::atomic<bool>* stop, size_t step) {
    if ((step & 0xFFFF) == 0 && stop && stop->load(std::memory_order_relaxed)) throw Cancelled{};
}

}  // namespace

std::shared_ptr<const CsvTable> CsvTable::gathered(const std::vector<Gathered>& columns, size_t rowCount,
                                                   const std::atomic<bool>* stop) {
    if (rowCount > kMaxRows) throw Error(QStringLiteral("結合した行が多すぎます。"));
    auto out = std::shared_ptr<CsvTable>(new CsvTable);
    out->path_ = columns.empty() ? QString() : columns[0].table->path_;
    out->rows_ = rowCount;
    const size_t width = columns.size();
    out->columns_.resize(width);
    out->spellings_.resize(width);
    for (const Gathered& g : columns) {
        out->names_.push_back(g.name);
        out->types_.push_back(g.table->types_[g.column]);
        out->nullIntegers_.push_back(g.table->nullIntegers_[g.column]);
    }
    std::vector<const ValueCodes*> sourceCodes(width);
    for (size_t c = 0; c < width; ++c) {
        const Gathered& g = columns[c];
        if (g.table->types_[g.column] == ColumnType::Real) continue;
        sourceCodes[c] = g.codes ? &g.table->codesOf(g.column, stop) : g.table->builtCodesOf(g.column);
    }
    // A coded column's values are made once a code: a text's spelling is
    // copied into the table's text once, however many rows take it.
    std::vector<TextBuffer> texts(width);
    std::vector<std::vector<Cell>> cellOfCode(width);
    for (size_t c = 0; c < width; ++c) {
        const ValueCodes* source = sourceCodes[c];
        if (!source) continue;
        cellOfCode[c] = source->cellOfCode;
        if (out->types_[c] != ColumnType::Text) continue;
        const CsvTable& from = *columns[c].table;
        for (Cell& cell : cellOfCode[c]) {
            if (cell.text.length() == 0 || cell.text.length() == kMissing) continue;
            const uint64_t at = texts[c].size();
            texts[c].append(from.text_.data() + cell.text.offset(), cell.text.length());
            cell.text = FieldRef(at, cell.text.length());
        }
    }
    // Coded columns a share of the rows on each core, their codes and cells
    // at once; the others a column a job. A text column without codes copies
    // each source row's text once, however many rows pair with it.
    const size_t parts = rowCount < 100000 ? 1 : coreCount();
    std::vector<std::vector<std::vector<uint8_t>>> seen(width);  // by column, part and code: a row took it
    std::vector<LargeArray<uint32_t>> wide(width);
    std::vector<size_t> uncoded;
    for (size_t c = 0; c < width; ++c) {
        out->columns_[c].cells.resize(rowCount);
        if (!sourceCodes[c]) {
            uncoded.push_back(c);
            continue;
        }
        wide[c].resize(rowCount);
        seen[c].assign(parts, std::vector<uint8_t>(sourceCodes[c]->width));
    }
    onThreads(parts, parts, [&](size_t p) {
        for (size_t c = 0; c < width; ++c) {
            const ValueCodes* source = sourceCodes[c];
            if (!source) continue;
            const uint32_t* rows = columns[c].rows;
            const Cell* values = cellOfCode[c].data();
            Cell* cells = out->columns_[c].cells.data();
            uint32_t* codes = wide[c].data();
            uint8_t* took = seen[c][p].data();
            for (size_t r = rowCount * p / parts, end = rowCount * (p + 1) / parts; r < end; ++r) {
                listenTo(stop, r);
                const uint32_t code = rows[r] == kNoRow ? 0 : source->codes[rows[r]];
                codes[r] = code;
                cells[r] = values[code];
                took[code] = 1;
            }
        }
    });
    onThreads(uncoded.size(), coreCount(), [&](size_t k) {
        const size_t c = uncoded[k];
        const Gathered& g = columns[c];
        const CsvTable& from = *g.table;
        const ColumnType type = from.types_[g.column];
        LargeArray<Cell>& cells = out->columns_[c].cells;
        const uint32_t* rows = g.rows;
        if (type != ColumnType::Text) {
            for (size_t r = 0; r < rowCount; ++r) {
                listenTo(stop, r);
                cells[r] = rows[r] == kNoRow ? from.nullCellOf(g.column) : from.cell(rows[r], g.column);
            }
            return;
        }
        constexpr uint64_t kNotCopied = UINT64_MAX;
        std::vector<uint64_t> copiedAt(from.rowCount(), kNotCopied);
        TextBuffer& text = texts[c];
        for (size_t r = 0; r < rowCount; ++r) {
            listenTo(stop, r);
            const uint32_t source = rows[r];
            const Cell value = source == kNoRow ? nullCell(type) : from.cell(source, g.column);
            if (value.text.length() == 0 || value.text.length() == kMissing) {
                cells[r] = value;
                continue;
            }
            if (copiedAt[source] == kNotCopied) {
                copiedAt[source] = text.size();
                text.append(from.text_.data() + value.text.offset(), value.text.length());
            }
            cells[r].text = FieldRef(copiedAt[source], value.text.length());
        }
    });
    for (size_t c = 0; c < width; ++c) {
        const Gathered& g = columns[c];
        if (g.table->spellings_[g.column]) out->spellings_[c] = std::make_unique<Spellings>(*g.table->spellings_[g.column]);
    }
    // The texts after one another; each column's slices moved past those before.
    std::vector<uint64_t> base(width, 0);
    for (size_t c = 0; c < width; ++c) {
        if (out->types_[c] != ColumnType::Text) continue;
        base[c] = out->text_.size();
        out->text_.append(texts[c].data(), texts[c].size());
        texts[c] = TextBuffer();
    }
    onThreads(width, coreCount(), [&](size_t c) {
        if (base[c] == 0) return;
        LargeArray<Cell>& cells = out->columns_[c].cells;
        for (size_t r = 0; r < rowCount; ++r) {
            const FieldRef f = cells[r].text;
            if (f.length() != 0 && f.length() != kMissing) cells[r].text = FieldRef(f.offset() + base[c], f.length());
        }
        for (Cell& cell : cellOfCode[c])
            if (cell.text.length() != 0 && cell.text.length() != kMissing) cell.text = FieldRef(cell.text.offset() + base[c], cell.text.length());
    });
    // The sources' codes, row by row as gathered; a code no row took keeps a
    // null cell and never shows, so nothing is ever worked out of its value.
    out->codes_.resize(width);
    for (size_t c = 0; c < width; ++c) {
        const ValueCodes* source = sourceCodes[c];
        if (!source) continue;
        auto codes = std::make_unique<ValueCodes>();
        codes->width = source->width;
        codes->caseTwins = source->caseTwins;
        codes->cellOfCode = std::move(cellOfCode[c]);
        for (uint32_t code = 0; code < source->width; ++code) {
            bool took = false;
            for (size_t p = 0; p < parts && !took; ++p) took = seen[c][p][code];
            if (!took) codes->cellOfCode[code] = out->nullCellOf(c);
        }
        codes->codes = CodeArray(std::move(wide[c]), source->width);
        out->codes_[c] = std::move(codes);
    }
    out->indexes_.resize(width);
    out->spreads_.resize(width);
    out->orders_.resize(width);
    out->bitRanges_.resize(width);
    out->hasNulls_.resize(width);
    out->fewIntegers_.resize(width);
    return out;
}

}  // namespace tarlo
