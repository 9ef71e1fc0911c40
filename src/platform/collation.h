// The user locale's case-insensitive comparison, used wherever names are
// ordered or looked up the way the user reads them (tabs, keys, tables).
#pragma once

#include <QString>

namespace tarlo {

int compareIgnoringCase(const QString& a, const QString& b);
bool equalsIgnoringCase(const QString& a, const QString& b);

}  // namespace tarlo
