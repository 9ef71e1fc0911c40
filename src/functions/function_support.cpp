#include "functions/function_support.h"

#include "values/numbers.h"

#include "values/column_types.h"
#include "values/dates.h"

#include <cfenv>
#include <cmath>

namespace tarlo {

bool isNumberArg(sqlite3_value* v) {
    const int type = sqlite3_value_type(v);
    return type == SQLITE_INTEGER || type == SQLITE_FLOAT;
}

QString textArg(sqlite3_value* v) {
    if (sqlite3_value_type(v) == SQLITE_FLOAT) return QString::fromStdString(formatReal(sqlite3_value_double(v)));
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(v)), sqlite3_value_bytes(v));
}

void resultText(sqlite3_context* ctx, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_result_text(ctx, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void resultError(sqlite3_context* ctx, const QString& message) {
    const QByteArray utf8 = message.toUtf8();
    sqlite3_result_error(ctx, utf8.constData(), int(utf8.size()));
}

void mismatch(sqlite3_context* ctx, const char* function) {
    resultError(ctx, u"%1 の引数の型が一致しません", function);
}

bool numberOf(sqlite3_value* v, double& out) {
    if (isNumberArg(v)) {
        out = sqlite3_value_double(v);
        return true;
    }
    if (isNullArg(v)) return false;
    // As a column's numbers read, leading zeros and all: "007" + 1 = 8, "1,000" + 1 = 1001.
    const auto number = readNumberText({reinterpret_cast<const char*>(sqlite3_value_text(v)), size_t(sqlite3_value_bytes(v))}, true);
    if (number) out = number->real;
    return number.has_value();
}

double roundHalfEven(double x) {
    const int mode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(x);
    std::fesetround(mode);
    return r;
}

std::optional<int64_t> dateOf(sqlite3_value* v) {
    if (sqlite3_value_type(v) != SQLITE_TEXT) return std::nullopt;
    // Read in place: date functions run once per row and cell.
    std::string_view text(reinterpret_cast<const char*>(sqlite3_value_text(v)), size_t(sqlite3_value_bytes(v)));
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return parseJetDate(text);
}

namespace {
thread_local const std::atomic<bool>* tStopFlag = nullptr;
}  // namespace

void setStopFlag(const std::atomic<bool>* flag) {
    tStopFlag = flag;
}

const std::atomic<bool>* stopFlag() {
    return tStopFlag;
}

}  // namespace tarlo
