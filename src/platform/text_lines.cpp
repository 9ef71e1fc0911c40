#include "platform/text_lines.h"

namespace tarlo {

QStringList splitLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) continue;
        lines.append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n')) ++i;
        start = i + 1;
    }
    if (start < n) lines.append(text.mid(start));
    return lines;
}

QString joinLinesCrLf(const QStringList& lines) {
    QString out;
    for (const QString& line : lines) out += line + QStringLiteral("\r\n");
    return out;
}

QString withCrLf(const QString& text) {
    QStringList lines = splitLines(text);
    QString out = lines.join(QStringLiteral("\r\n"));
    if (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'))) out += QStringLiteral("\r\n");
    return out;
}

QString trimControl(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32) ++begin;
    while (end > begin && text[end - 1].unicode() <= 32) --end;
    return text.mid(begin, end - begin);
}

}  // namespace tarlo
