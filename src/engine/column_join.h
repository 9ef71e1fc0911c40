// Joins on the column path: a FROM of inner and left joins of table files
// on equal columns, the old engine's parenthesised chains included, each
// file matched by its index of the key column once per distinct value of
// the rows it joins, and the columns the statement reads gathered into one
// table the column plan runs over.
#pragma once

#include "csv/csv_table.h"
#include "dialect/binder.h"
#include "dialect/syntax_tree.h"

#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace tarlo {

struct JoinedColumns {
    std::shared_ptr<const CsvTable> table;
    // The gathered table's column for each name the statement reads, by the
    // place of the name's token in the user's text.
    std::unordered_map<qsizetype, size_t> columnAt;
    // The tables joined by a left join, whose rows a joined row may lack.
    std::vector<std::shared_ptr<const CsvTable>> leftJoined;
};

// The joined rows of the statement's FROM, or nothing when it is not a
// chain of inner and left joins of files on equalities of their columns
// of one kind (texts compared ignoring case), or a name it reads is not
// certain. A FROM of one file (named by an alias, say) gives that file's
// table and its own columns. tableNamed gives a registered table. Throws Cancelled once stop
// is set.
std::optional<JoinedColumns> joinForColumns(const syntax::SyntaxTree& tree, const Binding& binding,
                                            const std::map<int, QString>& tableAt,
                                            const std::function<std::shared_ptr<const CsvTable>(const QString&)>& tableNamed,
                                            const std::atomic<bool>* stop);

}  // namespace tarlo
