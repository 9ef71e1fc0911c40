// Literals and identifiers in the statements we generate.
#include "dialect/sql_quote.h"

namespace tarlo {

namespace {
QString quoted(const QString& text, QChar quote) {
    QString out;
    out.reserve(text.size() + 2);
    out += quote;
    for (const QChar c : text) {
        if (c == quote) out += quote;
        out += c;
    }
    out += quote;
    return out;
}
}  // namespace

QString quotedString(const QString& text) {
    // The statement's text ends at a NUL: such a value is spelled by its bytes.
    if (text.contains(QChar(0)))
        return QStringLiteral("CAST(X'%1' AS TEXT)").arg(QString::fromLatin1(text.toUtf8().toHex()));
    return quoted(text, QLatin1Char('\''));
}

QString quotedName(const QString& name) {
    // No name can hold a NUL; a blank stands for it, as a terminal shows it.
    return quoted(QString(name).replace(QChar(0), QLatin1Char(' ')), QLatin1Char('"'));
}

}  // namespace tarlo
