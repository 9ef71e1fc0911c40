// SQLite's messages in the user's words: the table, column or word at fault
// first, internal call names turned back into what the user wrote.
#include "engine/messages.h"

#include "dialect/internal_names.h"
#include "dialect/sql_lexer.h"

#include <cstring>

namespace tarlo {

namespace {

QString afterPrefix(const QString& message, const char* prefix) {
    return message.mid(qsizetype(std::strlen(prefix))).trimmed();
}

}  // namespace

// The engine's messages, with the essential fact (which table, column or
// word) first: the warning box shows only the text before the first "。".
QString engineMessage(const QString& engineText, const QString& place) {
    const QString m = call::withWrittenNames(engineText);
    auto starts = [&](const char* p) { return m.startsWith(QLatin1String(p)); };
    if (starts("no such table:"))
        return QStringLiteral("テーブル \"%1\" が見つかりません。FROM に書いたファイル名を確かめてください。")
            .arg(afterPrefix(m, "no such table:"));
    if (starts("no such column:"))
        return QStringLiteral("列 \"%1\" が見つかりません。列名を確かめてください。").arg(afterPrefix(m, "no such column:"));
    if (starts("ambiguous column name:"))
        return QStringLiteral("列名 \"%1\" がどのテーブルの列か決まりません。テーブル名を付けてください。")
            .arg(afterPrefix(m, "ambiguous column name:"));
    if (starts("near \"") && m.endsWith(QLatin1String("syntax error"))) {
        const QString word = m.mid(6, m.indexOf(QLatin1String("\":"), 6) - 6);
        if (!place.isEmpty()) return QStringLiteral("SQL 文の %1、\"%2\" の近くに誤りがあります。").arg(place, word);
        return QStringLiteral("SQL 文の \"%1\" の近くに誤りがあります。").arg(word);
    }
    if (starts("incomplete input")) return QStringLiteral("SQL 文が途中で終わっています。");
    if (starts("no such function:"))
        return QStringLiteral("関数 \"%1\" はありません。").arg(afterPrefix(m, "no such function:"));
    if (starts("not authorized"))
        return QStringLiteral("この文は実行できません: データは読み取り専用です。");
    if (starts("wrong number of arguments to function"))
        return QStringLiteral("関数 \"%1\" の引数の数が違います。")
            .arg(m.mid(m.lastIndexOf(QLatin1Char(' ')) + 1).remove(QLatin1String("()")));
    // The functions' own messages are written for the user already.
    for (const QChar c : m)
        if (c.unicode() >= 0x80) return m.endsWith(QStringLiteral("。")) ? m : m + QStringLiteral("。");
    return QStringLiteral("SQL エラー: %1。").arg(m);
}

QString placeInStatement(const QString& statement, const QByteArray& prepared, int offset, const QString& word) {
    if (offset < 0 || offset > prepared.size() || word.isEmpty()) return {};
    // The word's occurrence counted in the rewritten text, found again in the user's.
    const qsizetype at = QString::fromUtf8(prepared.left(offset)).size();
    int occurrence = 0;
    for (const Token& t : tokenize(QString::fromUtf8(prepared)))
        if (t.start < at && t.text == word) ++occurrence;
    for (const Token& t : tokenize(statement)) {
        if (t.text != word || occurrence-- > 0) continue;
        const qsizetype lineStart = t.start == 0 ? 0 : statement.lastIndexOf(QLatin1Char('\n'), t.start - 1) + 1;
        const qsizetype line = statement.left(t.start).count(QLatin1Char('\n')) + 1;
        return QStringLiteral("%1 行目 %2 文字目").arg(line).arg(t.start - lineStart + 1);
    }
    return {};
}

}  // namespace tarlo
