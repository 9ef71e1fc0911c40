#include "dialect/sql_lexer.h"

namespace tarlo {

namespace {

bool isWordChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$') || c.unicode() >= 0x80;
}

// Reads a literal closed by `close`, where a doubled `close` stands for one.
qsizetype endOfQuoted(const QString& s, qsizetype at, QChar close) {
    for (qsizetype i = at + 1; i < s.size(); ++i) {
        if (s[i] != close) continue;
        if (i + 1 < s.size() && s[i + 1] == close && close != QLatin1Char(']')) {
            ++i;
            continue;
        }
        return i + 1;
    }
    return s.size();
}

}  // namespace

std::vector<Token> tokenize(const QString& s) {
    std::vector<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = s.size();
    auto push = [&](TokenKind kind, qsizetype end) {
        tokens.push_back({kind, s.mid(i, end - i), i, Span{i, end - i}});
        i = end;
    };
    while (i < n) {
        const QChar c = s[i];
        if (c.isSpace()) {
            qsizetype j = i;
            while (j < n && s[j].isSpace()) ++j;
            push(TokenKind::Space, j);
        } else if (c == QLatin1Char('-') && i + 1 < n && s[i + 1] == QLatin1Char('-')) {
            qsizetype j = i;
            while (j < n && s[j] != QLatin1Char('\n') && s[j] != QLatin1Char('\r')) ++j;
            push(TokenKind::Comment, j);
        } else if (c == QLatin1Char('/') && i + 1 < n && s[i + 1] == QLatin1Char('*')) {
            const qsizetype close = s.indexOf(QLatin1String("*/"), i + 2);
            push(TokenKind::Comment, close < 0 ? n : close + 2);
        } else if (c == QLatin1Char('\'')) {
            push(TokenKind::String, endOfQuoted(s, i, c));
        } else if (c == QLatin1Char('"')) {
            push(TokenKind::DoubleQuoted, endOfQuoted(s, i, c));
        } else if (c == QLatin1Char('`')) {
            push(TokenKind::Backticked, endOfQuoted(s, i, c));
        } else if (c == QLatin1Char('[')) {
            push(TokenKind::Bracketed, endOfQuoted(s, i, QLatin1Char(']')));
        } else if (c == QLatin1Char('#')) {
            const qsizetype close = s.indexOf(QLatin1Char('#'), i + 1);
            const qsizetype lineEnd = s.indexOf(QLatin1Char('\n'), i + 1);
            if (close < 0 || (lineEnd >= 0 && lineEnd < close)) push(TokenKind::Symbol, i + 1);
            else push(TokenKind::DateLiteral, close + 1);
        } else if (c.isDigit() || (c == QLatin1Char('.') && i + 1 < n && s[i + 1].isDigit())) {
            qsizetype j = i;
            while (j < n && (s[j].isDigit() || s[j] == QLatin1Char('.'))) ++j;
            if (j < n && (s[j] == QLatin1Char('e') || s[j] == QLatin1Char('E'))) {
                qsizetype k = j + 1;
                if (k < n && (s[k] == QLatin1Char('+') || s[k] == QLatin1Char('-'))) ++k;
                if (k < n && s[k].isDigit()) {
                    while (k < n && s[k].isDigit()) ++k;
                    j = k;
                }
            }
            // A name may start with digits: 2024sales#csv.
            if (j < n && isWordChar(s[j]) && !s[j].isDigit()) {
                while (j < n && (isWordChar(s[j]) || (s[j] == QLatin1Char('#') && j + 1 < n && isWordChar(s[j + 1]))))
                    ++j;
                push(TokenKind::Word, j);
            } else {
                push(TokenKind::Number, j);
            }
        } else if (isWordChar(c)) {
            qsizetype j = i;
            while (j < n && (isWordChar(s[j]) || (s[j] == QLatin1Char('#') && j + 1 < n && isWordChar(s[j + 1]))))
                ++j;
            push(TokenKind::Word, j);
        } else {
            static const char* const pairs[] = {"<=", ">=", "<>", "!=", "==", "||", "<<", ">>"};
            qsizetype len = 1;
            for (const char* p : pairs)
                if (s.mid(i, 2) == QLatin1String(p)) len = 2;
            push(TokenKind::Symbol, i + len);
        }
    }
    return tokens;
}

std::vector<Token> tokenize(const MappedText& sql) {
    std::vector<Token> tokens = tokenize(sql.text());
    for (Token& t : tokens) t.span = sql.spanOf(t.start, t.start + t.text.size());
    return tokens;
}

std::vector<Token> tokensStandingFor(const QString& sql, Span span) {
    std::vector<Token> tokens = tokenize(sql);
    for (Token& t : tokens) t.span = span;
    return tokens;
}

QString unquotedText(const Token& token) {
    switch (token.kind) {
    case TokenKind::String:
    case TokenKind::DoubleQuoted:
    case TokenKind::Backticked: {
        const QChar q = token.text[0];
        QString inner = token.text.mid(1, token.text.endsWith(q) && token.text.size() > 1 ? token.text.size() - 2 : -1);
        return inner.replace(QString(2, q), QString(q));
    }
    case TokenKind::Bracketed:
        return token.text.mid(1, token.text.endsWith(QLatin1Char(']')) ? token.text.size() - 2 : -1);
    default: return token.text;
    }
}

bool isKeyword(const Token& token, const char* keyword) {
    return token.kind == TokenKind::Word && token.text.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
}

}  // namespace tarlo
