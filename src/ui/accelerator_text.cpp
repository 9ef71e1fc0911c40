#include "ui/accelerator_text.h"

namespace {
template <typename Emit>
void walk(const QString& text, Emit out) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('&')) {
            out(text[i], false);
        } else if (i + 1 < text.size()) {
            ++i;
            out(text[i], text[i] != QLatin1Char('&'));
        }
    }
}
}  // namespace

QString acceleratorDisplayText(const QString& text) {
    QString out;
    walk(text, [&](QChar c, bool) { out += c; });
    return out;
}

QString acceleratorRichText(const QString& text) {
    // Blanks are kept as written and nothing in the text is read as markup:
    // a label shows a note as Windows' own label does.
    QString out = QStringLiteral("<span style=\"white-space: pre-wrap;\">");
    walk(text, [&](QChar c, bool underline) {
        QString piece = QString(c).toHtmlEscaped();
        if (c == QLatin1Char('\n')) piece = QStringLiteral("<br>");
        out += underline ? QStringLiteral("<u>%1</u>").arg(piece) : piece;
    });
    return out + QStringLiteral("</span>");
}
