// Finds the table files a statement reads, in the forms the old engine's
// users wrote them after FROM and JOIN: data#csv ("#" stands for "."),
// [data#csv], [data.csv] and bare data.csv, and rewrites each into a quoted
// name the engine knows. Names resolve in the folder only.
#pragma once

#include <QString>
#include <vector>

namespace tarlo {

struct TableReference {
    QString name;  // as the rewritten statement names it
    QString path;
};

struct RewrittenStatement {
    QString sql;
    std::vector<TableReference> tables;
};

// Throws Error for a file name that is not in the folder (naming it) or
// that reaches outside it.
RewrittenStatement rewriteTableReferences(const QString& sql, const QString& folder);

}  // namespace tarlo
