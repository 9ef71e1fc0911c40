#include "workspace/from_clause.h"

#include "platform/collation.h"
#include "platform/text_lines.h"

namespace tarlo {

namespace {
void cutBefore(QString& s, QChar mark) {
    const qsizetype at = s.indexOf(mark);
    if (at >= 0) s = trimControl(s.left(at));
}
}  // namespace

QString tableNameFromQuery(const QString& queryText) {
    QString s = queryText;
    const QString marker = QStringLiteral("From ");
    const qsizetype first = s.indexOf(QLatin1String("from "), 0, Qt::CaseInsensitive);
    if (first >= 0) s.replace(first, marker.size(), marker);

    // p is 1-based in the rule this follows: the LF or blank before "From ".
    qsizetype p = s.indexOf(QLatin1String("\nFrom ")) + 1;
    if (p == 0) p = s.indexOf(QLatin1String(" From ")) + 1;
    s.remove(0, p + 5);

    if (s.startsWith(QLatin1Char('['))) s.remove(0, 1);
    cutBefore(s, QLatin1Char(']'));
    cutBefore(s, QLatin1Char(';'));
    cutBefore(s, QLatin1Char('\r'));
    cutBefore(s, QLatin1Char(','));
    s.replace(QLatin1Char('#'), QLatin1Char('.'));
    return s;
}

bool RecentTables::touch(const QString& name) {
    qsizetype found = -1;
    for (qsizetype i = 0; i < entries_.size() && found < 0; ++i)
        if (equalsIgnoringCase(entries_[i], name)) found = i;
    if (found == 0) return false;
    if (found < 0) {
        entries_.append(name);
        found = entries_.size() - 1;
    }
    entries_.move(found, 0);
    return true;
}

}  // namespace tarlo
