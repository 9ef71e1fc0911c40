#include "workspace/statement_text.h"

namespace tarlo {

QString statementOf(const QString& editorText) {
    const qsizetype semicolon = editorText.indexOf(QLatin1Char(';'));
    return semicolon < 0 ? editorText : editorText.left(semicolon + 1);
}

}  // namespace tarlo
