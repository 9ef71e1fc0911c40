// The old engine's aggregates beside SQLite's own: First and Last (the
// value of the group's first and last row as read), and StDev, StDevP,
// Var, VarP over the non-null values; Sum and Avg replace SQLite's. The
// spreads, Sum and Avg work from exact totals, so no order of rows changes them.
#include "functions/function_support.h"
#include "functions/registry.h"
#include "values/spread.h"
#include "values/total.h"

#include <cmath>
#include <new>

namespace tarlo {

namespace {

void spreadStep(sqlite3_context* ctx, int, sqlite3_value** a) {
    auto* s = static_cast<Spread*>(sqlite3_aggregate_context(ctx, sizeof(Spread)));
    if (!s) return sqlite3_result_error_nomem(ctx);
    double x;
    if (isNullArg(a[0])) return;
    if (!numberOf(a[0], x)) return mismatch(ctx, calledFunction(ctx).name);
    s->add(x);
}

template <bool Sample, bool Root>
void spreadFinal(sqlite3_context* ctx) {
    auto* s = static_cast<Spread*>(sqlite3_aggregate_context(ctx, 0));
    const std::optional<double> value = s ? s->value(Sample, Root).value : std::nullopt;
    if (s) s->release();
    if (!value) return sqlite3_result_null(ctx);
    if (!std::isfinite(*value)) return resultError(ctx, u"%1 の結果が数値の範囲を超えました", calledFunction(ctx).name);
    sqlite3_result_double(ctx, *value);
}

struct Kept {
    bool seen;
    sqlite3_value* value;
};

void keep(Kept* k, sqlite3_value* v) {
    if (k->value) sqlite3_value_free(k->value);
    k->value = sqlite3_value_dup(v);
    k->seen = true;
}

template <bool Last>
void keepStep(sqlite3_context* ctx, int, sqlite3_value** a) {
    auto* k = static_cast<Kept*>(sqlite3_aggregate_context(ctx, sizeof(Kept)));
    if (!k) return sqlite3_result_error_nomem(ctx);
    if (Last || !k->seen) {
        keep(k, a[0]);
        if (!k->value && !isNullArg(a[0])) sqlite3_result_error_nomem(ctx);
    }
}

void keptFinal(sqlite3_context* ctx) {
    auto* k = static_cast<Kept*>(sqlite3_aggregate_context(ctx, 0));
    if (!k || !k->value) return sqlite3_result_null(ctx);
    sqlite3_result_value(ctx, k->value);
    sqlite3_value_free(k->value);
    k->value = nullptr;
}

Total* totalOf(sqlite3_context* ctx, bool create) {
    return static_cast<Total*>(sqlite3_aggregate_context(ctx, create ? int(sizeof(Total)) : 0));
}

// A text that reads as a number counts as that number, as in SQLite's sum.
template <bool Inverse>
void totalStep(sqlite3_context* ctx, int, sqlite3_value** a) {
    Total* t = totalOf(ctx, true);
    if (!t) return sqlite3_result_error_nomem(ctx);
    switch (sqlite3_value_numeric_type(a[0])) {
    case SQLITE_NULL: return;
    case SQLITE_INTEGER:
        if (Inverse) t->removeInteger(sqlite3_value_int64(a[0]));
        else t->addInteger(sqlite3_value_int64(a[0]));
        return;
    default:
        if (Inverse) t->removeReal(sqlite3_value_double(a[0]));
        else t->addReal(sqlite3_value_double(a[0]));
    }
}

void resultOutcome(sqlite3_context* ctx, const Total::Outcome& outcome) {
    if (outcome.failure == Total::Failure::RealOverflow)
        return resultError(ctx, u"%1 の合計が大きすぎて数値で表せません。", QString::fromUtf8(calledFunction(ctx).name));
    switch (outcome.kind) {
    case Total::Outcome::Kind::Null: return sqlite3_result_null(ctx);
    case Total::Outcome::Kind::Integer: return sqlite3_result_int64(ctx, outcome.integer);
    case Total::Outcome::Kind::Real: return sqlite3_result_double(ctx, outcome.real);
    }
}

template <bool Average>
void totalValue(sqlite3_context* ctx) {
    const Total* t = totalOf(ctx, false);
    if (!t) return sqlite3_result_null(ctx);
    resultOutcome(ctx, Average ? t->average() : t->sum());
}

template <bool Average>
void totalFinal(sqlite3_context* ctx) {
    Total* t = totalOf(ctx, false);
    totalValue<Average>(ctx);
    if (t) t->reals.release();
}

}  // namespace

std::span<const FunctionDef> aggregateFunctions() {
    static const FunctionDef kTable[] = {
        {"StDev", 1, kNullsHandled, spreadStep, spreadFinal<true, true>},
        {"StDevP", 1, kNullsHandled, spreadStep, spreadFinal<false, true>},
        {"Var", 1, kNullsHandled, spreadStep, spreadFinal<true, false>},
        {"VarP", 1, kNullsHandled, spreadStep, spreadFinal<false, false>},
        // First and Last follow the rows as read, which is no fixed order: volatile.
        {"First", 1, kNullsHandled | kVolatile, keepStep<false>, keptFinal},
        {"Last", 1, kNullsHandled | kVolatile, keepStep<true>, keptFinal},
        {"Sum", 1, kNullsHandled, totalStep<false>, totalFinal<false>, totalValue<false>, totalStep<true>},
        {"Avg", 1, kNullsHandled, totalStep<false>, totalFinal<true>, totalValue<true>, totalStep<true>},
    };
    return kTable;
}

}  // namespace tarlo
