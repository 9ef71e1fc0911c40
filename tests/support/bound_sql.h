// The text the engine gives SQLite for a statement over tables whose
// columns a test states: parsed, its names resolved by the scopes, typed
// and written as the engine does it. Each table is known by the name its
// FROM item writes (without brackets).
#pragma once

#include "dialect/binder.h"
#include "dialect/name_scopes.h"
#include "dialect/parser.h"
#include "dialect/sql_writer.h"
#include "dialect/token_edit.h"

namespace tarlo::testing {

inline QString boundSql(const QString& sql, Catalog catalog) {
    const syntax::SyntaxTree tree = parseStatement(sql);
    std::map<int, QString> tableAt;
    auto name = [&](const syntax::FromItem& item) {
        if (item.kind == syntax::FromItem::Kind::Table) tableAt[item.nameFrom] = unquotedText(tree.token(item.nameFrom));
    };
    for (const syntax::FromClause& f : tree.froms) {
        name(f.first);
        for (const syntax::Join& j : f.joins) name(j.item);
    }
    catalog.names = resolveNames(tree, tableAt, catalog);
    const Binding binding = bindTree(tree, catalog, tableAt);
    return SqlWriter(tree, {}, &binding).statement().text();
}

}  // namespace tarlo::testing
