// Field names made unique, for outputs whose readers key fields by name
// (tarlo-query's JSON objects): SELECT a, a gives "a" and "a_1".
#pragma once

#include <QStringList>

namespace tarlo {

// Each name that an earlier one already has (ignoring case, as names are
// matched everywhere else) gets "_1", "_2", ... appended, the first suffix
// no other name has; unique names stay as they are.
QStringList uniqueFieldNames(const QStringList& names);

}  // namespace tarlo
