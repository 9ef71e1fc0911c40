#include "platform/program_folder.h"

#include <QFileInfo>

namespace tarlo {

QString executablePath() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

QString folderOfPath(const QString& path) {
    const qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
    return cut < 0 ? QString() : path.left(cut + 1);
}

QString makeShortPath(const QString& path) {
    return path;
}

QString programFolder() {
    return makeShortPath(folderOfPath(executablePath()));
}

QString applicationTitle(const QString& executablePath) {
    QString name = executablePath.mid(executablePath.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0) name.truncate(dot);
    return name.left(1) + name.mid(1).toLower();
}

}  // namespace tarlo
