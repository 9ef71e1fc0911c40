#include "ui/error_report.h"

#include "platform/error.h"
#include "platform/program_folder.h"

#include <QApplication>
#include <QMessageBox>

namespace {
std::function<void(const QString&)>& errorSink() {
    static std::function<void(const QString&)> sink;
    return sink;
}
std::function<void(const QString&)>& warningSink() {
    static std::function<void(const QString&)> sink;
    return sink;
}
}  // namespace

void setWarningSink(std::function<void(const QString&)> sink) {
    warningSink() = std::move(sink);
}

void showWarningBox(const QString& text) {
    if (const auto& sink = warningSink()) {
        sink(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("警告"), text, QMessageBox::Ok);
    box.exec();  // without a parent the box stands centred on the screen
}

void setApplicationErrorSink(std::function<void(const QString&)> sink) {
    errorSink() = std::move(sink);
}

QString messageOf(const std::exception& e) {
    if (const auto* error = dynamic_cast<const tarlo::Error*>(&e)) return error->message();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return QStringLiteral("メモリが足りません");
    return QString::fromLocal8Bit(e.what());
}

void reportApplicationError(const QString& message) {
    const QString text = tarlo::applicationErrorText(message);
    if (const auto& sink = errorSink()) {
        sink(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, tarlo::applicationTitle(tarlo::executablePath()), text,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}
