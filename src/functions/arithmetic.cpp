// The old engine's operators that SQLite has not, or reads otherwise: "+"
// joining two texts and moving dates, "-" between dates, "/" always
// dividing exactly, "\" and Mod on rounded integers, "^", and Xor, Eqv and
// Imp. Division by zero is an error, as it was, never a silent null.
#include "values/dates.h"
#include "dialect/internal_names.h"
#include "functions/function_support.h"
#include "functions/registry.h"

#include <cmath>

namespace tarlo {

namespace {

void operatorMismatch(sqlite3_context* ctx, const char* op) {
    resultError(ctx, u"演算子 \"%1\" の両辺の型が一致しません", call::writtenAs(QString::fromLatin1(op)));
}

void divisionByZero(sqlite3_context* ctx) {
    resultError(ctx, QStringLiteral("0 で除算しました"));
}

void resultNumber(sqlite3_context* ctx, double value) {
    if (std::isnan(value) || std::isinf(value)) return resultError(ctx, QStringLiteral("計算結果が数値の範囲を超えました"));
    sqlite3_result_double(ctx, value);
}

void resultDate(sqlite3_context* ctx, double serial) {
    const auto packed = packedOfSerial(serial);
    if (!packed) return resultError(ctx, QStringLiteral("日付が範囲 (100 年から 9999 年) を超えました"));
    resultText(ctx, jetDateText(*packed));
}

bool bothIntegers(sqlite3_value** a) {
    return sqlite3_value_type(a[0]) == SQLITE_INTEGER && sqlite3_value_type(a[1]) == SQLITE_INTEGER;
}

// Integer operands as "\" and Mod take them: rounded to even, and small
// enough that no quotient or remainder overflows.
bool roundedOperands(sqlite3_context* ctx, sqlite3_value** a, const char* op, int64_t& x, int64_t& y) {
    double dx, dy;
    if (!numberOf(a[0], dx) || !numberOf(a[1], dy)) return operatorMismatch(ctx, op), false;
    dx = roundHalfEven(dx), dy = roundHalfEven(dy);
    if (std::fabs(dx) >= 9.2e18 || std::fabs(dy) >= 9.2e18)
        return resultError(ctx, QStringLiteral("計算結果が数値の範囲を超えました")), false;
    x = int64_t(dx), y = int64_t(dy);
    if (y == 0) return divisionByZero(ctx), false;
    return true;
}

// -1, 0, or -2 for null; -3 when the value is no truth value at all.
int truthOf(sqlite3_value* v) {
    if (isNullArg(v)) return -2;
    double d;
    if (!numberOf(v, d)) return -3;
    return d != 0 ? -1 : 0;
}

// -1 true, 0 false, -2 null, with the old engine's rules for null.
int xorOf(int x, int y) { return x == -2 || y == -2 ? -2 : (x != y ? -1 : 0); }
int eqvOf(int x, int y) { return x == -2 || y == -2 ? -2 : (x == y ? -1 : 0); }
int impOf(int x, int y) {
    if (x == 0 || y == -1) return -1;
    if (x == -2 || y == -2) return -2;
    return 0;
}

template <int (*Combine)(int, int)>
void logic(sqlite3_context* ctx, int, sqlite3_value** a) {
    const int x = truthOf(a[0]), y = truthOf(a[1]);
    if (x == -3 || y == -3) return operatorMismatch(ctx, calledFunction(ctx).name);
    const int r = Combine(x, y);
    r == -2 ? sqlite3_result_null(ctx) : sqlite3_result_int(ctx, r);
}

}  // namespace

std::span<const FunctionDef> arithmeticFunctions() {
    static const FunctionDef kTable[] = {
        {call::kAdd, 2, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            if (isNullArg(a[1])) return sqlite3_result_null(ctx);
            if (bothIntegers(a)) {
                int64_t sum;
                if (!__builtin_add_overflow(sqlite3_value_int64(a[0]), sqlite3_value_int64(a[1]), &sum))
                    return sqlite3_result_int64(ctx, sum);
            }
            const bool text0 = sqlite3_value_type(a[0]) == SQLITE_TEXT, text1 = sqlite3_value_type(a[1]) == SQLITE_TEXT;
            if (text0 && text1) return resultText(ctx, textArg(a[0]) + textArg(a[1]));
            double x, y;
            const auto date0 = dateOf(a[0]), date1 = dateOf(a[1]);
            if (date0 && numberOf(a[1], y)) return resultDate(ctx, serialOf(*date0) + y);
            if (date1 && numberOf(a[0], x)) return resultDate(ctx, serialOf(*date1) + x);
            if (!numberOf(a[0], x) || !numberOf(a[1], y)) return operatorMismatch(ctx, "+");
            resultNumber(ctx, x + y);
        }},
        {call::kSubtract, 2, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            if (isNullArg(a[1])) return sqlite3_result_null(ctx);
            if (bothIntegers(a)) {
                int64_t difference;
                if (!__builtin_sub_overflow(sqlite3_value_int64(a[0]), sqlite3_value_int64(a[1]), &difference))
                    return sqlite3_result_int64(ctx, difference);
            }
            double x, y;
            const auto date0 = dateOf(a[0]), date1 = dateOf(a[1]);
            if (date0 && date1) return resultNumber(ctx, serialOf(*date0) - serialOf(*date1));
            if (date0 && numberOf(a[1], y)) return resultDate(ctx, serialOf(*date0) - y);
            if (!numberOf(a[0], x) || !numberOf(a[1], y)) return operatorMismatch(ctx, "-");
            resultNumber(ctx, x - y);
        }},
        {call::kDivide, 2, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            if (isNullArg(a[1])) return sqlite3_result_null(ctx);
            double x, y;
            if (!numberOf(a[0], x) || !numberOf(a[1], y)) return operatorMismatch(ctx, "/");
            if (y == 0) return divisionByZero(ctx);
            resultNumber(ctx, x / y);
        }},
        {call::kIntDivide, 2, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            if (isNullArg(a[1])) return sqlite3_result_null(ctx);
            int64_t x, y;
            if (!roundedOperands(ctx, a, "\\", x, y)) return;
            sqlite3_result_int64(ctx, x / y);
        }},
        {call::kMod, 2, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            if (isNullArg(a[1])) return sqlite3_result_null(ctx);
            int64_t x, y;
            if (!roundedOperands(ctx, a, "Mod", x, y)) return;
            sqlite3_result_int64(ctx, x % y);
        }},
        {call::kPower, 2, kNullFirstGivesNull, [](sqlite3_context* ctx, int, sqlite3_value** a) {
            if (isNullArg(a[1])) return sqlite3_result_null(ctx);
            double x, y;
            if (!numberOf(a[0], x) || !numberOf(a[1], y)) return operatorMismatch(ctx, "^");
            if (x < 0 && y != std::floor(y)) return resultError(ctx, QStringLiteral("負の数を小数でべき乗できません"));
            if (x == 0 && y < 0) return divisionByZero(ctx);
            resultNumber(ctx, std::pow(x, y));
        }},
        {call::kXor, 2, kNullsHandled, logic<xorOf>},
        {call::kEqv, 2, kNullsHandled, logic<eqvOf>},
        {call::kImp, 2, kNullsHandled, logic<impOf>},
    };
    return kTable;
}

}  // namespace tarlo
