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

}  // namespace tarlo
