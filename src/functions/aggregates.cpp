// The old engine's aggregates beside SQLite's own: First and Last (the
// value of the group's first and last row as read), and StDev, StDevP,
// Var, VarP over the non-null values, computed with Welford's method so
// large values keep their precision.
#include "functions/function_support.h"
#include "functions/registry.h"

#include <cmath>
#include <new>

namespace tarlo {

namespace {

struct Moments {
    int64_t count;
    double mean;
    double squares;  // sum of squared distances from the mean
};

void spreadStep(sqlite3_context* ctx, int, sqlite3_value** a) {
    auto* m = static_cast<Moments*>(sqlite3_aggregate_context(ctx, sizeof(Moments)));
    if (!m) return sqlite3_result_error_nomem(ctx);
    double x;
    if (isNullArg(a[0])) return;
    if (!numberOf(a[0], x)) return mismatch(ctx, calledFunction(ctx).name);
    ++m->count;
    const double delta = x - m->mean;
    m->mean += delta / double(m->count);
    m->squares += delta * (x - m->mean);
}

template <bool Sample, bool Root>
void spreadFinal(sqlite3_context* ctx) {
    auto* m = static_cast<Moments*>(sqlite3_aggregate_context(ctx, 0));
    const int64_t n = m ? m->count : 0;
    if (n == 0 || (Sample && n < 2)) return sqlite3_result_null(ctx);
    const double variance = m->squares / double(Sample ? n - 1 : n);
    sqlite3_result_double(ctx, Root ? std::sqrt(variance) : variance);
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
    };
    return kTable;
}

}  // namespace tarlo
