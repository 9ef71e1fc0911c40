// The application's error report: a modal box captioned with the
// application title, for every failure that no handler catches; the program
// then goes on. guarded() runs a handler under it.
#pragma once

#include <QString>
#include <exception>
#include <functional>

class QWidget;

void reportApplicationError(const QString& message);

// Tests replace the box with a recorder; a null function restores the box.
void setApplicationErrorSink(std::function<void(const QString&)> sink);

QString messageOf(const std::exception& e);

// The run's modal warning box: caption "警告", the warning icon, one "OK",
// centred on the screen. Tests replace it with a recorder too.
void showWarningBox(const QString& text);
void setWarningSink(std::function<void(const QString&)> sink);

template <typename Handler>
void guarded(Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        reportApplicationError(messageOf(e));
    }
}
