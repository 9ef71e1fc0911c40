// The beep of a second start: Beep on Windows; elsewhere the terminal's
// bell, the only sound every system has without a sound server.
#include "platform/bell.h"

#ifdef _WIN32  // no Qt header here defines Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tarlo {

namespace {
BellHandler& installedHandler() {
    static BellHandler handler;
    return handler;
}
}  // namespace

void setBellHandler(BellHandler handler) {
    installedHandler() = std::move(handler);
}

void ringBell(int frequencyHz, int durationMs) {
    if (const BellHandler& handler = installedHandler()) {
        handler(frequencyHz, durationMs);
        return;
    }
#ifdef _WIN32
    ::Beep(DWORD(frequencyHz), DWORD(durationMs));
#else
    if (::isatty(STDERR_FILENO)) {
        const char bel = '\a';
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, &bel, 1);
    }
#endif
}

}  // namespace tarlo
