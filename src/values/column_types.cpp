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
            if (integer_ && number->integer) {
                lowest_ = lowest_ || number->whole == std::numeric_limits<int64_t>::min();
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
            timesOnly_ = false;
            r.kind = Reading::Date;
            r.integer = date->packed;
            return r;
        }
        // A time of day alone: a column of them is a time column; beside dates, a date on 1899/12/30.
        if (const auto time = readTimeText(value)) {
            time_ = true;
            r.kind = Reading::Date;
            r.integer = *time;
            return r;
        }
        date_ = false;
    }
    r.kind = Reading::Text;
    return r;
}

void TypeInference::note(std::string_view value) {
    if (decided()) return;
    if ((integer_ || real_) && !value.empty()) {
        const size_t wholeStart = value[0] == '-' ? 1 : 0;
        size_t at = wholeStart;
        while (at < value.size() && value[at] >= '0' && value[at] <= '9') ++at;
        const size_t wholeDigits = at - wholeStart;
        // No leading zero before more digits: "007" is a code, which add decides.
        if (wholeDigits >= 1 && wholeDigits <= 18 && (wholeDigits == 1 || value[wholeStart] != '0')) {
            if (at == value.size()) {
                any_ = true;
                date_ = false;
                return;
            }
            if (value[at] == '.') {
                const size_t fractionStart = ++at;
                while (at < value.size() && value[at] >= '0' && value[at] <= '9') ++at;
                if (at == value.size() && at > fractionStart && wholeDigits + (at - fractionStart) <= 15) {
                    any_ = true;
                    date_ = false;
                    integer_ = false;
                    return;
                }
            }
        }
    }
    add(value);
}

ColumnType TypeInference::type() const {
    if (!any_) return ColumnType::Text;
    if (integer_) return ColumnType::Integer;
    if (real_) return ColumnType::Real;
    if (date_) return timesOnly_ ? ColumnType::Time : time_ ? ColumnType::DateTime : ColumnType::Date;
    return ColumnType::Text;
}

}  // namespace tarlo
