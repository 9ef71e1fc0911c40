// What reading and looking at files does the same way on every system.
#include "platform/file_io.h"

#include <QDir>
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

int removeUnfinishedSaves(const QString& folder) {
    const QString anyName = QStringLiteral("*") + QLatin1String(kSaveMark) + QStringLiteral("??????");
    const QDir::Filters files = QDir::Files | QDir::Hidden | QDir::System;
    int removed = 0;
    for (const QString& name : QDir(folder).entryList({anyName}, files, QDir::NoSort))
        removed += removeUnfinishedSave(QDir(folder).filePath(name));
    // A save through a link writes beside the link's target: only that
    // target's own leftovers are looked for there, in a folder not ours.
    QStringList targets;
    for (const QFileInfo& entry : QDir(folder).entryInfoList(files, QDir::NoSort)) {
        if (!entry.isSymLink()) continue;
        const QFileInfo target(entry.canonicalFilePath());
        if (target.fileName().isEmpty() || target.absolutePath() == QFileInfo(folder).canonicalFilePath() ||
            targets.contains(target.filePath()))
            continue;
        targets.append(target.filePath());
        const QString pattern = target.fileName() + QLatin1String(kSaveMark) + QStringLiteral("??????");
        for (const QString& name : target.dir().entryList({pattern}, files, QDir::NoSort))
            removed += removeUnfinishedSave(target.dir().filePath(name));
    }
    return removed;
}

QString fileKindText(FileKind kind) {
    switch (kind) {
    case FileKind::Missing: return QStringLiteral("ありません");
    case FileKind::Regular: return QStringLiteral("ファイル");
    case FileKind::Folder: return QStringLiteral("フォルダー");
    case FileKind::Pipe: return QStringLiteral("パイプ");
    case FileKind::Device: return QStringLiteral("装置のファイル");
    case FileKind::Other: break;
    }
    return QStringLiteral("特殊なファイル (ソケットなど)");
}

bool isExistingFile(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool isExistingFolder(const QString& path) {
    return QFileInfo(path).isDir();
}

}  // namespace tarlo
