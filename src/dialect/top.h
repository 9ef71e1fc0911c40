// SELECT TOP n [PERCENT] as the old engine read it: at any depth, in a
// UNION's members too, and with the rows that tie with the last one on the
// ORDER BY values (TOP 3 of 5, 4, 4, 4 gives four rows). Becomes a LIMIT
// whose count is worked out by a query over the same rows.
#pragma once

#include "dialect/sql_lexer.h"

#include <vector>

namespace tarlo {

// Throws Error for TOP without a row count.
void rewriteTop(std::vector<Token>& tokens);

}  // namespace tarlo
