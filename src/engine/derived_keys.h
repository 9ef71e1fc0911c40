// Group keys and conditions worked out of one column (GROUP BY Month(d),
// Format(d, 'yyyy/mm'), Left(code, 2); WHERE Year(d) = 2024): the
// expression is run by SQLite once for each distinct value of the column,
// so it calls the very functions the row by row statement calls, and the
// keys are ranked as SQLite's GROUP BY ranks them.
#pragma once

#include "engine/column_plan.h"

#include <QString>

#include <atomic>
#include <optional>

struct sqlite3;

namespace tarlo {

// The column an expression reads, by name, and the name the expression's
// text gives its table ("" where it names the column alone).
struct ReadColumn {
    size_t column = 0;
    QString table;
};

// expression: the key as written for SQLite, reading the column by name;
// noCase: texts group ignoring case (the key's collation). Nothing where a
// value gives an error, a blob, or two keys alike but not the same (SQLite
// would show whichever row it met first). Throws Cancelled once stop is set.
std::optional<DerivedKey> deriveKeys(sqlite3* db, const QString& expression, const CsvTable& table, const ReadColumn& read,
                                     bool noCase, const std::atomic<bool>* stop);

// condition: a condition as written for SQLite, reading the column by name.
// By the column's value code: 1 where it holds, 0 where it does not, 2
// where it is null; nothing as above.
std::optional<std::vector<uint8_t>> deriveTruths(sqlite3* db, const QString& condition, const CsvTable& table,
                                                 const ReadColumn& read, const std::atomic<bool>* stop);

}  // namespace tarlo
