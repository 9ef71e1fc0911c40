// A column's type from all its values, each read once.
#include "values/column_types.h"

#include <limits>

namespace tarlo {

TypeInference::Reading TypeInference::add(std::string_view value) {
    Reading r;
    if (decided()) return r.kind = Reading::Text, r;  // text already, since a value made it so
    if (isNullText(value)) return r;
    any_ = true;
    if (integer_ || real_) {
        if (const auto number = readNumberText(value)) {
            date_ = false;
            r.significantDigits = number->significantDigits;
            // The smallest 64-bit value stands for null in an integer column.
            if (integer_ && number->integer && number->whole != std::numeric_limits<int64_t>::min()) {
                r.kind = Reading::Integer;
                r.integer = number->whole;
                return r;
            }
            integer_ = false;
            r.kind = Reading::Real;
            r.real = number->real;
            return r;
        }
        integer_ = real_ = false;
    }
    if (date_) {
        if (const auto date = readDateText(withoutBlanks(value))) {
            time_ = time_ || date->hasTime;
            r.kind = Reading::Date;
            r.integer = date->packed;
            return r;
        }
        date_ = false;
    }
    r.kind = Reading::Text;
    return r;
}

ColumnType TypeInference::type() const {
    if (!any_) return ColumnType::Text;
    if (integer_) return ColumnType::Integer;
    if (real_) return ColumnType::Real;
    if (date_) return time_ ? ColumnType::DateTime : ColumnType::Date;
    return ColumnType::Text;
}

}  // namespace tarlo
