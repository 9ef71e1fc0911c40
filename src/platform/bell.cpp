#include "platform/bell.h"

#include <unistd.h>

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
    if (::isatty(STDERR_FILENO)) {
        const char bel = '\a';
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, &bel, 1);
    }
}

}  // namespace tarlo
