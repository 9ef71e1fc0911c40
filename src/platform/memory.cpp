// Sizes of memory in the units the messages quote.
#include "platform/memory.h"

namespace tarlo {

QString sizeText(qint64 bytes) {
    constexpr qint64 kMb = qint64(1) << 20;
    constexpr qint64 kGb = qint64(1) << 30;
    if (bytes >= 10 * kGb) return QString::number(bytes / kGb) + QStringLiteral(" GB");
    if (bytes >= kGb) return QString::number(double(bytes) / double(kGb), 'f', 1) + QStringLiteral(" GB");
    return QString::number((bytes + kMb - 1) / kMb) + QStringLiteral(" MB");
}

}  // namespace tarlo
