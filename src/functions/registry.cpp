// Registers the function tables on a connection.
#include "functions/registry.h"

#include "functions/function_support.h"

namespace tarlo {

namespace {

void callScalar(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const FunctionDef& def = calledFunction(ctx);
    if ((def.flags & kNullFirstGivesNull) && argc > 0 && isNullArg(argv[0])) return sqlite3_result_null(ctx);
    def.call(ctx, argc, argv);
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
            if (def.final) sqlite3_create_function_v2(db, def.name, def.arity, encoding, self, nullptr, def.call, def.final, nullptr);
            else sqlite3_create_function_v2(db, def.name, def.arity, encoding, self, callScalar, nullptr, nullptr, nullptr);
        }
    }
}

}  // namespace tarlo
