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

QString sizeText(qint64 bytes) {
    constexpr qint64 kMb = qint64(1) << 20;
    constexpr qint64 kGb = qint64(1) << 30;
    if (bytes >= 10 * kGb) return QString::number(bytes / kGb) + QStringLiteral(" GB");
    if (bytes >= kGb) return QString::number(double(bytes) / double(kGb), 'f', 1) + QStringLiteral(" GB");
    return QString::number((bytes + kMb - 1) / kMb) + QStringLiteral(" MB");
}

}  // namespace tarlo
