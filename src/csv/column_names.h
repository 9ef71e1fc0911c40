// The names a table's columns are known by: the file's own names, made
// unique ignoring case, with NoName for a blank one. The engine and the
// window's column list both name columns by this rule.
#pragma once

#include <string>
#include <vector>

namespace tarlo {

// One name for each written name (empty: blank). A name the file writes
// once is kept; a blank is NoName, NoName1, ... and a repeated name gets
// the first free number after it. A number is free when the name it makes
// is neither one the file writes nor one already given, ignoring case, so
// "id,ID,ID1" gives id, ID2, ID1.
std::vector<std::string> uniqueColumnNames(const std::vector<std::string>& written);

}  // namespace tarlo
