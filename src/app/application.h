// The application object: routes every failure that escapes an event
// handler to the application's error report, and the event loop goes on.
#pragma once

#include <QApplication>

class TarloApplication : public QApplication {
public:
    TarloApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
