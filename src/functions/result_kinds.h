// What each function gives, for the statement's typed view: a number, a
// text, a date, or a kind only known when it runs (IIf's branches, Nz,
// Min and Max take their argument's), and which functions take numbers only.
#pragma once

#include "dialect/binder.h"
#include "values/value_kind.h"

#include <QString>

#include <optional>

namespace tarlo {

// Unknown for a name not in the table.
ValueKind resultKindOf(const QString& function);

// Whether every argument of the function is a number, and who checks it.
NumberArguments numberArgumentsOf(const QString& function);

// How many arguments a function that takes a range of counts (or refuses a
// count SQLite's function of its name takes) accepts; nothing for the rest,
// whose count SQLite checks itself.
std::optional<ArgumentCount> argumentCountOf(const QString& function);

}  // namespace tarlo
