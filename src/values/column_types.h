// Column types, told from every value of a column (not a sample): integer,
// real, date, date-time or text. A value with a leading zero keeps its
// column text, so codes are never changed; the null tokens (NA, N/A, #N/A,
// NULL) are nulls in a column of numbers or dates and never make it text.
#pragma once

#include "values/dates.h"
#include "values/numbers.h"

#include <string_view>

namespace tarlo {

enum class ColumnType { Integer, Real, Date, DateTime, Text };

// What one non-empty value could be.
struct ValueShape {
    bool integer = false;   // a whole number that fits 64 bits
    bool real = false;      // any number (integers too)
    bool date = false;      // a real calendar date
    bool time = false;      // ... followed by a time
};
ValueShape shapeOf(std::string_view value);

// The value without the blanks around it, as numbers and dates are read.
std::string_view withoutBlanks(std::string_view value);
// Blank, or a null token: a null in a column of numbers or dates.
bool isNullText(std::string_view value);

// Folds the shapes of a column's values into its type.
class TypeInference {
public:
    void add(std::string_view value);
    ColumnType type() const;

private:
    bool any_ = false;      // a value that is no null token
    bool integer_ = true;
    bool real_ = true;
    bool date_ = true;
    bool time_ = false;
};

}  // namespace tarlo
