#include "dialect/translator.h"

#include "platform/error.h"
#include "values/column_types.h"
#include "dialect/operators.h"
#include "dialect/top.h"
#include "dialect/internal_names.h"
#include "dialect/sql_lexer.h"
#include "dialect/sql_quote.h"
#include "dialect/token_edit.h"

#include <QDate>
#include <QRegularExpression>

namespace tarlo {

namespace {

// #2024/01/31#, #2024-01-31 10:00#, and the month-first #1/31/2024#.
QString dateLiteral(const Token& t) {
    const QString inner = t.text.mid(1, t.text.size() - 2).trimmed();
    static const QRegularExpression yearFirst(QStringLiteral(R"(^(\d{4})[/-](\d{1,2})[/-](\d{1,2})(?:\s+(\d{1,2}):(\d{2})(?::(\d{2}))?)?$)"));
    static const QRegularExpression monthFirst(QStringLiteral(R"(^(\d{1,2})[/-](\d{1,2})[/-](\d{4})(?:\s+(\d{1,2}):(\d{2})(?::(\d{2}))?)?$)"));
    int y = 0, m = 0, d = 0;
    QRegularExpressionMatch match = yearFirst.match(inner);
    if (match.hasMatch()) {
        y = match.captured(1).toInt(), m = match.captured(2).toInt(), d = match.captured(3).toInt();
    } else if ((match = monthFirst.match(inner)).hasMatch()) {
        m = match.captured(1).toInt(), d = match.captured(2).toInt(), y = match.captured(3).toInt();
    }
    const int hour = match.captured(4).toInt(), minute = match.captured(5).toInt(), second = match.captured(6).toInt();
    if (!match.hasMatch() || !QDate::isValid(y, m, d) || hour > 23 || minute > 59 || second > 59)
        throw Error(ErrorFacts{.word = t.text}, u"日付 %1 は正しい日付ではありません。", t.text);
    return quotedString(QString::fromStdString(formatDateTime(packDate({y, m, d, hour, minute, second}), true)));
}

class Translator {
public:
    explicit Translator(const QString& sql) : tokens_(tokenize(sql)) {}

    QString run() {
        rewriteSimpleTokens();
        rewriteKeywordFunctions();
        rewriteConditionals();
        rewriteJetOperators(tokens_);
        rewriteTop(tokens_);
        QString out;
        for (const Token& t : tokens_) out += t.text;
        return out;
    }

private:
    size_t next(size_t i) const {
        return nextSignificant(tokens_, i);
    }

    void rewriteSimpleTokens() {
        for (Token& t : tokens_) {
            if (t.kind == TokenKind::DoubleQuoted) t = {TokenKind::String, quotedString(unquotedText(t)), t.start};
            else if (t.kind == TokenKind::DateLiteral) t = {TokenKind::String, dateLiteral(t), t.start};
            else if (isKeyword(t, "TRUE")) t.text = QStringLiteral("-1");
            else if (isKeyword(t, "FALSE")) t.text = QStringLiteral("0");
            else if (isKeyword(t, "DISTINCTROW")) t.text = QStringLiteral("DISTINCT");
        }
    }

    // Left(, Right( and IsNull( are calls, though SQLite reads the words as keywords.
    void rewriteKeywordFunctions() {
        for (size_t i = 0; i < tokens_.size(); ++i) {
            const char* internal = tokens_[i].kind == TokenKind::Word ? call::keywordFunction(tokens_[i].text) : nullptr;
            if (!internal) continue;
            const size_t open = next(i + 1);
            if (open < tokens_.size() && isSymbol(tokens_[open], "(")) tokens_[i].text = QLatin1String(internal);
        }
    }

    // The arguments of a call whose "(" stands at open: token ranges split
    // at the commas of its own depth; close is set to its ")".
    std::vector<std::pair<size_t, size_t>> arguments(size_t open, size_t& close) const {
        std::vector<std::pair<size_t, size_t>> args;
        int depth = 0;
        size_t start = open + 1;
        for (size_t i = open; i < tokens_.size(); ++i) {
            if (isSymbol(tokens_[i], "(")) ++depth;
            else if (isSymbol(tokens_[i], ")") && --depth == 0) {
                args.emplace_back(start, i);
                close = i;
                return args;
            } else if (depth == 1 && isSymbol(tokens_[i], ",")) {
                args.emplace_back(start, i);
                start = i + 1;
            }
        }
        throw Error(QStringLiteral("\"(\" が閉じられていません。"));
    }

    void append(std::vector<Token>& out, std::pair<size_t, size_t> range) const {
        out.insert(out.end(), tokens_.begin() + std::ptrdiff_t(range.first), tokens_.begin() + std::ptrdiff_t(range.second));
    }

    void append(std::vector<Token>& out, const QString& sql) const {
        const std::vector<Token> more = tokenize(sql);
        out.insert(out.end(), more.begin(), more.end());
    }

    // IIf, Switch and Choose evaluate only the branch they return: CASE
    // does too. The arguments' tokens are kept, for the rewrites after this.
    void rewriteConditionals() {
        for (size_t i = tokens_.size(); i-- > 0;) {
            const Token& t = tokens_[i];
            const bool iif = isKeyword(t, "IIF"), sw = isKeyword(t, "SWITCH"), choose = isKeyword(t, "CHOOSE");
            if (!iif && !sw && !choose) continue;
            const size_t open = next(i + 1);
            if (open >= tokens_.size() || !isSymbol(tokens_[open], "(")) continue;
            size_t close = 0;
            const auto args = arguments(open, close);
            std::vector<Token> out;
            if (iif) {
                if (args.size() != 3) throw Error(QStringLiteral("IIf の引数は 3 つです。"));
                append(out, QStringLiteral("(CASE WHEN "));
                append(out, args[0]);
                append(out, QStringLiteral(" THEN "));
                append(out, args[1]);
                append(out, QStringLiteral(" ELSE "));
                append(out, args[2]);
            } else if (sw) {
                if (args.empty() || args.size() % 2 != 0) throw Error(QStringLiteral("Switch の引数は条件と値の組です。"));
                append(out, QStringLiteral("(CASE"));
                for (size_t a = 0; a < args.size(); a += 2) {
                    append(out, QStringLiteral(" WHEN "));
                    append(out, args[a]);
                    append(out, QStringLiteral(" THEN "));
                    append(out, args[a + 1]);
                }
            } else {
                if (args.size() < 2) throw Error(QStringLiteral("Choose の引数が足りません。"));
                append(out, QStringLiteral("(CASE CAST("));
                append(out, args[0]);
                append(out, QStringLiteral(" AS INTEGER)"));
                for (size_t a = 1; a < args.size(); ++a) {
                    append(out, QStringLiteral(" WHEN %1 THEN ").arg(a));
                    append(out, args[a]);
                }
            }
            append(out, QStringLiteral(" END)"));
            tokens_.erase(tokens_.begin() + std::ptrdiff_t(i), tokens_.begin() + std::ptrdiff_t(close + 1));
            tokens_.insert(tokens_.begin() + std::ptrdiff_t(i), out.begin(), out.end());
        }
    }

    std::vector<Token> tokens_;
};

}  // namespace

QString translateJetSql(const QString& sql) {
    return Translator(sql).run();
}

}  // namespace tarlo
