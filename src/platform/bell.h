// The system bell. The window system's bell needs a GUI connection, which the
// core does not have, so the program installs it at start-up; tests install a
// counter.
#pragma once

#include <functional>

namespace tarlo {

using BellHandler = std::function<void(int frequencyHz, int durationMs)>;

void setBellHandler(BellHandler handler);

// Rings the installed bell; without one, the terminal's bell if there is one.
void ringBell(int frequencyHz = 8000, int durationMs = 45);

}  // namespace tarlo
