// Column types, told from every value of a column (not a sample): integer,
// real, date, date-time or text. A value with a leading zero keeps its
// column text, so codes are never changed.
#pragma once

#include "values/dates.h"
#include "values/numbers.h"

#include <string_view>

namespace tarlo {

enum class ColumnType { Integer, Real, Date, DateTime, Text };

// What one non-empty value could be.
struct ValueShape {
    bool integer = false;   // fits 64 bits, no leading zero
    bool real = false;      // decimal with "." (integers too), at most 15 significant digits
    bool date = false;      // a real calendar date
    bool time = false;      // ... followed by a time
};
ValueShape shapeOf(std::string_view value);

// Folds the shapes of a column's values into its type.
class TypeInference {
public:
    void add(std::string_view value);
    ColumnType type() const;

private:
    bool any_ = false;
    bool integer_ = true;
    bool real_ = true;
    bool date_ = true;
    bool time_ = false;
};

}  // namespace tarlo
