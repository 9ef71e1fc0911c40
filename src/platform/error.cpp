// Message formatting for Error: one pass over the pattern.
#include "platform/error.h"

namespace tarlo {

QString formatMessage(QStringView pattern, std::initializer_list<QString> args) {
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
            if (index >= 0 && size_t(index) < args.size()) {
                out += *(args.begin() + index);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace tarlo
