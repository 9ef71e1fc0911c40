// The typed view of a statement: the kind of each operand (from the tables'
// columns, the literals and the functions' results) decides how each
// operator keeps the old engine's meaning, before SQLite sees it:
// - a number and a text compare as numbers, a date and a text or a number
//   as dates; a text that reads as neither is refused;
// - texts compare, sort, group and take Min and Max ignoring case, whatever
//   expression gives them;
// - Sum, Avg and arithmetic read a text as a number, or refuse it;
// - a truth used as a value is -1 or 0.
// Plain forms SQLite already reads the same way stay as written, so lookups
// and ordered scans still serve them.
#pragma once

#include "values/value_kind.h"

#include <QString>

#include <functional>
#include <utility>
#include <vector>

namespace tarlo {

struct BoundTable {
    QString name;  // as the statement names it
    std::vector<std::pair<QString, ValueKind>> columns;
};

struct Catalog {
    std::vector<BoundTable> tables;
    std::function<ValueKind(const QString& function)> resultOf;
};

// Throws Error for a literal that can never be compared with its operand,
// naming both.
QString bindTypes(const QString& sql, const Catalog& catalog);

}  // namespace tarlo
