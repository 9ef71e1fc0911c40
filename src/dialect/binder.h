// The typed view of a statement's tree: the kind of each operand (from the
// tables' columns, the literals and the functions' results) decides how each
// operator keeps the old engine's meaning, before SQLite sees it:
// - a number and a text compare as numbers, a date and a text or a number
//   as dates; a text that reads as neither is refused;
// - texts compare, sort, group and take Min and Max ignoring case, whatever
//   expression gives them;
// - Sum, Avg, arithmetic and numeric functions read a text as a number,
//   or refuse it, and refuse a date;
// - a truth used as a value is -1 or 0.
// The binder decides on the tree and hands the SQL writer what to put in as
// it writes each node (Binding); plain forms SQLite already reads the same
// way stay as written, so lookups and ordered scans still serve them.
#pragma once

#include "dialect/source_map.h"
#include "dialect/syntax_tree.h"
#include "values/value_kind.h"

#include <QString>

#include <functional>
#include <map>
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
    // The names the tree's scopes resolved, by the place of the name's token
    // in the user's text; a name not here is looked up in every table of the
    // statement. A #date# literal is here too, as a Date, and an ORDER BY
    // ordinal or name of a time item, as a Time.
    std::unordered_map<qsizetype, ScopedName> names;
};

// What the binder decided, for the SQL writer to put in as it writes the
// tree: text around nodes, nodes and tokens written otherwise, and the names
// computed select items are given.
struct Binding {
    // What a wrap does, for a reader of the tree that does not read its text.
    enum class Meaning : uint8_t {
        NumberOf,   // the value read as a number when it runs (call::kNumberOf)
        DateOf,     // read as a date (call::kDateOf)
        Compare,    // the comparison made a call of kinds only the run knows
        NoCase,     // a text that compares ignoring case
        ByMoment,   // a time that compares by its moment
        TruthValue, // a truth as the value -1 or 0
        Other,
    };
    struct Wrap {
        QString before, after;
        Meaning meaning = Meaning::Other;
    };
    // Around a node, innermost first.
    std::unordered_map<syntax::NodeId, std::vector<Wrap>> wraps;
    // Around a chain's operands before its operator i ("a & b | c": a & b), by (chain, i).
    std::map<std::pair<syntax::NodeId, size_t>, Wrap> prefixes;
    // A node written as this text: a literal read as a number or a date, a range's ends in order.
    std::unordered_map<syntax::NodeId, QString> replaced;
    // A token written as this text: the words of a comparison made a call, Max(a, b) as ours.
    std::map<int, QString> tokens;
    // A select item's expression: the name it is given (Expr1000).
    std::unordered_map<syntax::NodeId, QString> names;
    // A select item's expression as a sort key, where TOP ranks the rows by
    // ORDER BY 1 or the item's name.
    std::unordered_map<syntax::NodeId, Wrap> sortKeys;
    // The crosstab's pivot, which its columns compare with each value.
    struct Operand {
        ValueKind kind = ValueKind::Unknown;
        bool column = false;
        QString table, name;  // the column's
    } pivot;
};

// A literal's text compared with a number, as the number it reads as
// ("1,234" is 1234), and one compared with a date (a text in any date
// spelling, a number as serial days), as SQLite's date text; nothing
// for a text that reads as neither.
std::optional<QString> numberLiteralOf(const QString& text);
std::optional<QString> dateLiteralOf(const QString& text, bool serial);
// The call that reads a value as a number (call::kNumberOf) or a date
// (call::kDateOf) when it runs, naming the column it came from, if any.
Binding::Wrap readWhenRun(const char* function, const Binding::Operand& value);

// tableAt: the registered name of each table file, by the first token of its
// name in the tree. Throws PlacedError for a literal that can never be
// compared with its operand, naming both, and for a call with a count of
// arguments its function never takes.
Binding bindTree(const syntax::SyntaxTree& tree, const Catalog& catalog, const std::map<int, QString>& tableAt);

}  // namespace tarlo
