// Sets one key of an INI file the way the Windows profile API does: only that
// line changes, every other section, key, comment and line ending stays.
#pragma once

#include <QByteArray>
#include <QString>

namespace tarlo {

// The content with section/key set to value. Section and key names match
// ignoring ASCII case; a missing key is added at the end of its section, a
// missing section at the end of the file. New lines take the file's own
// line ending (CR LF in a file that has none).
QByteArray setIniValue(const QByteArray& content, const QString& section, const QString& key,
                       const QString& value);

// Reads the file (a missing one is empty), sets the value and writes the
// result safely; on Windows WritePrivateProfileString does it. Throws
// Error "<path> に書き込めません" when it cannot.
void writeIniValue(const QString& path, const QString& section, const QString& key,
                   const QString& value);

}  // namespace tarlo
