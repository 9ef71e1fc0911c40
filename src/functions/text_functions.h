// The old engine's functions, registered on a connection under their own
// names (case-insensitive, as SQLite looks names up): strings, numbers,
// dates and StrConv's width and kana conversions. Nulls pass through as
// the old engine passed them.
#pragma once

struct sqlite3;

namespace tarlo {

void registerJetFunctions(sqlite3* db);

}  // namespace tarlo
