// Text for a person at a console. Windows' console reads UTF-16 through its
// own call, whatever code page it shows; bytes written to it in another
// encoding come out garbled. Elsewhere a terminal takes the bytes as they are.
#pragma once

#include <QStringView>

#include <cstdio>

namespace tarlo {

// Whether stream is a console that must be written through writeToConsole.
bool isConsole(std::FILE* stream);

// Writes text to the console behind stream; false when it could not.
bool writeToConsole(std::FILE* stream, QStringView text);

}  // namespace tarlo
