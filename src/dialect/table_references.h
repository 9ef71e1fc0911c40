// Finds the table files a statement reads, in the forms the old engine's
// users wrote them after FROM and JOIN: data#csv ("#" stands for "."),
// [data#csv], [data.csv], bare data.csv and, when the folder has it, a name
// with blanks running to the statement's end. Each is written as a quoted
// name the engine knows, and so is a qualifier that names one
// ([data#csv].id). Names resolve in the folder only.
#pragma once

#include "dialect/source_map.h"
#include "dialect/syntax_tree.h"

#include <QString>

#include <map>
#include <vector>

namespace tarlo {

struct TableReference {
    QString name;  // as the written statement names it
    QString path;
    Span written{};  // where the statement first names it
};

struct TableNames {
    std::vector<TableReference> tables;
    // What the writer puts in for a token of the statement: a table's
    // quoted name for the first token of its name or a qualifier naming
    // it, nothing for the name's other tokens.
    std::map<int, QString> tokens;
    // The registered name of each table file, by the first token of its name.
    std::map<int, QString> tableAt;
};

// Throws PlacedError, at the name, for a file name that is not in the
// folder (naming it) or that reaches outside it.
TableNames resolveTables(const syntax::SyntaxTree& tree, const QString& folder);

}  // namespace tarlo
