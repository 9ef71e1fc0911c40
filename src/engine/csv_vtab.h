// The SQLite virtual table over a loaded CsvTable: values are typed as the
// column's inferred type, text columns compare ignoring case, and equality
// on a column is answered from its index, so joins on a key stay fast.
#pragma once

#include "csv/csv_table.h"

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <functional>
#include <sqlite3.h>

namespace tarlo {

// Finds the table that CREATE VIRTUAL TABLE ... USING tarlo_csv names.
using TableLookup = std::function<std::shared_ptr<const CsvTable>(const std::string& name)>;

// What the module reaches of its connection: its tables, the flag an
// interrupt sets, which the first build of an index or order listens to,
// where the rows its scans go through are counted and the share of a file
// read in pieces told (for progress; none when null), and whether SQLite, while it prepared a statement, was
// offered a way to read a table other than one scan in the table's order.
struct CsvModuleHost {
    TableLookup* find = nullptr;
    const std::atomic<bool>* interrupted = nullptr;
    std::atomic<uint64_t>* rowsVisited = nullptr;
    std::atomic<double>* piecesRead = nullptr;  // a file read in pieces: the share of it read
    bool orderOffered = false;  // set by the module; reset before each prepare
};

// Registers the module "tarlo_csv" and the collation on db. The host must
// outlive db.
void registerCsvModule(sqlite3* db, CsvModuleHost* host);

// Whether the statement, prepared on db, reads its one table by a single
// plain scan, which gives the rows in the table's order (a lookup by an In
// list, an order or a union of lookups would not). It prepares the
// statement again, to explain it: ask only when a lookup or an order was
// offered.
bool readsInRowOrder(sqlite3* db, const QByteArray& statement);

// The CREATE VIRTUAL TABLE declaration's column list for a table.
std::string declareColumns(const CsvTable& table);

}  // namespace tarlo
