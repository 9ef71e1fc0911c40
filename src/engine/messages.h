// The engine's failure texts as the user reads them.
#pragma once

#include <QString>

namespace tarlo {

// SQLite's message in Japanese, with the essential fact (which table,
// column or word) first, since the warning box shows only the text before
// the first "。"; the functions' own messages pass as written.
// place, when known, is where in the user's statement the fault stands
// ("2 行目 5 文字目"), named in that first sentence.
QString engineMessage(const QString& engineText, const QString& place = {});

// A statement that does not read as SQL, stopping at word (empty: it ended
// too early), at place.
QString syntaxErrorMessage(const QString& word, const QString& place);

// "2 行目 5 文字目": where offset stands in statement, lines and columns
// counted as placeIn counts them.
QString placeText(const QString& statement, qsizetype offset);

// message with place in its first sentence: "... (SQL 文の 2 行目 5 文字目)。".
QString withPlace(const QString& message, const QString& place);

}  // namespace tarlo
