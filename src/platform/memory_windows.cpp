// Free memory as Windows counts it: the physical memory available now.
#include "platform/memory.h"

#include <windows.h>

namespace tarlo {

qint64 availableMemory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!::GlobalMemoryStatusEx(&status)) return qint64(1) << 30;
    return qint64(status.ullAvailPhys);
}

}  // namespace tarlo
