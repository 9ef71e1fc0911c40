// What the old engine's functions share: reading arguments as the old
// engine converted them, returning texts, registering a function whose
// null first argument gives null, and its type-mismatch message.
#pragma once

#include "platform/error.h"

#include <QString>

#include <atomic>
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

// The stop flag of the run whose statements this thread steps. The engine
// looks at its own between instructions; a function whose one call may
// take long (a replace over a hundred million characters) looks at it in
// its loops, through listenForStop.
void setStopFlag(const std::atomic<bool>* flag);
const std::atomic<bool>* stopFlag();

// Thrown by listenForStop; the registry turns it into SQLITE_INTERRUPT.
struct StopHeard {};

// Every 65,536 steps, a look at the stop flag.
inline void listenForStop(size_t step) {
    if ((step & 0xFFFF) == 0) {
        const std::atomic<bool>* flag = stopFlag();
        if (flag && flag->load(std::memory_order_relaxed)) throw StopHeard{};
    }
}


}  // namespace tarlo
