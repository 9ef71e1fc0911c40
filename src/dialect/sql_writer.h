// Writes the text SQLite reads from the tree of the user's statement: the
// user's tokens as written (blanks and comments too), with what the old
// engine reads otherwise rewritten into SQLite's dialect: "text" strings,
// #date# literals, True and False, DISTINCTROW, Left( Right( IsNull(, the
// operators SQLite reads otherwise (^ / \ Mod + - & Xor Eqv Imp, as calls
// that keep their meaning), IIf, Switch and Choose (as CASE, which evaluates
// only the branch it returns) and TOP n [PERCENT] (as a LIMIT that keeps the
// rows tying with the last). Every piece stands for the user's span it
// came from, so a place SQLite names is found in the user's text.
#pragma once

#include "dialect/source_map.h"
#include "dialect/syntax_tree.h"

#include <map>

namespace tarlo {

// tokens: what to put in for some tokens of the statement (the tables'
// names). Throws PlacedError for what the old engine refused too: an
// impossible date, IIf without three arguments, a chain or nest too long.
MappedText writeSqlite(const syntax::SyntaxTree& tree, const std::map<int, QString>& tokens = {});

}  // namespace tarlo
