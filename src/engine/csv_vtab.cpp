#include "engine/csv_vtab.h"

#include "csv/pieced_file.h"
#include "dialect/sql_quote.h"
#include "values/case_folding.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarlo {

namespace {

struct CsvVtab {
    sqlite3_vtab base{};
    std::shared_ptr<const CsvTable> table;
    const std::atomic<bool>* interrupted = nullptr;
    std::atomic<uint64_t>* rowsVisited = nullptr;
    std::atomic<double>* piecesRead = nullptr;
    bool* orderOffered = nullptr;
};

// A cursor adds to the shared count once in so many rows: one atomic add
// a row would cost every scan a locked instruction.
constexpr uint32_t kVisitBatch = 4096;

struct CsvCursor {
    sqlite3_vtab_cursor base{};
    size_t position = 0;                        // index into rows, or the row itself in a scan
    const std::vector<uint32_t>* rows = nullptr;  // an index lookup's rows
    bool scanning = true;
    bool descending = false;
    bool empty = false;
    uint32_t visited = 0;  // rows not yet added to the shared count
    std::string scratch;
    // A file read in pieces: the piece at hand (null past the last), position its row.
    std::shared_ptr<const CsvTable> piece;
    size_t pieceIndex = 0;

    size_t row() const {
        if (scanning) return position;
        return (*rows)[descending ? rows->size() - 1 - position : position];
    }
};

int xConnect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** err) {
    auto* host = static_cast<CsvModuleHost*>(aux);
    std::shared_ptr<const CsvTable> table = argc >= 3 ? (*host->find)(argv[2]) : nullptr;
    if (!table) {
        *err = sqlite3_mprintf("no table behind %s", argc >= 3 ? argv[2] : "?");
        return SQLITE_ERROR;
    }
    const std::string schema = "CREATE TABLE x(" + declareColumns(*table) + ")";
    if (const int rc = sqlite3_declare_vtab(db, schema.c_str()); rc != SQLITE_OK) return rc;
    auto* vtab = new CsvVtab;
    vtab->table = std::move(table);
    vtab->interrupted = host->interrupted;
    vtab->rowsVisited = host->rowsVisited;
    vtab->piecesRead = host->piecesRead;
    vtab->orderOffered = &host->orderOffered;
    *out = &vtab->base;
    return SQLITE_OK;
}

int xDisconnect(sqlite3_vtab* vtab) {
    delete reinterpret_cast<CsvVtab*>(vtab);
    return SQLITE_OK;
}

// idxNum: 0 a plain scan; kLookup | column an equality lookup; kOrdered |
// column (| kDescending) a scan in the column's order, which spares the
// engine its sort for ORDER BY and GROUP BY on one column.
constexpr int kLookup = 1 << 20;
constexpr int kOrdered = 1 << 21;
constexpr int kDescending = 1 << 22;
constexpr int kColumnMask = (1 << 20) - 1;

int xBestIndex(sqlite3_vtab* base, sqlite3_index_info* info) {
    const auto* vtab = reinterpret_cast<CsvVtab*>(base);
    const PiecedFile* pieces = vtab->table->pieces();
    const double rows = double(std::max<size_t>(pieces ? pieces->rowCount() : vtab->table->rowCount(), 1));
    info->idxNum = 0;
    info->estimatedCost = rows;
    info->estimatedRows = sqlite3_int64(rows);
    if (pieces) return SQLITE_OK;  // no index, no order: one scan, a piece at a time
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (!c.usable || c.op != SQLITE_INDEX_CONSTRAINT_EQ || c.iColumn < 0) continue;
        // Only a superset is returned: SQLite checks the constraint again.
        info->idxNum = kLookup | c.iColumn;
        info->aConstraintUsage[i].argvIndex = 1;
        info->aConstraintUsage[i].omit = 0;
        // A scanned row costs 1. A lookup costs a probe and its rows; those
        // of a table too big for the cache are reached out of order, each a
        // miss on every column read, so a large table joined on a column
        // that repeats is better scanned with its masters looked up.
        const CsvTable::KeySpread spread = vtab->table->keySpreadOf(size_t(c.iColumn));
        const double perRow = rows > double(CsvTable::kExactSpreadRows) ? 8 : 1;
        info->estimatedCost = 1 + spread.rowsPerKey * perRow;
        info->estimatedRows = sqlite3_int64(std::max(1.0, std::round(spread.rowsPerKey)));
        if (spread.unique) info->idxFlags |= SQLITE_INDEX_SCAN_UNIQUE;
        // Rows that share one key are in any column's order by that key.
        // The fallback scan then keeps that order too.
        if (info->nOrderBy == 1 && info->aOrderBy[0].iColumn == c.iColumn) {
            info->orderByConsumed = 1;
            info->idxNum |= kOrdered | (info->aOrderBy[0].desc ? kDescending : 0);
        }
        *vtab->orderOffered = true;
        return SQLITE_OK;
    }
    if (info->nOrderBy == 1 && info->aOrderBy[0].iColumn >= 0) {
        info->idxNum = kOrdered | (info->aOrderBy[0].desc ? kDescending : 0) | info->aOrderBy[0].iColumn;
        info->orderByConsumed = 1;
        *vtab->orderOffered = true;
    }
    return SQLITE_OK;
}

int xOpen(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
    *out = &(new CsvCursor)->base;
    return SQLITE_OK;
}

int xClose(sqlite3_vtab_cursor* cursor) {
    delete reinterpret_cast<CsvCursor*>(cursor);
    return SQLITE_OK;
}

// A key no value of the column has.
constexpr char kNoMatch[] = "\x01no match";

// A text value's bytes as they are. sqlite3_value_text would first copy a
// text from xColumn (not ended by NUL) to end it so, once for every row
// that probes a lookup; a text read as a blob keeps its type and bytes.
std::string_view bytesOfText(sqlite3_value* value) {
    const auto* bytes = static_cast<const char*>(sqlite3_value_blob(value));
    const size_t size = size_t(sqlite3_value_bytes(value));  // after the blob read, so no copy
    return {bytes ? bytes : "", size};
}

// The key an equality value is looked up under in the column's index, or
// nothing when the value's form leaves doubt (the scan decides then).
std::optional<std::string> lookupKey(const CsvTable& table, size_t column, sqlite3_value* value) {
    const int type = sqlite3_value_type(value);
    switch (table.columnTypes()[column]) {
    case ColumnType::Integer:
        if (type == SQLITE_INTEGER) return std::to_string(sqlite3_value_int64(value));
        if (type == SQLITE_FLOAT) {
            // A whole real in 64 bits equals exactly one integer (1e16 = 10000000000000000).
            const double d = sqlite3_value_double(value);
            if (d == std::floor(d) && d >= -0x1p63 && d < 0x1p63) return std::to_string(int64_t(d));
            return std::string(kNoMatch);
        }
        return std::nullopt;
    case ColumnType::Real:
        if (type == SQLITE_FLOAT) return CsvTable::realKey(sqlite3_value_double(value));
        if (type == SQLITE_INTEGER) {
            // An integer no double holds exactly equals no real value.
            const int64_t i = sqlite3_value_int64(value);
            const double d = double(i);
            if (d >= 0x1p63 || int64_t(d) != i) return std::string(kNoMatch);
            return CsvTable::realKey(d);
        }
        return std::nullopt;
    case ColumnType::Date:
    case ColumnType::DateTime:
        if (type == SQLITE_TEXT) {
            if (const auto date = readDateText(bytesOfText(value))) return std::to_string(date->packed);
        }
        return std::nullopt;
    case ColumnType::Time:
        if (type == SQLITE_TEXT) {
            if (const auto time = readTimeText(bytesOfText(value))) return std::to_string(*time);
        }
        return std::nullopt;
    case ColumnType::Text:
        if (type == SQLITE_TEXT) {
            return foldCase(bytesOfText(value));
        }
        return std::nullopt;
    }
    return std::nullopt;
}

int filter(sqlite3_vtab_cursor* base, int idxNum, int argc, sqlite3_value** argv);

// The first piece from index on that holds a row, or none past the last.
void readPieceFrom(CsvCursor* cursor, const CsvVtab* vtab, size_t index) {
    const PiecedFile& pieces = *vtab->table->pieces();
    cursor->piece.reset();  // let go before the next is read
    cursor->position = 0;
    for (cursor->pieceIndex = index; cursor->pieceIndex < pieces.pieceCount(); ++cursor->pieceIndex) {
        if (vtab->piecesRead) vtab->piecesRead->store(pieces.shareBefore(cursor->pieceIndex), std::memory_order_relaxed);
        cursor->piece = pieces.piece(cursor->pieceIndex, vtab->interrupted);
        if (cursor->piece->rowCount() > 0) return;
    }
    cursor->piece.reset();
}

// A piece's failure as SQLite's: an interrupt, or an error with the message.
template <typename Work>
int reading(sqlite3_vtab_cursor* base, Work work) {
    try {
        return work();
    } catch (const Cancelled&) {
        return SQLITE_INTERRUPT;
    } catch (const Error& e) {
        sqlite3_free(base->pVtab->zErrMsg);
        base->pVtab->zErrMsg = sqlite3_mprintf("%s", e.message().toUtf8().constData());
        return SQLITE_ERROR;
    }
}

// A first index or order build that hears the interrupt ends the statement as an interrupt does.
int xFilter(sqlite3_vtab_cursor* base, int idxNum, const char*, int argc, sqlite3_value** argv) {
    return reading(base, [&] { return filter(base, idxNum, argc, argv); });
}

int filter(sqlite3_vtab_cursor* base, int idxNum, int argc, sqlite3_value** argv) {
    auto* cursor = reinterpret_cast<CsvCursor*>(base);
    const auto* vtab = reinterpret_cast<CsvVtab*>(base->pVtab);
    const CsvTable& table = *vtab->table;
    cursor->position = 0;
    cursor->scanning = true;
    cursor->descending = false;
    cursor->empty = false;
    if (table.pieces()) {
        readPieceFrom(cursor, vtab, 0);
        cursor->empty = !cursor->piece;
        return SQLITE_OK;
    }
    const size_t column = size_t(idxNum & kColumnMask);
    if ((idxNum & kLookup) && argc == 1) {
        if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
            cursor->empty = true;  // "= NULL" is never true
            return SQLITE_OK;
        }
        if (const auto key = lookupKey(table, column, argv[0])) {
            cursor->rows = table.rowsWithKey(column, *key, vtab->interrupted);
            cursor->scanning = false;
            cursor->empty = cursor->rows == nullptr;
            return SQLITE_OK;
        }
    }
    if (idxNum & kOrdered) {
        cursor->rows = &table.rowsInOrder(column, vtab->interrupted);
        cursor->scanning = false;
        cursor->descending = (idxNum & kDescending) != 0;
    }
    return SQLITE_OK;
}

int xNext(sqlite3_vtab_cursor* base) {
    auto* cursor = reinterpret_cast<CsvCursor*>(base);
    ++cursor->position;
    if (++cursor->visited == kVisitBatch) {
        cursor->visited = 0;
        if (auto* count = reinterpret_cast<CsvVtab*>(base->pVtab)->rowsVisited)
            count->fetch_add(kVisitBatch, std::memory_order_relaxed);
    }
    if (cursor->piece && cursor->position >= cursor->piece->rowCount())
        return reading(base, [&] {
            readPieceFrom(cursor, reinterpret_cast<CsvVtab*>(base->pVtab), cursor->pieceIndex + 1);
            return SQLITE_OK;
        });
    return SQLITE_OK;
}

int xEof(sqlite3_vtab_cursor* base) {
    const auto* cursor = reinterpret_cast<CsvCursor*>(base);
    if (cursor->empty) return 1;
    if (reinterpret_cast<CsvVtab*>(base->pVtab)->table->pieces()) return !cursor->piece;
    if (!cursor->scanning) return cursor->position >= cursor->rows->size();
    return cursor->position >= reinterpret_cast<CsvVtab*>(base->pVtab)->table->rowCount();
}

int xColumn(sqlite3_vtab_cursor* base, sqlite3_context* ctx, int column) {
    auto* cursor = reinterpret_cast<CsvCursor*>(base);
    const CsvTable& table = cursor->piece ? *cursor->piece : *reinterpret_cast<CsvVtab*>(base->pVtab)->table;
    const ColumnType type = table.columnTypes()[size_t(column)];
    const Cell cell = table.cell(cursor->row(), size_t(column));
    if (table.isNull(size_t(column), cell)) return SQLITE_OK;
    switch (type) {
    case ColumnType::Integer: sqlite3_result_int64(ctx, cell.integer); break;
    case ColumnType::Real: sqlite3_result_double(ctx, cell.real); break;
    case ColumnType::Date:
    case ColumnType::DateTime:
    case ColumnType::Time:
        cursor->scratch = momentText(type, cell.integer);
        sqlite3_result_text(ctx, cursor->scratch.data(), int(cursor->scratch.size()), SQLITE_TRANSIENT);
        break;
    case ColumnType::Text: {
        // The table outlives every statement that reads it.
        const std::string_view text = table.textOf(cell);
        sqlite3_result_text(ctx, text.data(), int(text.size()), SQLITE_STATIC);
        break;
    }
    }
    return SQLITE_OK;
}

int xRowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid) {
    const auto* cursor = reinterpret_cast<CsvCursor*>(base);
    const size_t before = cursor->piece ? reinterpret_cast<CsvVtab*>(base->pVtab)->table->pieces()->firstRowOf(cursor->pieceIndex) : 0;
    *rowid = sqlite3_int64(before + cursor->row()) + 1;
    return SQLITE_OK;
}

int noCaseCompare(void*, int n1, const void* a, int n2, const void* b) {
    return compareIgnoringCase({static_cast<const char*>(a), size_t(n1)}, {static_cast<const char*>(b), size_t(n2)});
}

sqlite3_module makeModule() {
    sqlite3_module m{};
    m.iVersion = 1;
    m.xCreate = xConnect;
    m.xConnect = xConnect;
    m.xBestIndex = xBestIndex;
    m.xDisconnect = xDisconnect;
    m.xDestroy = xDisconnect;
    m.xOpen = xOpen;
    m.xClose = xClose;
    m.xFilter = xFilter;
    m.xNext = xNext;
    m.xEof = xEof;
    m.xColumn = xColumn;
    m.xRowid = xRowid;
    return m;
}

const sqlite3_module kModule = makeModule();

}  // namespace

bool readsInRowOrder(sqlite3* db, const QByteArray& statement) {
    const QByteArray explain = "EXPLAIN QUERY PLAN " + statement;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, explain.constData(), int(explain.size()), &stmt, nullptr) != SQLITE_OK || !stmt) {
        sqlite3_finalize(stmt);
        return false;
    }
    int steps = 0;
    bool inOrder = false;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        // "SCAN t VIRTUAL TABLE INDEX 1048578:" with the index number xBestIndex chose.
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3));
        const std::string detail = text ? text : "";
        const size_t at = detail.find(" VIRTUAL TABLE INDEX ");
        // A lookup gives row order for one key, but an In list looks up
        // each of its keys in turn; only the plain scan is sure.
        inOrder = ++steps == 1 && detail.rfind("SCAN ", 0) == 0 && at != std::string::npos &&
                  std::atoi(detail.c_str() + at + 21) == 0;
    }
    sqlite3_finalize(stmt);
    return inOrder && steps == 1;
}

std::string declareColumns(const CsvTable& table) {
    std::string out;
    for (size_t c = 0; c < table.columnCount(); ++c) {
        if (c) out += ", ";
        out += quotedName(QString::fromStdString(table.columnNames()[c])).toStdString();
        switch (table.columnTypes()[c]) {
        case ColumnType::Integer: out += " INTEGER"; break;
        case ColumnType::Real: out += " REAL"; break;
        case ColumnType::Date:
        case ColumnType::DateTime:
        case ColumnType::Time: out += " TEXT"; break;
        case ColumnType::Text: out += std::string(" TEXT COLLATE ") + kNoCaseCollation; break;
        }
    }
    return out;
}

void registerCsvModule(sqlite3* db, CsvModuleHost* host) {
    sqlite3_create_module_v2(db, "tarlo_csv", &kModule, host, nullptr);
    sqlite3_create_collation_v2(db, kNoCaseCollation, SQLITE_UTF8, nullptr, noCaseCompare, nullptr);
}

}  // namespace tarlo
