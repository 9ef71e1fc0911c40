// Resolves the column names of a statement's tree with a scope per query:
// each SELECT sees the tables, subqueries and CTEs of its own FROM, then
// those of the queries around it (a correlated subquery), so a subquery's
// field is typed as what it gives, not as a file column it shadows.
#pragma once

#include "dialect/binder.h"
#include "dialect/syntax_tree.h"

#include <map>
#include <unordered_map>

namespace tarlo {

// tableAt: the registered name of each table file, by the first token of
// its name in the tree. Names that no scope resolves for certain (an alias
// of a select item, a name two tables have, a table nobody knows) are left
// out. #date# literals are given as Dates. catalog gives the tables'
// columns and the functions' facts.
std::unordered_map<qsizetype, ScopedName> resolveNames(const syntax::SyntaxTree& tree, const std::map<int, QString>& tableAt,
                                                       const Catalog& catalog);

}  // namespace tarlo
