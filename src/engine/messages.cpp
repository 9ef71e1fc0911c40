// SQLite's messages in the user's words: the table, column or word at fault
// first, internal call names turned back into what the user wrote.
#include "engine/messages.h"

#include "dialect/internal_names.h"
#include "dialect/source_map.h"

#include <cstring>

namespace tarlo {

namespace {

QString afterPrefix(const QString& message, const char* prefix) {
    return message.mid(qsizetype(std::strlen(prefix))).trimmed();
}

}  // namespace

namespace {

// The engine's messages, with the essential fact (which table, column or
// word) first: the warning box shows only the text before the first "。".
QString messageText(const QString& engineText, const QString& place) {
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
        return syntaxErrorMessage(m.mid(6, m.indexOf(QLatin1String("\":"), 6) - 6), place);
    }
    if (starts("incomplete input")) return syntaxErrorMessage({}, {});
    if (starts("no such function:"))
        return QStringLiteral("関数 \"%1\" はありません。").arg(afterPrefix(m, "no such function:"));
    if (starts("not authorized to use function:"))
        return QStringLiteral("関数 \"%1\" は使えません。").arg(afterPrefix(m, "not authorized to use function:"));
    if (starts("not authorized"))
        return QStringLiteral("この文は実行できません: データは読み取り専用です。");
    if (starts("wrong number of arguments to function"))
        return QStringLiteral("関数 \"%1\" の引数の数が違います。")
            .arg(m.mid(m.lastIndexOf(QLatin1Char(' ')) + 1).remove(QLatin1String("()")));
    if (m.contains(QLatin1String("ORDER BY term out of range")) || m.contains(QLatin1String("GROUP BY term out of range"))) {
        // "1st ORDER BY term out of range - should be between 1 and 2"
        const QString clause = m.contains(QLatin1String("ORDER BY")) ? QStringLiteral("ORDER BY") : QStringLiteral("GROUP BY");
        QString nth = m.section(QLatin1Char(' '), 0, 0);
        while (!nth.isEmpty() && !nth.back().isDigit()) nth.chop(1);
        const QString range = m.mid(m.indexOf(QLatin1String("between ")) + 8).replace(QLatin1String(" and "), QStringLiteral(" から "));
        return QStringLiteral("%1 の %2 番目の項目が列番号の範囲 (%3) の外です。").arg(clause, nth, range);
    }
    if (starts("HAVING clause on a non-aggregate query"))
        return QStringLiteral("HAVING は GROUP BY か集計のある文にだけ書けます。");
    if (m.contains(QLatin1String("do not have the same number of result columns"))) {
        const QString op = m.mid(m.indexOf(QLatin1String("right of ")) + 9).section(QLatin1Char(' '), 0, 0);
        return QStringLiteral("%1 の左右の SELECT で列の数が違います。").arg(op);
    }
    if (starts("sub-select returns"))
        return QStringLiteral("副問い合わせが %1 列を返しますが、ここでは 1 列だけ書けます。")
            .arg(m.section(QLatin1Char(' '), 2, 2));
    if (starts("misuse of aggregate function"))
        return QStringLiteral("集計関数 \"%1\" は WHERE の中や集計の中には書けません (集計の条件は HAVING に書きます)。")
            .arg(afterPrefix(m, "misuse of aggregate function").remove(QLatin1String("()")));
    if (starts("aggregate functions are not allowed in the GROUP BY clause"))
        return QStringLiteral("GROUP BY には集計関数を書けません。");
    if (starts("misuse of window function"))
        return QStringLiteral("ウィンドウ関数 \"%1\" には OVER (...) が要ります。")
            .arg(afterPrefix(m, "misuse of window function").remove(QLatin1String("()")));
    if (starts("row value misused")) return QStringLiteral("( , ) で囲んだ値の組はここには書けません。");
    if (starts("datatype mismatch")) return QStringLiteral("値の型が合いません (LIMIT や OFFSET には数値を書きます)。");
    if (starts("argument of ntile must be a positive integer")) return QStringLiteral("ntile の引数は 1 以上の整数です。");
    if (starts("second argument to nth_value must be a positive integer"))
        return QStringLiteral("nth_value の 2 番目の引数は 1 以上の整数です。");
    if (starts("parser stack overflow"))
        return QStringLiteral("式の入れ子が深すぎます。括弧や関数の入れ子を減らしてください。");
    // The functions' own messages are written for the user already.
    for (const QChar c : m)
        if (c.unicode() >= 0x80) return m.endsWith(QStringLiteral("。")) ? m : m + QStringLiteral("。");
    return QStringLiteral("SQL エラー: %1。").arg(m);
}

}  // namespace

QString engineMessage(const QString& engineText, const QString& place) {
    const QString message = messageText(engineText, place);
    // A syntax error names its place in its own words.
    if (place.isEmpty() || message.contains(place)) return message;
    return withPlace(message, place);
}

QString syntaxErrorMessage(const QString& word, const QString& place) {
    if (word.isEmpty()) return place.isEmpty() ? QStringLiteral("SQL 文が途中で終わっています。")
                                               : QStringLiteral("SQL 文が途中で終わっています (SQL 文の %1)。").arg(place);
    if (!place.isEmpty()) return QStringLiteral("SQL 文の %1、\"%2\" の近くに誤りがあります。").arg(place, word);
    return QStringLiteral("SQL 文の \"%1\" の近くに誤りがあります。").arg(word);
}

QString placeText(const QString& statement, qsizetype offset) {
    const TextPlace p = placeIn(statement, offset);
    return QStringLiteral("%1 行目 %2 文字目").arg(p.line).arg(p.column);
}

QString withPlace(const QString& message, const QString& place) {
    const QString note = QStringLiteral(" (SQL 文の %1)").arg(place);
    const qsizetype stop = message.indexOf(QStringLiteral("。"));
    if (stop < 0) return message + note;
    return QString(message).insert(stop, note);
}

}  // namespace tarlo
