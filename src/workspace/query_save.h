// Saving the SQL editor's text: over its query file, or as a copy whose
// name carries the date and time ('q~sales.txt' on 7 December at 23:35:47
// gives 'q~sa_Dec07_2335_47.txt').
#pragma once

#include "platform/text_encoding.h"

#include <QDateTime>
#include <QString>

namespace tarlo {

// Folder, the stem cut to four bytes (never inside a character), "_", the
// month of the first reading, "dd_hhnn_ss" of the second, ".txt".
QString queryCopyPath(const QString& currentPath, const QDateTime& firstReading,
                      const QDateTime& secondReading);

// Writes text (any line breaks become CR LF, nothing is added at the end) to
// path in the given encoding and spelling, safely: a failed write leaves the old content.
// Throws Error 'ファイル "<path>". <reason> を作成できません', or the encoding's
// message when a character does not fit it; nothing is written then.
void saveQueryText(const QString& path, const QString& text, const TextSpelling& spelling);

// How to write path back: in the encoding its bytes are in now, each
// character with the code the file gives it.
TextSpelling spellingOfFile(const QString& path);

}  // namespace tarlo
