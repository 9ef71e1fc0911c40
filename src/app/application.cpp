#include "app/application.h"

#include "platform/bell.h"
#include "ui/error_report.h"

TarloApplication::TarloApplication(int& argc, char** argv) : QApplication(argc, argv) {
    tarlo::setBellHandler([](int, int) { QApplication::beep(); });
}

bool TarloApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        reportApplicationError(messageOf(e));
        return false;
    }
}
