#include "dialect/table_references.h"

#include "platform/error.h"
#include "dialect/placed_error.h"
#include "dialect/sql_lexer.h"
#include "dialect/sql_quote.h"
#include "dialect/operators.h"
#include "dialect/token_edit.h"
#include "csv/table_file.h"

#include <QFileInfo>

namespace tarlo {

namespace {

bool isNameToken(const Token& t) {
    return t.kind == TokenKind::Word || t.kind == TokenKind::Bracketed || t.kind == TokenKind::DoubleQuoted ||
           t.kind == TokenKind::Backticked;
}

bool endsFromClause(const Token& t) {
    for (const char* k : {"WHERE", "GROUP", "ORDER", "HAVING", "LIMIT", "UNION", "EXCEPT", "INTERSECT", "WINDOW"})
        if (isKeyword(t, k)) return true;
    return false;
}

class Rewriter {
public:
    Rewriter(const MappedText& sql, const QString& folder) : tokens_(tokenize(sql)), folder_(folder) {}

    RewrittenStatement run() {
        findTables();
        rewriteQualifiers();
        RewrittenStatement out;
        out.sql = mappedTextOf(tokens_);
        out.tables = tables_;
        return out;
    }

private:
    QString registerTable(const QString& name, const QString& path, Span written) {
        for (const TableReference& t : tables_)
            if (t.name.compare(name, Qt::CaseInsensitive) == 0) return t.name;
        tables_.push_back({name, path, written});
        return name;
    }

    // The rest of the statement as one file name ("SELECT * FROM my data.csv").
    bool takeRestAsFile(size_t i) {
        // No file name is longer than a path may be: a long rest is no name, and
        // gathering it for each of many tables would take the square of the statement.
        constexpr qsizetype kLongestName = 260;
        QString rest;
        for (size_t k = i; k < tokens_.size(); ++k) {
            rest += tokens_[k].text;
            if (rest.size() > kLongestName + 16) return false;
        }
        rest = rest.trimmed();
        if (rest.endsWith(QLatin1Char(';'))) rest.chop(1);
        rest = rest.trimmed();
        if (!rest.contains(QLatin1Char(' ')) || rest.contains(QLatin1Char('/')) || rest.contains(QLatin1Char('\\')))
            return false;
        const QString path = resolveTableFile(folder_, rest);
        if (!QFileInfo(path).isFile()) return false;
        const size_t last = nextSignificantBack();
        const QString name = registerTable(rest, path, {tokens_[i].span.offset, tokens_[last].span.end() - tokens_[i].span.offset});
        tokens_[i].text = quotedName(name);
        tokens_[i].span = {tokens_[i].span.offset, tokens_[last].span.end() - tokens_[i].span.offset};
        for (size_t k = i + 1; k < tokens_.size(); ++k)
            if (k <= last) tokens_[k].text.clear();
        return true;
    }

    size_t nextSignificantBack() const {
        // The last token that belongs to the name: everything but a final ";" and blanks.
        size_t k = tokens_.size();
        while (k > 0 && (!isSignificant(tokens_[k - 1]) || isSymbol(tokens_[k - 1], ";"))) --k;
        return k == 0 ? 0 : k - 1;
    }

    // A table name at tokens_[i]; returns the index after it.
    size_t takeTableName(size_t i) {
        if (takeRestAsFile(i)) return tokens_.size();
        const Token& first = tokens_[i];
        const Span written = first.span;
        QString name = unquotedText(first);
        size_t end = i + 1;
        bool marked = first.kind != TokenKind::Word || first.text.contains(QLatin1Char('#'));
        if (first.kind == TokenKind::Word) {
            // data.csv arrives as three tokens written together.
            while (end + 1 < tokens_.size() && isSymbol(tokens_[end], ".") &&
                   (tokens_[end + 1].kind == TokenKind::Word || tokens_[end + 1].kind == TokenKind::Number)) {
                name += QLatin1Char('.') + tokens_[end + 1].text;
                end += 2;
                marked = true;
            }
        }
        name.replace(QLatin1Char('#'), QLatin1Char('.'));
        const bool looksLikeFile = name.contains(QLatin1Char('.'));
        if (!looksLikeFile && !marked) return end;  // a CTE or a name the engine knows
        QString path;
        try {
            path = resolveTableFile(folder_, name);
        } catch (const Error& e) {
            throw PlacedError(written, e);
        }
        if (!QFileInfo(path).isFile()) {
            if (!looksLikeFile) return end;
            throw PlacedError(written, Error(ErrorFacts{.file = path, .word = name},
                                             u"テーブル \"%1\" のファイルが見つかりません。ファイル \"%2\" はありません。",
                                             name, path));
        }
        // The name stands for all it was written with (data . csv).
        const Span whole{written.offset, std::max(written.end(), tokens_[end - 1].span.end()) - written.offset};
        const QString registered = registerTable(name, path, whole);
        tokens_[i].text = quotedName(registered);
        tokens_[i].span = whole;
        for (size_t k = i + 1; k < end; ++k) tokens_[k].text.clear();
        // SQLite reads the columns of a join group on a join's right as
        // "table.column" split at its dots, so "sales.txt".amount outside the
        // group is not found: there the table takes a name without one.
        if (!rightGroups_.empty() && registered.contains(QLatin1Char('.')) && !aliasFollows(end)) {
            QString alias = registered;
            alias.replace(QLatin1Char('.'), QLatin1Char('#'));
            tokens_[i].text += QStringLiteral(" AS ") + quotedName(alias);
            aliases_.emplace_back(registered, alias);
        }
        return end;
    }

    // Whether the table name ending before `end` is given an alias.
    bool aliasFollows(size_t end) const {
        const size_t next = nextSignificant(tokens_, end);
        if (next >= tokens_.size()) return false;
        return isKeyword(tokens_[next], "AS") || (isNameToken(tokens_[next]) && !isReservedWord(tokens_[next]));
    }

    void findTables() {
        bool expectTable = false;
        int depth = 0;
        std::vector<int> fromDepths;
        for (size_t i = nextSignificant(tokens_, 0); i < tokens_.size(); i = nextSignificant(tokens_, i)) {
            const Token& t = tokens_[i];
            if (isSymbol(t, "(")) {
                ++depth;
                const size_t next = nextSignificant(tokens_, i + 1);
                if (expectTable && next < tokens_.size() &&
                    (isKeyword(tokens_[next], "SELECT") || isKeyword(tokens_[next], "WITH") ||
                     isKeyword(tokens_[next], "VALUES")))
                    expectTable = false;
                const size_t before = previousSignificant(tokens_, i);
                if (expectTable && before < tokens_.size() && isKeyword(tokens_[before], "JOIN"))
                    rightGroups_.push_back(depth);
                ++i;
                continue;
            }
            if (isSymbol(t, ")")) {
                --depth;
                while (!rightGroups_.empty() && rightGroups_.back() > depth) rightGroups_.pop_back();
                while (!fromDepths.empty() && fromDepths.back() > depth) fromDepths.pop_back();
                expectTable = false;
                ++i;
                continue;
            }
            if (expectTable && isNameToken(t)) {
                i = takeTableName(i);
                expectTable = false;
                continue;
            }
            if (isKeyword(t, "FROM")) {
                expectTable = true;
                fromDepths.push_back(depth);
            } else if (isKeyword(t, "JOIN")) {
                expectTable = true;
            } else if (isSymbol(t, ",") && !fromDepths.empty() && fromDepths.back() == depth) {
                expectTable = true;
            } else {
                if (endsFromClause(t) && !fromDepths.empty() && fromDepths.back() == depth) fromDepths.pop_back();
                expectTable = false;
            }
            ++i;
        }
    }

    // [data#csv].id and data#csv.id name a table's column.
    void rewriteQualifiers() {
        for (size_t i = 0; i + 1 < tokens_.size(); ++i) {
            Token& t = tokens_[i];
            const bool candidate = t.kind == TokenKind::Bracketed ||
                                   (t.kind == TokenKind::Word && t.text.contains(QLatin1Char('#')));
            if (!candidate || !isSymbol(tokens_[i + 1], ".")) continue;
            const QString name = unquotedText(t).replace(QLatin1Char('#'), QLatin1Char('.'));
            for (const TableReference& table : tables_)
                if (table.name.compare(name, Qt::CaseInsensitive) == 0) t.text = quotedName(aliasOf(table.name));
        }
    }

    QString aliasOf(const QString& table) const {
        for (const auto& [name, alias] : aliases_)
            if (name == table) return alias;
        return table;
    }

    std::vector<Token> tokens_;
    QString folder_;
    std::vector<TableReference> tables_;
    std::vector<int> rightGroups_;                       // the depths of the join groups open on a join's right
    std::vector<std::pair<QString, QString>> aliases_;  // a table named in one, and the name it takes
};

}  // namespace

RewrittenStatement rewriteTableReferences(const MappedText& sql, const QString& folder) {
    return Rewriter(sql, folder).run();
}

}  // namespace tarlo
