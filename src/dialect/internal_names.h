// The calls the SQL writer puts in where the user wrote an operator or a
// word SQLite reads otherwise, each with what the user wrote. The function
// library registers its implementations under these names, and every
// message shows the user's word instead, so no internal name reaches a user.
#pragma once

#include "dialect/sql_lexer.h"

#include <QString>

namespace tarlo::call {

inline constexpr char kAdd[] = "tarlo_add";          // +
inline constexpr char kSubtract[] = "tarlo_sub";     // -
inline constexpr char kMultiply[] = "tarlo_mul";     // *
inline constexpr char kDivide[] = "tarlo_div";       // /
inline constexpr char kIntDivide[] = "tarlo_intdiv"; // \ (backslash)
inline constexpr char kMod[] = "tarlo_mod";          // Mod
inline constexpr char kPower[] = "tarlo_pow";        // ^
inline constexpr char kConcat[] = "tarlo_concat";    // &
inline constexpr char kXor[] = "tarlo_xor";          // Xor
inline constexpr char kEqv[] = "tarlo_eqv";          // Eqv
inline constexpr char kImp[] = "tarlo_imp";          // Imp
inline constexpr char kLeft[] = "tarlo_left";        // Left(
inline constexpr char kRight[] = "tarlo_right";      // Right(
inline constexpr char kIsNull[] = "tarlo_isnull";    // IsNull(
inline constexpr char kPartition[] = "tarlo_partition";  // Partition(
inline constexpr char kChooseIndex[] = "tarlo_choose"; // Choose's index, rounded as Round rounds
// Written by the binder where operand types differ (see binder.h).
inline constexpr char kNumberOf[] = "tarlo_number";  // a text compared with or added to a number
inline constexpr char kDateOf[] = "tarlo_date";      // a text or number compared with a date
inline constexpr char kSerialOf[] = "tarlo_serial";  // a date given to CDbl, CLng, Int...: its serial day
inline constexpr char kTruthOf[] = "tarlo_truth";    // a text standing as a condition (WHERE code)
inline constexpr char kCompare[] = "tarlo_compare";  // a comparison of kinds only known at run time
inline constexpr char kMaxOf[] = "tarlo_max";       // Max(a, b, ...), SQLite's scalar form, by our comparison
inline constexpr char kMinOf[] = "tarlo_min";       // Min(a, b, ...)
inline constexpr char kNullIfMoment[] = "tarlo_nullif_moment";  // NullIf(a, b) of a time: the same moment
inline constexpr char kRank[] = "tarlo_rank";        // a row's rank, where TOP keeps rows that tie

// What the user wrote for an internal name (ignoring case); any other word
// comes back as it is.
QString writtenAs(const QString& word);

// The text with every internal name in it replaced by what the user wrote.
QString withWrittenNames(const QString& text);

// The name a call written as word before "(" is made by, where it differs:
// Left, Right, IsNull and Partition by their internal names (SQLite reads
// the words as keywords), and the "$" forms (Left$, Mid$, Format$, ...) by their plain
// functions, which give the same text. Else null.
const char* calledAs(const QString& word);

// The call an operator of the old engine becomes (^ / \ Mod + - & Xor Eqv
// Imp), or null for an operator SQLite reads as the old engine did.
const char* operatorFunction(const Token& op);
// A run of one such operator is one call of at most this many arguments;
// a longer run goes on in a call around it (SQLite takes 127 in a call).
inline constexpr int kMaxRunArguments = 100;

}  // namespace tarlo::call
