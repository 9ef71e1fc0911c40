// The old engine's operators, rewritten into calls that keep its meaning
// and its precedence: ^ above unary minus, then * /, \, Mod, + -, &, and
// below the comparisons and And/Or, Xor, Eqv and Imp. Operands are found by
// walking the tokens with those precedences, so a Mod b * c stays
// a Mod (b * c) as it was.
#pragma once

#include "dialect/sql_lexer.h"

#include <vector>

namespace tarlo {

// Throws Error naming an operator that lacks an operand.
void rewriteJetOperators(std::vector<Token>& tokens);

// The levels of unary minus, of * / %, of & | << >>, and of the
// comparisons (=, <, Like, In, Between, Is).
inline constexpr int kUnaryLevel = 2;
inline constexpr int kProductLevel = 3;
inline constexpr int kJoinLevel = 7;
inline constexpr int kComparisonLevel = 8;
// Whether the "-", "+", "~" or Not at i stands before its only operand.
bool isUnaryOperator(const std::vector<Token>& tokens, size_t i);
// The first token of the left operand, and the last of the right operand,
// of the operator at i, which binds at level p. Throw Error as above.
size_t leftOperandStart(const std::vector<Token>& tokens, size_t i, int p);
size_t rightOperandEnd(const std::vector<Token>& tokens, size_t i, int p);
// Whether a word is one of SQL's own, never a name.
bool isReservedWord(const Token& t);

}  // namespace tarlo
