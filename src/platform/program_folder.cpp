// ProgramFolder: where the running executable lives, as the system names it.
#include "platform/program_folder.h"

#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace tarlo {

namespace {
// The last character that ends a folder; on Windows a drive's ":" as well.
// The text is UTF-16, so no separator can be the second byte of a character.
qsizetype lastSeparator(const QString& path) {
#ifdef Q_OS_WIN
    qsizetype cut = -1;
    for (const char c : {'/', '\\', ':'}) cut = std::max(cut, path.lastIndexOf(QLatin1Char(c)));
    return cut;
#else
    return path.lastIndexOf(QLatin1Char('/'));
#endif
}
}  // namespace

#ifdef Q_OS_WIN

QString executablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return QString::fromWCharArray(buffer.data(), int(n));
        buffer.resize(buffer.size() * 2);
    }
}

// The wide call, not the ANSI one: a folder named in characters the ANSI
// code page lacks would come back as "?" and name no folder at all.
QString makeShortPath(const QString& path) {
    const std::wstring wide = path.toStdWString();
    const DWORD needed = ::GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (needed == 0) return path;
    std::wstring buffer(needed, L'\0');
    const DWORD written = ::GetShortPathNameW(wide.c_str(), buffer.data(), needed);
    if (written == 0 || written >= needed) return path;
    return QString::fromWCharArray(buffer.data(), int(written));
}

#else

QString executablePath() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

QString makeShortPath(const QString& path) {
    return path;
}

#endif

QString folderOfPath(const QString& path) {
    const qsizetype cut = lastSeparator(path);
    return cut < 0 ? QString() : path.left(cut + 1);
}

QString programFolder() {
    return makeShortPath(folderOfPath(executablePath()));
}

QString applicationTitle(const QString& executablePath) {
    QString name = executablePath.mid(lastSeparator(executablePath) + 1);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0) name.truncate(dot);
    return name.left(1) + name.mid(1).toLower();
}

}  // namespace tarlo
