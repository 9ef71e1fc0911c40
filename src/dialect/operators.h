// The operands of an operator in a token list, found by walking the tokens
// with the old engine's precedences: ^ above unary minus, then * /, \, Mod,
// + -, &, the comparisons, Not, And, Or, Xor, Eqv and Imp, so the operand of
// a Mod b * c is b * c. For the typed view, which reads the written text.
#pragma once

#include "dialect/sql_lexer.h"

#include <vector>

namespace tarlo {

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
