// The old engine's aggregates beside SQLite's own: First and Last (the
// value of the group's first and last row as read), and StDev, StDevP,
// Var, VarP over the non-null values, computed with Welford's method so
// large values keep their precision.
#include "functions/function_support.h"

#include <cmath>
#include <new>

namespace tarlo {

namespace {

struct Moments {
    int64_t count;
    double mean;
    double squares;  // sum of squared distances from the mean
};

template <bool Sample, bool Root>
void defineSpread(sqlite3* db, const char* name) {
    sqlite3_create_function_v2(
        db, name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, const_cast<char*>(name), nullptr,
        [](sqlite3_context* ctx, int, sqlite3_value** a) {
            auto* m = static_cast<Moments*>(sqlite3_aggregate_context(ctx, sizeof(Moments)));
            if (!m) return sqlite3_result_error_nomem(ctx);
            double x;
            if (isNullArg(a[0])) return;
            if (!numberOf(a[0], x)) return mismatch(ctx, static_cast<const char*>(sqlite3_user_data(ctx)));
            ++m->count;
            const double delta = x - m->mean;
            m->mean += delta / double(m->count);
            m->squares += delta * (x - m->mean);
        },
        [](sqlite3_context* ctx) {
            auto* m = static_cast<Moments*>(sqlite3_aggregate_context(ctx, 0));
            const int64_t n = m ? m->count : 0;
            if (n == 0 || (Sample && n < 2)) return sqlite3_result_null(ctx);
            const double variance = m->squares / double(Sample ? n - 1 : n);
            sqlite3_result_double(ctx, Root ? std::sqrt(variance) : variance);
        },
        nullptr);
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
void defineFirstOrLast(sqlite3* db, const char* name) {
    sqlite3_create_function_v2(
        db, name, 1, SQLITE_UTF8, nullptr, nullptr,
        [](sqlite3_context* ctx, int, sqlite3_value** a) {
            auto* k = static_cast<Kept*>(sqlite3_aggregate_context(ctx, sizeof(Kept)));
            if (!k) return sqlite3_result_error_nomem(ctx);
            if (Last || !k->seen) {
                keep(k, a[0]);
                if (!k->value && !isNullArg(a[0])) sqlite3_result_error_nomem(ctx);
            }
        },
        [](sqlite3_context* ctx) {
            auto* k = static_cast<Kept*>(sqlite3_aggregate_context(ctx, 0));
            if (!k || !k->value) return sqlite3_result_null(ctx);
            sqlite3_result_value(ctx, k->value);
            sqlite3_value_free(k->value);
            k->value = nullptr;
        },
        nullptr);
}

}  // namespace

void registerJetAggregates(sqlite3* db) {
    defineSpread<true, true>(db, "StDev");
    defineSpread<false, true>(db, "StDevP");
    defineSpread<true, false>(db, "Var");
    defineSpread<false, false>(db, "VarP");
    defineFirstOrLast<false>(db, "First");
    defineFirstOrLast<true>(db, "Last");
}

}  // namespace tarlo
