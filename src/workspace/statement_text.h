// The statement a run sends: the editor's text up to and including its
// first ";" (a plain search: a ";" inside a literal counts too), or the
// whole text when it has none.
#pragma once

#include <QString>

namespace tarlo {

QString statementOf(const QString& editorText);

}  // namespace tarlo
