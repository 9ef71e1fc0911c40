// The engine's failure texts as the user reads them.
#pragma once

#include <QString>

namespace tarlo {

// SQLite's message in Japanese, with the essential fact (which table,
// column or word) first, since the warning box shows only the text before
// the first "。"; the functions' own messages pass as written.
// place, when known, is where in the user's statement a syntax error
// stands: "2 行目 5 文字目".
QString engineMessage(const QString& engineText, const QString& place = {});

// The line and column in statement of the word at fault in a syntax error
// that SQLite found at byte offset of prepared, the statement as rewritten;
// empty when the word is not the user's.
QString placeInStatement(const QString& statement, const QByteArray& prepared, int offset, const QString& word);

}  // namespace tarlo
