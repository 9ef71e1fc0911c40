// The old engine's operators that SQLite has not, or reads otherwise: "+"
// joining two texts and moving dates, "-" between dates, "*" refusing a
// product past the reals' range, "/" always
// dividing exactly, "\" and Mod on rounded integers, "^", and Xor, Eqv and
// Imp. Division by zero is an error, as it was, never a silent null.
#include "values/dates.h"
#include "dialect/internal_names.h"
#include "functions/function_support.h"
#include "functions/registry.h"

#include "values/numbers.h"

#include <cmath>
#include <optional>

namespace tarlo {

namespace {

QString mismatchText(const char* op) {
    return formatMessage(u"演算子 \"%1\" の両辺の型が一致しません", call::writtenAs(QString::fromLatin1(op)));
}

void operatorMismatch(sqlite3_context* ctx, const char* op) {
    resultError(ctx, mismatchText(op));
}

const QString kDivisionByZero = QStringLiteral("0 で除算しました");
const QString kOutOfRange = QStringLiteral("計算結果が数値の範囲を超えました");

// An operand of a chain (a + b + c), or its result so far, as an
// sqlite3_value holds it; a failed step leaves its message instead.
struct Term {
    int type = SQLITE_NULL;  // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT or SQLITE_NULL
    int64_t integer = 0;
    double real = 0;
    QString text;
    QString error;

    static Term of(sqlite3_value* v) {
        Term t;
        t.type = sqlite3_value_type(v);
        if (t.type == SQLITE_INTEGER) t.integer = sqlite3_value_int64(v);
        else if (t.type == SQLITE_FLOAT) t.real = sqlite3_value_double(v);
        else if (t.type != SQLITE_NULL) t.type = SQLITE_TEXT, t.text = textArg(v);
        return t;
    }
    static Term failed(const QString& message) {
        Term t;
        t.error = message;
        return t;
    }
    static Term whole(int64_t value) {
        Term t;
        t.type = SQLITE_INTEGER;
        t.integer = value;
        return t;
    }
    static Term number(double value) {
        if (std::isnan(value) || std::isinf(value)) return failed(kOutOfRange);
        Term t;
        t.type = SQLITE_FLOAT;
        t.real = value;
        return t;
    }
    static Term date(double serial) {
        const auto packed = packedOfSerial(serial);
        if (!packed) return failed(QStringLiteral("日付が範囲 (100 年から 9999 年) を超えました"));
        Term t;
        t.type = SQLITE_TEXT;
        t.text = jetDateText(*packed);
        return t;
    }

    bool isNull() const { return type == SQLITE_NULL; }
    bool toNumber(double& out) const {
        if (type == SQLITE_INTEGER) return out = double(integer), true;
        if (type == SQLITE_FLOAT) return out = real, true;
        if (type != SQLITE_TEXT) return false;
        const auto n = readNumberText(text.toStdString(), true);
        if (n) out = n->real;
        return n.has_value();
    }
    std::optional<int64_t> toDate() const {
        if (type != SQLITE_TEXT) return std::nullopt;
        return parseJetDate(text.trimmed().toStdString());
    }
    void result(sqlite3_context* ctx) const {
        if (!error.isEmpty()) return resultError(ctx, error);
        switch (type) {
        case SQLITE_INTEGER: return sqlite3_result_int64(ctx, integer);
        case SQLITE_FLOAT: return sqlite3_result_double(ctx, real);
        case SQLITE_TEXT: return resultText(ctx, text);
        default: return sqlite3_result_null(ctx);
        }
    }
};

// "+": adds numbers, joins two texts, moves a date by days.
Term add(const Term& a, const Term& b) {
    if (a.type == SQLITE_INTEGER && b.type == SQLITE_INTEGER) {
        int64_t sum;
        if (!__builtin_add_overflow(a.integer, b.integer, &sum)) return Term::whole(sum);
    }
    if (a.type == SQLITE_TEXT && b.type == SQLITE_TEXT) {
        Term t = a;
        t.text += b.text;
        return t;
    }
    double x, y;
    const auto date0 = a.toDate(), date1 = b.toDate();
    if (date0 && b.toNumber(y)) return Term::date(serialOf(*date0) + y);
    if (date1 && a.toNumber(x)) return Term::date(serialOf(*date1) + x);
    if (!a.toNumber(x) || !b.toNumber(y)) return Term::failed(mismatchText("+"));
    return Term::number(x + y);
}

// "-": numbers, a date less days, and the days between two dates.
Term subtract(const Term& a, const Term& b) {
    if (a.type == SQLITE_INTEGER && b.type == SQLITE_INTEGER) {
        int64_t difference;
        if (!__builtin_sub_overflow(a.integer, b.integer, &difference)) return Term::whole(difference);
    }
    double x, y;
    const auto date0 = a.toDate(), date1 = b.toDate();
    if (date0 && date1) return Term::number(serialOf(*date0) - serialOf(*date1));
    if (date0 && b.toNumber(y)) return Term::date(serialOf(*date0) - y);
    if (!a.toNumber(x) || !b.toNumber(y)) return Term::failed(mismatchText("-"));
    return Term::number(x - y);
}

// "*": whole numbers while the product fits, else reals; a product past
// the reals' range is an error, where SQLite's own gives infinity.
Term multiply(const Term& a, const Term& b) {
    if (a.type == SQLITE_INTEGER && b.type == SQLITE_INTEGER) {
        int64_t product;
        if (!__builtin_mul_overflow(a.integer, b.integer, &product)) return Term::whole(product);
    }
    double x, y;
    if (!a.toNumber(x) || !b.toNumber(y)) return Term::failed(mismatchText("*"));
    return Term::number(x * y);
}

Term divide(const Term& a, const Term& b) {
    double x, y;
    if (!a.toNumber(x) || !b.toNumber(y)) return Term::failed(mismatchText("/"));
    if (y == 0) return Term::failed(kDivisionByZero);
    return Term::number(x / y);
}

// Integer operands as "\" and Mod take them: rounded to even, and small
// enough that no quotient or remainder overflows.
template <bool Remainder>
Term integerDivide(const Term& a, const Term& b) {
    const char* op = Remainder ? "Mod" : "\\";
    double dx, dy;
    if (!a.toNumber(dx) || !b.toNumber(dy)) return Term::failed(mismatchText(op));
    dx = roundHalfEven(dx), dy = roundHalfEven(dy);
    if (std::fabs(dx) >= 9.2e18 || std::fabs(dy) >= 9.2e18) return Term::failed(kOutOfRange);
    const auto x = int64_t(dx), y = int64_t(dy);
    if (y == 0) return Term::failed(kDivisionByZero);
    return Term::whole(Remainder ? x % y : x / y);
}

Term power(const Term& a, const Term& b) {
    double x, y;
    if (!a.toNumber(x) || !b.toNumber(y)) return Term::failed(mismatchText("^"));
    if (x < 0 && y != std::floor(y)) return Term::failed(QStringLiteral("負の数を小数でべき乗できません"));
    if (x == 0 && y < 0) return Term::failed(kDivisionByZero);
    return Term::number(std::pow(x, y));
}

// a op b op c ..., left to right, as the old engine evaluated it; a null
// anywhere gives null.
template <Term (*Step)(const Term&, const Term&)>
void chain(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc < 2) return resultError(ctx, QStringLiteral("演算子の右辺がありません"));
    for (int i = 0; i < argc; ++i)
        if (isNullArg(argv[i])) return sqlite3_result_null(ctx);
    Term acc = Term::of(argv[0]);
    for (int i = 1; i < argc && acc.error.isEmpty(); ++i) acc = Step(acc, Term::of(argv[i]));
    acc.result(ctx);
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
        {call::kAdd, -1, kNullsHandled, chain<add>},
        {call::kSubtract, -1, kNullsHandled, chain<subtract>},
        {call::kMultiply, -1, kNullsHandled, chain<multiply>},
        {call::kDivide, -1, kNullsHandled, chain<divide>},
        {call::kIntDivide, -1, kNullsHandled, chain<integerDivide<false>>},
        {call::kMod, -1, kNullsHandled, chain<integerDivide<true>>},
        {call::kPower, -1, kNullsHandled, chain<power>},
        {call::kXor, 2, kNullsHandled, logic<xorOf>},
        {call::kEqv, 2, kNullsHandled, logic<eqvOf>},
        {call::kImp, 2, kNullsHandled, logic<impOf>},
    };
    return kTable;
}

}  // namespace tarlo
