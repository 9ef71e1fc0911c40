// Every SQL function we add to SQLite, one table row each, in the manner of
// SQLite's own built-in function table: the name SQLite looks it up by
// (ignoring case; an operator's internal call name), how many arguments it
// takes, how it treats nulls, and its implementation.
#pragma once

#include <sqlite3.h>

#include <span>

namespace tarlo {

using ScalarFunction = void (*)(sqlite3_context*, int, sqlite3_value**);
using FinalFunction = void (*)(sqlite3_context*);

enum FunctionFlags : unsigned {
    kNullsHandled = 0,   // the function looks at its nulls itself
    kNullFirstGivesNull = 1,  // a null first argument gives null without a call
    kVolatile = 2,       // a new value on every call (Date, Now)
};

struct FunctionDef {
    const char* name;
    int arity;                     // -1: any count, the function checks it
    unsigned flags;
    ScalarFunction call;           // a scalar's body, or an aggregate's step
    FinalFunction final = nullptr; // an aggregate's last call
    // An aggregate that is also a window function: its value so far, and
    // the step that takes a row back out of the frame.
    FinalFunction value = nullptr;
    ScalarFunction inverse = nullptr;
};

// The tables of each family, and all of them.
std::span<const FunctionDef> arithmeticFunctions();
std::span<const FunctionDef> textFunctions();
std::span<const FunctionDef> dateFunctions();
std::span<const FunctionDef> aggregateFunctions();
std::span<const FunctionDef> financialFunctions();

// All of them. Their rows' names are keys of the function catalogue
// (catalogue.h), which says which are registered.
std::span<const std::span<const FunctionDef>> functionTables();

// Registers on db every body whose catalogue row says it is ours.
void registerFunctions(sqlite3* db);

// The row of the function being called, for implementations shared by rows.
const FunctionDef& calledFunction(sqlite3_context* ctx);

}  // namespace tarlo
