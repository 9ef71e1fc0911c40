// Finds the table files a statement reads, in the forms the old engine's
// users wrote them after FROM and JOIN: data#csv ("#" stands for "."),
// [data#csv], [data.csv] and bare data.csv, and rewrites each into a quoted
// name the engine knows. Names resolve in the folder only.
#pragma once

#include "dialect/source_map.h"

#include <QString>
#include <vector>

namespace tarlo {

struct TableReference {
    QString name;  // as the rewritten statement names it
    QString path;
    Span written{};  // where the statement first names it
};

struct RewrittenStatement {
    MappedText sql;
    std::vector<TableReference> tables;
};

// Throws Error for a file name that is not in the folder (naming it) or
// that reaches outside it; PlacedError with the name's place in the user's text.
RewrittenStatement rewriteTableReferences(const MappedText& sql, const QString& folder);

}  // namespace tarlo
