// A column's type from the shapes of all its values.
#include "values/column_types.h"

#include <limits>

namespace tarlo {

std::string_view withoutBlanks(std::string_view v) {
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    return v;
}

bool isNullText(std::string_view value) {
    value = withoutBlanks(value);
    return value.empty() || isNullToken(value);
}

ValueShape shapeOf(std::string_view value) {
    ValueShape shape;
    if (const auto number = readNumberText(value)) {
        // The smallest 64-bit value stands for null in an integer column.
        shape.integer = number->integer && number->whole != std::numeric_limits<int64_t>::min();
        shape.real = true;
        return shape;
    }
    if (const auto date = readDateText(withoutBlanks(value))) {
        shape.date = true;
        shape.time = date->hasTime;
    }
    return shape;
}

void TypeInference::add(std::string_view value) {
    if (isNullText(value)) return;
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
