// What each function gives, for the statement's typed view: a number, a
// text, a date, or a kind only known when it runs (IIf's branches, Nz,
// Min and Max take their argument's).
#pragma once

#include "values/value_kind.h"

#include <QString>

namespace tarlo {

// Unknown for a name not in the table.
ValueKind resultKindOf(const QString& function);

}  // namespace tarlo
