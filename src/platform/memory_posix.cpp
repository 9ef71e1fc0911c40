// Free memory as Linux counts it: MemAvailable, the memory a new load can
// have without pushing others out.
#include "platform/memory.h"

#include <QFile>

#include <unistd.h>

namespace tarlo {

qint64 availableMemory() {
    QFile info(QStringLiteral("/proc/meminfo"));
    if (info.open(QIODevice::ReadOnly)) {
        // "MemAvailable:   23001234 kB"
        for (QByteArray line = info.readLine(); !line.isEmpty(); line = info.readLine()) {
            if (!line.startsWith("MemAvailable:")) continue;
            const QList<QByteArray> parts = line.simplified().split(' ');
            bool ok = false;
            const qint64 kb = parts.size() >= 2 ? parts[1].toLongLong(&ok) : 0;
            if (ok) return kb * 1024;
        }
    }
    return qint64(::sysconf(_SC_PHYS_PAGES)) * qint64(::sysconf(_SC_PAGESIZE));
}

}  // namespace tarlo
