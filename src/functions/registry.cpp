// Registers the function tables on a connection.
#include "functions/registry.h"

#include "dialect/internal_names.h"
#include "functions/function_support.h"

#include <cctype>
#include <new>

namespace tarlo {

namespace {

// No exception may cross SQLite's frames: a heard stop ends the statement
// as an interrupt does, a failed allocation as SQLite's own would.
template <typename Call>
void guardedCall(sqlite3_context* ctx, Call call) {
    try {
        call();
    } catch (const StopHeard&) {
        sqlite3_result_error_code(ctx, SQLITE_INTERRUPT);
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(ctx);
    }
}

void callScalar(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const FunctionDef& def = calledFunction(ctx);
    if ((def.flags & kNullFirstGivesNull) && argc > 0 && isNullArg(argv[0])) return sqlite3_result_null(ctx);
    guardedCall(ctx, [&] { def.call(ctx, argc, argv); });
}

void callStep(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    guardedCall(ctx, [&] { calledFunction(ctx).call(ctx, argc, argv); });
}

void callFinal(sqlite3_context* ctx) {
    guardedCall(ctx, [&] { calledFunction(ctx).final(ctx); });
}

void callValue(sqlite3_context* ctx) {
    guardedCall(ctx, [&] { calledFunction(ctx).value(ctx); });
}

void callInverse(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    guardedCall(ctx, [&] { calledFunction(ctx).inverse(ctx, argc, argv); });
}

}  // namespace

const FunctionDef& calledFunction(sqlite3_context* ctx) {
    return *static_cast<const FunctionDef*>(sqlite3_user_data(ctx));
}

void registerFunctions(sqlite3* db) {
    for (const auto table : {arithmeticFunctions(), textFunctions(), dateFunctions(), aggregateFunctions()}) {
        for (const FunctionDef& def : table) {
            const int encoding = SQLITE_UTF8 | ((def.flags & kVolatile) ? 0 : SQLITE_DETERMINISTIC);
            void* self = const_cast<FunctionDef*>(&def);
            if (def.value)
                sqlite3_create_window_function(db, def.name, def.arity, encoding, self, callStep, callFinal, callValue,
                                               callInverse, nullptr);
            else if (def.final) sqlite3_create_function_v2(db, def.name, def.arity, encoding, self, nullptr, callStep, callFinal, nullptr);
            else sqlite3_create_function_v2(db, def.name, def.arity, encoding, self, callScalar, nullptr, nullptr, nullptr);
        }
    }
}

namespace {

// SQLite's own functions a statement may call.
constexpr const char* kSqliteBuiltins[] = {
    "->", "->>", "abs", "acos", "acosh", "asin", "asinh", "atan", "atan2", "atanh", "avg", "ceil", "ceiling", "char",
    "coalesce", "concat", "concat_ws", "cos", "cosh", "count", "cume_dist", "date", "datetime", "degrees", "dense_rank",
    "exp", "first_value", "floor", "format", "glob", "group_concat", "hex", "ifnull", "iif", "instr", "json",
    "json_array", "json_array_length", "json_extract", "json_group_array", "json_group_object", "json_insert",
    "json_object", "json_patch", "json_quote", "json_remove", "json_replace", "json_set", "json_type", "json_valid",
    "julianday", "lag", "last_value", "lead", "length", "like", "likelihood", "likely", "ln", "log", "log10", "log2",
    "lower", "ltrim", "max", "min", "mod", "nth_value", "ntile", "nullif", "percent_rank", "pi", "pow", "power",
    "printf", "quote", "radians", "random", "rank", "replace", "round", "row_number", "rtrim", "sign", "sin", "sinh",
    "soundex", "sqrt", "strftime", "string_agg", "substr", "substring", "sum", "tan", "tanh", "time", "total", "trim",
    "trunc", "typeof", "unicode", "unixepoch", "unlikely", "upper",
};

bool equalsIgnoringAsciiCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
    return *a == *b;
}

}  // namespace

bool isAllowedFunction(const char* name) {
    if (!name) return false;
    for (const char* builtin : kSqliteBuiltins)
        if (equalsIgnoringAsciiCase(name, builtin)) return true;
    for (const char* internal : {call::kNumberOf, call::kDateOf, call::kCompare})
        if (equalsIgnoringAsciiCase(name, internal)) return true;
    for (const auto table : {arithmeticFunctions(), textFunctions(), dateFunctions(), aggregateFunctions()})
        for (const FunctionDef& def : table)
            if (equalsIgnoringAsciiCase(name, def.name)) return true;
    return false;
}

}  // namespace tarlo
