// The calls the binder writes where operand kinds differ: a text read as a
// number or a date, and a comparison of kinds only the run tells. A value
// that cannot be read stops the run with a message naming its column, the
// value and the line of the file it stands on.
#pragma once

#include "engine/csv_vtab.h"

namespace tarlo {

// The lookup finds the tables the messages name; it must outlive db.
void registerConversions(sqlite3* db, TableLookup* lookup);

}  // namespace tarlo
