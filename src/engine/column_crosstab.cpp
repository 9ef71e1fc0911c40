#include "engine/column_crosstab.h"

#include "platform/error.h"
#include "values/case_folding.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace tarlo {

namespace {

using Kind = PathValue::Kind;
using Value = PivotedRows::Value;

// SQLite's ORDER BY over the values: null, then numbers by value, then texts ignoring case.
bool before(const Value& a, const Value& b) {
    const auto rank = [](Kind k) { return k == Kind::Null ? 0 : k == Kind::Text ? 2 : 1; };
    if (rank(a.kind) != rank(b.kind)) return rank(a.kind) < rank(b.kind);
    if (a.kind == Kind::Integer) {
        int64_t x = 0, y = 0;
        std::from_chars(a.shown.data(), a.shown.data() + a.shown.size(), x);
        std::from_chars(b.shown.data(), b.shown.data() + b.shown.size(), y);
        return x < y;
    }
    return a.kind == Kind::Text && compareIgnoringCase(a.shown, b.shown) < 0;
}

}  // namespace

std::optional<PivotedRows> pivotRows(ColumnRows grouped, size_t headings, const std::atomic<bool>* stop) {
    const size_t width = grouped.fieldCount;
    if (width != headings + 2) return std::nullopt;
    // Each group row: its heading's, its pivot value, its cell.
    struct Cell {
        size_t row, value;
        Kind kind;
        std::string shown;
    };
    PivotedRows out;
    std::vector<std::vector<std::pair<Kind, std::string>>> headingRows;
    std::vector<Cell> cells;
    std::map<std::pair<Kind, std::string>, size_t> valueAt;
    for (size_t p = 0; p < grouped.parts.size(); ++p) {
        grouped.ready(p);
        const RowPart& part = grouped.parts[p];
        for (size_t r = 0; r < grouped.rowsIn(p); ++r) {
            if (stop && stop->load(std::memory_order_relaxed)) throw Cancelled{};
            const size_t at = r * width;
            std::vector<std::pair<Kind, std::string>> heading;
            for (size_t f = 0; f < headings; ++f) {
                // Two reals may show alike: their groups could not be told apart here.
                if (part.kinds[at + f] == Kind::Real) return std::nullopt;
                heading.emplace_back(part.kinds[at + f], std::string(part.field(at + f)));
            }
            // Groups come by heading: a new heading starts a new row.
            if (headingRows.empty() || headingRows.back() != heading) headingRows.push_back(std::move(heading));
            const Kind pivotKind = part.kinds[at + headings];
            if (pivotKind == Kind::Real) return std::nullopt;
            const auto [found, added] =
                valueAt.emplace(std::pair(pivotKind, std::string(part.field(at + headings))), out.values.size());
            if (added) out.values.push_back({pivotKind, found->first.second});
            if (out.values.size() > kMostPivotValues) return std::nullopt;  // SQLite's path says so
            cells.push_back({headingRows.size() - 1, found->second, part.kinds[at + headings + 1],
                             std::string(part.field(at + headings + 1))});
        }
        grouped.done(p);
    }
    // The columns in the values query's order.
    std::vector<size_t> order(out.values.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return before(out.values[a], out.values[b]); });
    std::vector<size_t> columnOf(order.size());
    std::vector<Value> sorted;
    for (size_t i = 0; i < order.size(); ++i) columnOf[order[i]] = i, sorted.push_back(out.values[order[i]]);
    out.values = std::move(sorted);

    const size_t columns = out.values.size();
    std::vector<const Cell*> grid(headingRows.size() * columns, nullptr);
    for (const Cell& c : cells) grid[c.row * columns + columnOf[c.value]] = &c;
    out.rows.fieldCount = headings + columns;
    RowPart& part = out.rows.parts.emplace_back();
    for (size_t r = 0; r < headingRows.size(); ++r) {
        for (const auto& [kind, shown] : headingRows[r]) part.add(shown, kind);
        for (size_t c = 0; c < columns; ++c) {
            const Cell* cell = grid[r * columns + c];
            if (cell) part.add(cell->shown, cell->kind);
            else part.add(PathValue{});
        }
    }
    return out;
}

}  // namespace tarlo
