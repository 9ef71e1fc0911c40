// How much memory the machine can give this process now, and the text that
// says an amount to a user, so big loads and results can be refused before
// the system has to kill the program.
#pragma once

#include <QString>

namespace tarlo {

// Bytes the system could hand out without swapping (MemAvailable); the
// physical memory when it does not say.
qint64 availableMemory();

// "512 MB", "4.4 GB": a size as a user reads it.
QString sizeText(qint64 bytes);

}  // namespace tarlo
