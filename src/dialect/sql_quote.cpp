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
    return quoted(text, QLatin1Char('\''));
}

QString quotedName(const QString& name) {
    return quoted(name, QLatin1Char('"'));
}

}  // namespace tarlo
