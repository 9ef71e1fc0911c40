// Statements written for the old engine, rewritten token by token (never
// inside a literal) into SQLite's dialect: "text" strings, #date#
// literals, True/False, DISTINCTROW, TOP n, the operators SQLite reads
// otherwise, and the functions whose arguments must not all be evaluated
// (IIf, Switch, Choose).
#pragma once

#include "dialect/source_map.h"

#include <QString>

namespace tarlo {

// Throws Error naming the construct it cannot take (an impossible date,
// TOP without a count, an operator without an operand); PlacedError where
// it stands in the user's text.
MappedText translateJetSql(const MappedText& sql);
inline QString translateJetSql(const QString& sql) { return translateJetSql(MappedText::original(sql)).text(); }

}  // namespace tarlo
