// Registers the function tables on a connection.
#include "functions/registry.h"

#include "functions/catalogue.h"
#include "functions/function_support.h"

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

std::span<const std::span<const FunctionDef>> functionTables() {
    static const std::span<const FunctionDef> kTables[] = {arithmeticFunctions(), textFunctions(), dateFunctions(),
                                                           aggregateFunctions(), financialFunctions()};
    return kTables;
}

void registerFunctions(sqlite3* db) {
    for (const auto table : functionTables()) {
        for (const FunctionDef& def : table) {
            // Only a body the catalogue names as ours is reachable.
            const FunctionRow* row = catalogueRow(def.name);
            if (!row || (row->body != Body::Ours && row->body != Body::SqliteAndOurs)) continue;
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

}  // namespace tarlo
