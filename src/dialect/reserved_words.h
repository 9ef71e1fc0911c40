// The words of SQL's own that never name a column or a function.
#pragma once

#include "dialect/sql_lexer.h"

namespace tarlo {

bool isReservedWord(const Token& t);

}  // namespace tarlo
