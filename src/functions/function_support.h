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


}  // namespace tarlo
