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
    Date,
};

inline ValueKind kindOf(ColumnType type) {
    switch (type) {
    case ColumnType::Integer:
    case ColumnType::Real: return ValueKind::Number;
    case ColumnType::Date:
    case ColumnType::DateTime: return ValueKind::Date;
    case ColumnType::Text: return ValueKind::Text;
    }
    return ValueKind::Unknown;
}

}  // namespace tarlo
