// Grouped statements over a file read in pieces, on the column path: each
// piece is planned and grouped as a table of its own, and its groups'
// totals are added to the file's, found by their keys' values. Only the
// groups and one piece stand in memory, never the whole file.
#pragma once

#include "csv/pieced_file.h"
#include "engine/column_run.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace tarlo {

// A piece's plan, with the table it reads (the piece, or the piece joined
// with other files).
struct PlannedPiece {
    ColumnPlan plan;
    std::shared_ptr<const CsvTable> table;
};
using PiecePlanner = std::function<std::optional<PlannedPiece>(const std::shared_ptr<const CsvTable>& piece)>;

struct PiecedRows {
    ColumnRows rows;
    std::optional<size_t> crosstabHeadings;  // as the plan's
};

// The statement's rows, or nothing where SQLite answers it: a piece the
// column path does not take or plans otherwise, keys equal but for case,
// more groups than mostGroupBytes holds. share hears the share of the file
// read. Throws Cancelled once stop is set, and Error as reading a piece does.
// Each piece is read with the columns of wish.
std::optional<PiecedRows> runOnPieces(const PiecedFile& file, const ColumnWish& wish, const PiecePlanner& planFor,
                                      size_t mostGroupBytes, std::atomic<double>* share, const std::atomic<bool>* stop);

}  // namespace tarlo
