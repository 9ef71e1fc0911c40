// What each function gives, for the statement's typed view: a number, a
// text, a date, or a kind only known when it runs (IIf's branches, Nz,
// Min and Max take their argument's), and which functions take numbers only.
#pragma once

#include "dialect/binder.h"
#include "values/value_kind.h"

#include <QString>

namespace tarlo {

// Unknown for a name not in the table.
ValueKind resultKindOf(const QString& function);

// Whether every argument of the function is a number, and who checks it.
NumberArguments numberArgumentsOf(const QString& function);

}  // namespace tarlo
