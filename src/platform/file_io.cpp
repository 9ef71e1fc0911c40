// What reading and looking at files does the same way on every system.
#include "platform/file_io.h"

#include <QFileInfo>

#include <cerrno>
#include <limits>

namespace tarlo {

QByteArray readSmallFile(const QString& path, qint64 maxBytes) {
    QByteArray bytes = readFilePrefix(path, maxBytes + 1);
    if (bytes.size() > maxBytes)
        throw FileError(path, EFBIG, QStringLiteral("ファイルが大きすぎます (%1 MB まで)").arg(maxBytes >> 20));
    return bytes;
}

QByteArray readFileBytes(const QString& path) {
    return readFilePrefix(path, std::numeric_limits<qint64>::max());
}

bool isExistingFile(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool isExistingFolder(const QString& path) {
    return QFileInfo(path).isDir();
}

}  // namespace tarlo
