// The user locale's comparison: CompareStringEx on Windows, as the tab
// order there has always been; ICU's collator for the system locale elsewhere.
#include "platform/collation.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QCollator>
#endif

namespace tarlo {

#ifdef Q_OS_WIN

int compareIgnoringCase(const QString& a, const QString& b) {
    const int r = ::CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, reinterpret_cast<const wchar_t*>(a.utf16()),
                                    int(a.size()), reinterpret_cast<const wchar_t*>(b.utf16()), int(b.size()), nullptr,
                                    nullptr, 0);
    return r == 0 ? QString::compare(a, b, Qt::CaseInsensitive) : r - CSTR_EQUAL;
}

#else

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

#endif

bool equalsIgnoringCase(const QString& a, const QString& b) {
    return compareIgnoringCase(a, b) == 0;
}

}  // namespace tarlo
