#include "workspace/field_names.h"

#include <QSet>

namespace tarlo {

QStringList uniqueFieldNames(const QStringList& names) {
    // Every name given is reserved first, so "a", "a", "a_1" gives "a_2" to
    // the second "a" instead of taking the third field's own name.
    QSet<QString> taken;
    for (const QString& name : names) taken.insert(name.toCaseFolded());
    QSet<QString> seen;
    QStringList out;
    for (const QString& name : names) {
        QString unique = name;
        if (seen.contains(name.toCaseFolded())) {
            for (int n = 1;; ++n) {
                unique = name + QLatin1Char('_') + QString::number(n);
                if (!taken.contains(unique.toCaseFolded())) break;
            }
            taken.insert(unique.toCaseFolded());
        }
        seen.insert(unique.toCaseFolded());
        out << unique;
    }
    return out;
}

}  // namespace tarlo
