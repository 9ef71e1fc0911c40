// What the old engine's functions share: reading arguments as the old
// engine converted them, returning texts, registering a function whose
// null first argument gives null, and its type-mismatch message.
#pragma once

#include "platform/error.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <sqlite3.h>

namespace tarlo {

inline bool isNullArg(sqlite3_value* v) {
    return sqlite3_value_type(v) == SQLITE_NULL;
}

bool isNumberArg(sqlite3_value* v);
QString textArg(sqlite3_value* v);
void resultText(sqlite3_context* ctx, const QString& text);
void resultError(sqlite3_context* ctx, const QString& message);
// The message made of pattern and args in one pass (a "%1" in a value stays as written).
template <typename... Args>
void resultError(sqlite3_context* ctx, QStringView pattern, const Args&... args) {
    resultError(ctx, formatMessage(pattern, args...));
}
void mismatch(sqlite3_context* ctx, const char* function);

// A number, or a text that reads as one.
bool numberOf(sqlite3_value* v, double& out);

// Banker's rounding, as CInt, CLng, Round, \ and Mod round.
double roundHalfEven(double x);

// yyyymmddhhmmss of a date value (a date text), or nothing.
std::optional<int64_t> dateOf(sqlite3_value* v);

// Registers fn under name; null in the first argument gives null out
// unless the function handles nulls itself.
template <typename Fn>
void define(sqlite3* db, const char* name, int args, Fn fn, bool nullsPass = true, bool deterministic = true) {
    struct Holder {
        Fn fn;
        bool nullsPass;
    };
    auto* holder = new Holder{fn, nullsPass};
    sqlite3_create_function_v2(
        db, name, args, SQLITE_UTF8 | (deterministic ? SQLITE_DETERMINISTIC : 0), holder,
        [](sqlite3_context* ctx, int argc, sqlite3_value** argv) {
            auto* h = static_cast<Holder*>(sqlite3_user_data(ctx));
            if (h->nullsPass && argc > 0 && isNullArg(argv[0])) return sqlite3_result_null(ctx);
            h->fn(ctx, argc, argv);
        },
        nullptr, nullptr, [](void* p) { delete static_cast<Holder*>(p); });
}

void registerJetArithmetic(sqlite3* db);
void registerJetDateFunctions(sqlite3* db);
void registerJetAggregates(sqlite3* db);

}  // namespace tarlo
