// libFuzzer target for the parser, the statement rewrites, the typed view and Like patterns:
// any text must parse and translate or fail with an Error; never crash, hang or index out
// of bounds, and every node of a tree lies inside its parent's place.
#include "platform/error.h"
#include "dialect/binder.h"
#include "dialect/crosstab.h"
#include "dialect/name_scopes.h"
#include "dialect/parser.h"
#include "dialect/sql_writer.h"
#include "functions/catalogue.h"
#include "functions/like_pattern.h"
#include "dialect/table_references.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarlo;
    // The same bytes as a Like pattern, matched against themselves and a short text.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const LikePattern pattern(bytes);
    (void)pattern.matches(bytes);
    (void)pattern.matches("abc]");
    const QString sql = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    std::optional<syntax::SyntaxTree> parsed;
    try {
        const syntax::SyntaxTree& tree = parsed.emplace(parseStatement(sql));
        auto inside = [&](Span inner, Span outer) { return inner.offset >= outer.offset && inner.end() <= outer.end(); };
        for (const syntax::Node& n : tree.nodes) {
            if (!inside(n.span, {0, sql.size()})) __builtin_trap();
            for (const syntax::NodeId c : {n.left, n.right, n.extra})
                if (c != syntax::kNone && !inside(tree.node(c).span, n.span)) __builtin_trap();
            for (const syntax::NodeId c : n.list)
                if (!inside(tree.node(c).span, n.span)) __builtin_trap();
        }
    } catch (const tarlo::Error&) {
        return 0;
    }
    try {
        // No file is found there: the tables are named as written, and typed as t below.
        std::map<int, QString> tokens;
        try {
            tokens = resolveTables(*parsed, QStringLiteral("/nonexistent/")).tokens;
        } catch (const tarlo::Error&) {
        }
        (void)SqlWriter(*parsed, tokens).statement();
        // The typed view, with a table of each kind of column.
        Catalog catalog;
        catalog.function = functionFacts;
        catalog.tables.push_back({QStringLiteral("t"),
                                  {{QStringLiteral("n"), ValueKind::Number},
                                   {QStringLiteral("s"), ValueKind::Text},
                                   {QStringLiteral("d"), ValueKind::Date}}});
        // Every table the statement names reads as t, so its names resolve in the scopes.
        std::map<int, QString> tableAt;
        for (const syntax::FromClause& f : parsed->froms) {
            if (f.first.kind == syntax::FromItem::Kind::Table) tableAt[f.first.nameFrom] = QStringLiteral("t");
            for (const syntax::Join& j : f.joins)
                if (j.item.kind == syntax::FromItem::Kind::Table) tableAt[j.item.nameFrom] = QStringLiteral("t");
        }
        catalog.names = resolveNames(*parsed, tableAt, catalog);
        const Binding binding = bindTree(*parsed, catalog, tableAt);
        const SqlWriter writer(*parsed, tokens, &binding);
        MappedText bound = writer.statement();
        if (const auto crosstab = Crosstab::read(*parsed, writer, isAggregateFunction)) {
            (void)crosstab->valuesQuery();
            bound = crosstab->query({{MappedText(QStringLiteral("1"), crosstab->pivotSpan()), QStringLiteral("1"), ValueKind::Number},
                                     {MappedText(QStringLiteral("'a'"), crosstab->pivotSpan()), QStringLiteral("a"), ValueKind::Text}});
        }
        // Every place of the text SQLite would read names a place of the user's.
        for (qsizetype at = 0; at < bound.text().size(); ++at) {
            const Span span = bound.spanOf(at, at + 1);
            if (span.offset < 0 || span.end() > sql.size()) __builtin_trap();
        }
    } catch (const tarlo::Error&) {
    }
    return 0;
}
