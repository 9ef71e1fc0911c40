// Quoting for the statements we write ourselves: a text as a string
// literal, a name as an identifier, each quote inside doubled.
#pragma once

#include <QString>

namespace tarlo {

QString quotedString(const QString& text);  // 'it''s'; CAST(X'...' AS TEXT) when it holds a NUL
QString quotedName(const QString& name);    // "a ""b"""; a NUL becomes a blank

}  // namespace tarlo
