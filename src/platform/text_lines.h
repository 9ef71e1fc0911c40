// Line structure of texts: split at CR LF, lone CR and lone LF; joined with
// CR LF after every line. Also the trimming rule (codes 32 and below).
#pragma once

#include <QString>
#include <QStringList>

namespace tarlo {

QStringList splitLines(const QString& text);
QString joinLinesCrLf(const QStringList& lines);  // CR LF after each line, the last included
QString withCrLf(const QString& text);            // every line break as CR LF, nothing added
QString trimControl(const QString& text);         // drops leading and trailing codes <= 32

}  // namespace tarlo
