// Values of a column whose type schema.ini declares: the declared type
// wins over what the values look like, and a value that does not fit it is
// refused (the caller names its line and column), never read as null.
#pragma once

#include "values/column_types.h"
#include "csv/table_format.h"

#include <optional>
#include <string_view>

namespace tarlo {

struct DeclaredValue {
    int64_t integer = 0;  // Integer, and dates as yyyymmddhhmmss
    double real = 0;
    bool hasTime = false;
};

// How the engine stores the declared type; DateTime gives Date here and
// becomes DateTime when a value has a time.
ColumnType storageOf(DeclaredType type);

std::optional<DeclaredValue> readDeclared(DeclaredType type, std::string_view value, const TableFormat& format);

}  // namespace tarlo
