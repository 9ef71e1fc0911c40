// The engine's failure texts as the user reads them.
#pragma once

#include <QString>

namespace tarlo {

// SQLite's message in Japanese, with the essential fact (which table,
// column or word) first, since the warning box shows only the text before
// the first "。"; the functions' own messages pass as written.
QString engineMessage(const QString& engineText);

}  // namespace tarlo
