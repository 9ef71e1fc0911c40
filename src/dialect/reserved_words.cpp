#include "dialect/reserved_words.h"

#include "dialect/token_edit.h"

namespace tarlo {

bool isReservedWord(const Token& t) {
    static const char* const words[] = {
        "SELECT", "FROM",   "WHERE",   "AS",       "ON",        "WHEN",   "THEN",    "ELSE",   "END",     "CASE",
        "GROUP",  "ORDER",  "BY",      "HAVING",   "LIMIT",     "OFFSET", "UNION",   "EXCEPT", "INTERSECT", "ALL",
        "DISTINCT", "ASC",  "DESC",    "JOIN",     "INNER",     "LEFT",   "RIGHT",   "OUTER",  "CROSS",   "FULL",
        "NATURAL", "USING", "INTO",    "VALUES",   "WITH",      "ESCAPE", "COLLATE", "OVER",   "PARTITION", "FILTER",
        "WINDOW", "ROWS",   "RANGE",   "TRANSFORM", "PIVOT",    "TOP",    "PERCENT", "EXISTS", "NULLS",   "NOT",
        "AND",    "OR",     "XOR",     "EQV",      "IMP",       "MOD",    "LIKE",    "GLOB",   "REGEXP",  "MATCH",
        "IS",     "IN",     "BETWEEN",
    };
    if (t.kind != TokenKind::Word) return false;
    for (const char* w : words)
        if (isKeyword(t, w)) return true;
    return false;
}

}  // namespace tarlo
