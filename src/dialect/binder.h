// The typed view of a statement: the kind of each operand (from the tables'
// columns, the literals and the functions' results) decides how each
// operator keeps the old engine's meaning, before SQLite sees it:
// - a number and a text compare as numbers, a date and a text or a number
//   as dates; a text that reads as neither is refused;
// - texts compare, sort, group and take Min and Max ignoring case, whatever
//   expression gives them;
// - Sum, Avg, arithmetic and numeric functions read a text as a number,
//   or refuse it, and refuse a date;
// - a truth used as a value is -1 or 0.
// Plain forms SQLite already reads the same way stay as written, so lookups
// and ordered scans still serve them.
#pragma once

#include "dialect/source_map.h"
#include "values/value_kind.h"

#include <QString>

#include <functional>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarlo {

struct BoundTable {
    QString name;  // as the statement names it
    std::vector<std::pair<QString, ValueKind>> columns;
};

// A function whose arguments are all numbers: the binder has a text read
// as one by our rules (or refused, naming its column, value and line) and a
// date refused, where SQLite's own would read "1,234" as 1 and a date as its
// year. A literal is left to a function that checks its arguments itself,
// so its refusal names it.
enum class NumberArguments { Any, CheckedByIt, Loose };

// The fewest and most arguments a function takes.
struct ArgumentCount {
    int least, most;
};

// How a function's result takes its kind: its own, its first argument's
// (Min, First), or its arguments' where they agree (Nz, Coalesce).
enum class ResultRule { Fixed, FirstArgument, SharedByArguments };

// What the typed view needs of a function (the function catalogue's row).
struct FunctionFacts {
    ValueKind result = ValueKind::Unknown;
    ResultRule rule = ResultRule::Fixed;
    NumberArguments numbers = NumberArguments::Any;
    int numberArgument = -1;  // the one argument numbers applies to (lag's offset); -1: every one
    // Refused where the call stands when another count is given.
    std::optional<ArgumentCount> count;
    bool textRule = false;  // a text argument compares ignoring case (Min, Max)
};

// A column name as the statement's scopes resolve it: a file's column,
// or a field of a subquery or CTE (table -1), with its kind.
struct ScopedName {
    ValueKind kind = ValueKind::Unknown;
    int table = -1;  // into Catalog::tables, for a file's column
    QString column;  // the file's spelling of it
};

struct Catalog {
    std::vector<BoundTable> tables;
    // Nothing for a name the catalogue has no row of.
    std::function<std::optional<FunctionFacts>(const QString& function)> function;
    // The names the tree resolved, by the place of the name's token in the
    // user's text; a name not here is looked up in every table of the
    // statement. A #date# literal is here too, as a Date.
    std::unordered_map<qsizetype, ScopedName> names;
};

// Throws PlacedError for a literal that can never be compared with its
// operand, naming both.
MappedText bindTypes(const MappedText& sql, const Catalog& catalog);
inline QString bindTypes(const QString& sql, const Catalog& catalog) {
    return bindTypes(MappedText::original(sql), catalog).text();
}

}  // namespace tarlo
