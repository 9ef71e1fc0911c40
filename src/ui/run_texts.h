// The texts a run shows besides its rows: the row count with digits
// grouped ("1,234,567 件"), the window title made of the field names, and
// the count label's text while a run is going.
#pragma once

#include "engine/run_job.h"

#include <QString>
#include <QStringList>

namespace tarlo {

// Digits grouped by threes with the separator (a comma when it is empty).
QString groupedNumber(qulonglong n, QString separator);

// Each name after a blank; "NoName" and what precedes it dropped, an empty
// name shown as "_0"; the whole trimmed.
QString titleOfFields(const QStringList& names);

// What a run is doing: the share of the table file read while reading
// ("読込 45%"), then the rows of the result gathered ("1,024 行"), or,
// while none has come yet (a total, a sort), the table rows gone through
// ("処理 2,500,000 行"); before any of these, "処理中". Never "0 行", which
// reads as an empty result.
QString progressText(const RunJob::Progress& progress, const QString& separator);

}  // namespace tarlo
