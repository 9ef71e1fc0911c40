// The polite requests to end on POSIX (signals) turned into a close of the
// main window, through a pipe the event loop watches.
#include "app/termination.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    // Only async-signal-safe work here: the event loop does the rest.
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

void closeOnTerminationRequest(QWidget* mainWindow) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, mainWindow);
    QObject::connect(notifier, &QSocketNotifier::activated, mainWindow, [mainWindow] {
        char drain[16];
        while (::read(signalPipe[0], drain, sizeof drain) > 0) {
        }
        mainWindow->close();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(sig, &action, nullptr);
}
