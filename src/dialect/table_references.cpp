#include "dialect/table_references.h"

#include "csv/table_file.h"
#include "dialect/placed_error.h"
#include "dialect/sql_quote.h"
#include "dialect/token_edit.h"
#include "platform/error.h"

#include <QFileInfo>

#include <algorithm>

namespace tarlo {

using namespace syntax;

namespace {

class Resolver {
public:
    Resolver(const SyntaxTree& tree, const QString& folder) : t_(tree), folder_(folder) {}

    TableNames run() {
        // A group on a join's right, and every group inside one.
        std::vector<bool> onRight(t_.froms.size(), false);
        for (size_t f = t_.froms.size(); f-- > 0;) {
            const FromClause& from = t_.froms[f];
            for (const Join& j : from.joins)
                if (j.item.kind == FromItem::Kind::Group) markRight(size_t(j.item.group), onRight);
        }
        // In the order the statement names them: the first naming is the one a message points at.
        std::vector<std::pair<const FromItem*, bool>> items;
        for (size_t f = 0; f < t_.froms.size(); ++f) {
            const FromClause& from = t_.froms[f];
            items.emplace_back(&from.first, onRight[f]);
            for (const Join& j : from.joins) items.emplace_back(&j.item, onRight[f]);
        }
        std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.first->span.offset < b.first->span.offset; });
        for (const auto& [item, right] : items) take(*item, right);
        qualifiers();
        return std::move(out_);
    }

private:
    void markRight(size_t group, std::vector<bool>& onRight) const {
        onRight[group] = true;
        const FromClause& f = t_.froms[group];
        if (f.first.kind == FromItem::Kind::Group) markRight(size_t(f.first.group), onRight);
        for (const Join& j : f.joins)
            if (j.item.kind == FromItem::Kind::Group) markRight(size_t(j.item.group), onRight);
    }

    QString registerTable(const QString& name, const QString& path, Span written) {
        for (const TableReference& t : out_.tables)
            if (t.name.compare(name, Qt::CaseInsensitive) == 0) return t.name;
        out_.tables.push_back({name, path, written});
        return name;
    }

    void take(const FromItem& item, bool inRightGroup) {
        if (item.kind != FromItem::Kind::Table) return;
        const Token& first = t_.token(item.nameFrom);
        // The name stands for all it was written with (data . csv).
        const Span whole{first.span.offset, t_.token(item.nameTo - 1).span.end() - first.span.offset};
        QString name;
        bool marked = first.kind != TokenKind::Word || first.text.contains(QLatin1Char('#'));
        if (item.restOfStatement) {
            for (int k = item.nameFrom; k < item.nameTo; ++k) name += t_.token(k).text;
            name = name.trimmed();
        } else if (item.nameTo - item.nameFrom > 1 && first.kind == TokenKind::Word) {
            // data.csv arrives as three tokens written together.
            for (int k = item.nameFrom; k < item.nameTo; ++k)
                if (isSignificant(t_.token(k))) name += t_.token(k).text;
            marked = true;
        } else {
            name = unquotedText(first);
        }
        name.replace(QLatin1Char('#'), QLatin1Char('.'));
        const bool looksLikeFile = name.contains(QLatin1Char('.'));
        if (!looksLikeFile && !marked) return;  // a CTE or a name the engine knows
        QString path;
        try {
            path = resolveTableFile(folder_, name);
        } catch (const Error& e) {
            throw PlacedError(whole, e);
        }
        if (!QFileInfo(path).isFile()) {
            if (!looksLikeFile) return;
            throw PlacedError(whole, Error(ErrorFacts{.file = path, .word = name},
                                           u"テーブル \"%1\" のファイルが見つかりません。ファイル \"%2\" はありません。",
                                           name, path));
        }
        const QString registered = registerTable(name, path, whole);
        QString text = quotedName(registered);
        // SQLite reads the columns of a join group on a join's right as
        // "table.column" split at its dots, so "sales.txt".amount outside the
        // group is not found: there the table takes a name without one.
        if (inRightGroup && registered.contains(QLatin1Char('.')) && item.alias < 0) {
            QString alias = registered;
            alias.replace(QLatin1Char('.'), QLatin1Char('#'));
            text += QStringLiteral(" AS ") + quotedName(alias);
            aliases_.emplace_back(registered, alias);
        }
        out_.tokens[item.nameFrom] = text;
        out_.tableAt[item.nameFrom] = registered;
        for (int k = item.nameFrom + 1; k < item.nameTo; ++k) out_.tokens[k] = QString();
    }

    // [data#csv].id and data#csv.id name a table's column.
    void qualifiers() {
        for (const Node& n : t_.nodes) {
            if ((n.kind != NodeKind::Name && n.kind != NodeKind::Star) || n.qualifier < 0) continue;
            const Token& q = t_.token(n.qualifier);
            if (q.kind != TokenKind::Bracketed && !(q.kind == TokenKind::Word && q.text.contains(QLatin1Char('#')))) continue;
            const QString name = unquotedText(q).replace(QLatin1Char('#'), QLatin1Char('.'));
            for (const TableReference& table : out_.tables)
                if (table.name.compare(name, Qt::CaseInsensitive) == 0) out_.tokens[n.qualifier] = quotedName(aliasOf(table.name));
        }
    }

    QString aliasOf(const QString& table) const {
        for (const auto& [name, alias] : aliases_)
            if (name == table) return alias;
        return table;
    }

    const SyntaxTree& t_;
    QString folder_;
    TableNames out_;
    std::vector<std::pair<QString, QString>> aliases_;  // a table named in a right group, and the name it takes
};

}  // namespace

TableNames resolveTables(const SyntaxTree& tree, const QString& folder) {
    return Resolver(tree, folder).run();
}

}  // namespace tarlo
