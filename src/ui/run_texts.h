// The texts a run shows besides its rows: the row count with digits
// grouped ("1,234,567 件") and the window title made of the field names.
#pragma once

#include <QString>
#include <QStringList>

namespace tarlo {

// Digits grouped by threes with the separator (a comma when it is empty).
QString groupedNumber(qulonglong n, QString separator);

// Each name after a blank; "NoName" and what precedes it dropped, an empty
// name shown as "_0"; the whole trimmed.
QString titleOfFields(const QStringList& names);

}  // namespace tarlo
