// The kinds of value a statement works with, as the old engine typed them:
// what decides how an operator treats its operands.
#pragma once

#include "values/column_types.h"

namespace tarlo {

enum class ValueKind {
    Unknown,  // only known when the statement runs
    Null,
    Number,   // truth values too: -1 and 0
    Text,
    Date,     // a text yyyy/mm/dd[ hh:nn:ss], as tables and #literals# write it: sorts as its moment
    // A date and time as the date functions write it, the way the old engine
    // showed it: hh:nn:ss alone on 1899/12/30 (Time, TimeValue), else as a
    // date. Its text sorts by its moment only beside its own kind's texts
    // ("20:00:00" would sort after "1899/12/31 06:00:00"), so the binder
    // compares it as a Date read from it (tarlo_date), and sorts it and takes
    // its Min and Max by the moment collation. A kind of its own, not a Date
    // flag: every rule that takes a Date stays as it was.
    Time,
};

inline ValueKind kindOf(ColumnType type) {
    switch (type) {
    case ColumnType::Integer:
    case ColumnType::Real: return ValueKind::Number;
    case ColumnType::Date:
    case ColumnType::DateTime: return ValueKind::Date;
    case ColumnType::Text: return ValueKind::Text;
    case ColumnType::Time: return ValueKind::Time;
    }
    return ValueKind::Unknown;
}

}  // namespace tarlo
