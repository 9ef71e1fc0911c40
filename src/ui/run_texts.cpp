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

}  // namespace tarlo
