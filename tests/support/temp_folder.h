// A temporary folder for a test, with helpers to lay out files in it.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class TempFolder {
public:
    // The folder path, ending in "/" as ProgramFolder does.
    QString path() const { return dir_.path() + QLatin1Char('/'); }
    QString file(const QString& name) const { return path() + name; }

    QString write(const QString& name, const QByteArray& bytes) const {
        QFile f(file(name));
        if (!f.open(QIODevice::WriteOnly)) return {};
        f.write(bytes);
        return file(name);
    }
    QString writeText(const QString& name, const QString& text) const { return write(name, text.toUtf8()); }
    void mkdir(const QString& name) const { QDir(dir_.path()).mkdir(name); }
    QByteArray read(const QString& name) const {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir_;
};

#ifdef Q_OS_WIN
// Under Wine, the Linux file the POSIX build uses is the same file on Z:.
inline const char* unreadableFilePath() {
    return "Z:\\proc\\self\\mem";
}

inline QString unwritableFolder() {
    return QStringLiteral("Z:\\proc\\self\\");
}
#else
// A path that exists as a file but cannot be read, even by root: reading
// the process's own memory at offset 0 fails with EIO.
inline const char* unreadableFilePath() {
    return "/proc/self/mem";
}

// A folder nobody can create files in, even root.
inline QString unwritableFolder() {
    return QStringLiteral("/proc/self/");
}
#endif
