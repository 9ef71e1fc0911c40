#include "platform/collation.h"

#include <QCollator>

namespace tarlo {

namespace {
const QCollator& userCollator() {
    // One per thread: QCollator is not safe to share between threads.
    thread_local const QCollator collator = [] {
        QCollator c{QLocale::system()};
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator;
}
}  // namespace

int compareIgnoringCase(const QString& a, const QString& b) {
    return userCollator().compare(a, b);
}

bool equalsIgnoringCase(const QString& a, const QString& b) {
    return compareIgnoringCase(a, b) == 0;
}

}  // namespace tarlo
