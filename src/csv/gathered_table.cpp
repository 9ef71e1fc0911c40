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
    }
    std::vector<const ValueCodes*> sourceCodes(width);
    for (size_t c = 0; c < width; ++c) {
        const Gathered& g = columns[c];
        if (g.table->types_[g.column] == ColumnType::Real) continue;
        sourceCodes[c] = g.codes ? &g.table->codesOf(g.column, stop) : g.table->builtCodesOf(g.column);
    }
    // A column a job: a text column copies its texts into a buffer of its own, put after the others' below.
    std::vector<TextBuffer> texts(width);
    onThreads(width, coreCount(), [&](size_t c) {
        const Gathered& g = columns[c];
        const CsvTable& from = *g.table;
        const ColumnType type = from.types_[g.column];
        LargeArray<Cell>& cells = out->columns_[c].cells;
        cells.resize(rowCount);
        const std::vector<uint32_t>& rows = *g.rows;
        if (type != ColumnType::Text) {
            for (size_t r = 0; r < rowCount; ++r) {
                listenTo(stop, r);
                cells[r] = rows[r] == kNoRow ? nullCell(type) : from.cell(rows[r], g.column);
            }
            if (from.spellings_[g.column]) out->spellings_[c] = std::make_unique<Spellings>(*from.spellings_[g.column]);
            return;
        }
        // Each source row's text is copied once, however many rows pair with it.
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
        if (out->types_[c] != ColumnType::Text) continue;
        const uint64_t base = out->text_.size();
        out->text_.append(texts[c].data(), texts[c].size());
        texts[c] = TextBuffer();
        if (base == 0) continue;
        LargeArray<Cell>& cells = out->columns_[c].cells;
        for (size_t r = 0; r < rowCount; ++r) {
            const FieldRef f = cells[r].text;
            if (f.length() != 0 && f.length() != kMissing) cells[r].text = FieldRef(f.offset() + base, f.length());
        }
    }
    // The sources' codes, row by row as gathered; a code no row took keeps a null cell and never shows.
    out->codes_.resize(width);
    onThreads(width, coreCount(), [&](size_t c) {
        const ValueCodes* source = sourceCodes[c];
        if (!source) return;
        const std::vector<uint32_t>& rows = *columns[c].rows;
        const LargeArray<Cell>& cells = out->columns_[c].cells;
        auto codes = std::make_unique<ValueCodes>();
        codes->width = source->width;
        codes->caseTwins = source->caseTwins;
        codes->cellOfCode.assign(source->width, nullCell(out->types_[c]));
        std::vector<bool> seen(source->width);
        LargeArray<uint32_t> wide;
        wide.resize(rowCount);
        for (size_t r = 0; r < rowCount; ++r) {
            listenTo(stop, r);
            const uint32_t code = rows[r] == kNoRow ? 0 : source->codes[rows[r]];
            wide[r] = code;
            if (!seen[code]) seen[code] = true, codes->cellOfCode[code] = cells[r];
        }
        codes->codes = CodeArray(std::move(wide), source->width);
        out->codes_[c] = std::move(codes);
    });
    out->indexes_.resize(width);
    out->spreads_.resize(width);
    out->orders_.resize(width);
    out->bitRanges_.resize(width);
    out->hasNulls_.resize(width);
    out->fewIntegers_.resize(width);
    return out;
}

}  // namespace tarlo
