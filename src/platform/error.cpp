// Message formatting for Error: one pass over the pattern.
#include "platform/error.h"

#include <QDir>

namespace tarlo {

QString shownPath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString formatMessageAbout(const QString& file, QStringView pattern, std::initializer_list<QString> args) {
    if (file.isEmpty() || shownPath(file) == file) return formatMessage(pattern, args);
    QStringList shown(args);
    for (QString& arg : shown)
        if (arg == file) arg = shownPath(file);
    return formatMessage(pattern, shown);
}

QString formatMessage(QStringView pattern, std::initializer_list<QString> args) {
    return formatMessage(pattern, QStringList(args));
}

QString formatMessage(QStringView pattern, const QStringList& args) {
    QString out;
    out.reserve(pattern.size() + 32);
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('%') && i + 1 < pattern.size()) {
            const QChar n = pattern[i + 1];
            if (n == QLatin1Char('%')) {
                out += c;
                ++i;
                continue;
            }
            const int index = n.digitValue() - 1;
            if (index >= 0 && index < args.size()) {
                out += args[index];
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace tarlo
