#include "ui/run_texts.h"

#include "platform/text_lines.h"

namespace tarlo {

QString groupedNumber(qulonglong n, QString separator) {
    if (separator.isEmpty()) separator = QStringLiteral(",");
    QString digits = QString::number(n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, separator);
    return digits;
}

QString titleOfFields(const QStringList& names) {
    QString title;
    for (QString name : names) {
        const qsizetype at = name.indexOf(QLatin1String("NoName"));
        if (at >= 0) name.remove(0, at + 6);
        title += QLatin1Char(' ') + (name.isEmpty() ? QStringLiteral("_0") : name);
    }
    return trimControl(title);
}

QString progressText(const RunJob::Progress& p, const QString& separator) {
    if (p.fileShare >= 0) return QStringLiteral("読込 %1%").arg(int(p.fileShare * 100));
    // A file too big to hold, read a piece at a time as the statement runs.
    if (p.piecesShare >= 0) return QStringLiteral("分割読込 %1%").arg(int(p.piecesShare * 100));
    if (p.rows > 0) return groupedNumber(p.rows, separator) + QStringLiteral(" 行");
    if (p.rowsVisited == 0) return QStringLiteral("処理中");
    return QStringLiteral("処理 ") + groupedNumber(p.rowsVisited, separator) + QStringLiteral(" 行");
}

}  // namespace tarlo
