// A column's type from the shapes of all its values.
#include "values/column_types.h"

#include <limits>

namespace tarlo {

ValueShape shapeOf(std::string_view value) {
    ValueShape shape;
    const NumberShape number = numberShapeOf(value);
    if (number.valid) {
        if (value == "-0") return shape;  // the sign would be lost
        // The smallest 64-bit value stands for null in an integer column.
        const auto integer = number.fraction ? std::nullopt : parseInteger(value);
        shape.integer = integer.has_value() && *integer != std::numeric_limits<int64_t>::min();
        shape.real = number.significantDigits <= 15;
        return shape;
    }
    if (const auto date = readDateText(value)) {
        shape.date = true;
        shape.time = date->hasTime;
    }
    return shape;
}

void TypeInference::add(std::string_view value) {
    if (value.empty()) return;
    any_ = true;
    if (!integer_ && !real_ && !date_) return;
    const ValueShape shape = shapeOf(value);
    integer_ = integer_ && shape.integer;
    real_ = real_ && shape.real;
    date_ = date_ && shape.date;
    time_ = time_ || shape.time;
}

ColumnType TypeInference::type() const {
    if (!any_) return ColumnType::Text;
    if (integer_) return ColumnType::Integer;
    if (real_) return ColumnType::Real;
    if (date_) return time_ ? ColumnType::DateTime : ColumnType::Date;
    return ColumnType::Text;
}

}  // namespace tarlo
