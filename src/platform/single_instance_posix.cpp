// The POSIX side of the single-instance guard: an flock on a file in a
// folder only this user may write.
#include "platform/single_instance.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarlo {

namespace {

// A folder of ours that only we may write to, made when missing. One that
// is ours but open to others is closed first, and a lock file someone else
// left in it meanwhile is not ours to trust: it goes.
bool isPrivateFolder(const QByteArray& folder, const QByteArray& lockFile) {
    const QString path = QFile::decodeName(folder);
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    ::mkdir(folder.constData(), 0700);
    struct stat st {};
    if (::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return false;
    if ((st.st_mode & 022) != 0) {
        if (::chmod(folder.constData(), 0700) != 0) return false;
        struct stat lock {};
        if (::lstat(lockFile.constData(), &lock) == 0 && (lock.st_uid != ::getuid() || !S_ISREG(lock.st_mode)) &&
            ::unlink(lockFile.constData()) != 0)
            return false;
    }
    return true;
}

}  // namespace

QString SingleInstanceGuard::lockPathIn(const QString& name, const QStringList& folders) {
    for (const QString& folder : folders) {
        if (folder.isEmpty()) continue;
        const QString lock = folder + QLatin1Char('/') + name + QStringLiteral(".lock");
        if (isPrivateFolder(QFile::encodeName(folder), QFile::encodeName(lock))) return lock;
    }
    return {};
}

QString SingleInstanceGuard::defaultLockPath(const QString& name) {
    const QString home = QDir::homePath();
    return lockPathIn(name, {qEnvironmentVariable("XDG_RUNTIME_DIR"),
                             QStringLiteral("/tmp/tarlo-%1").arg(::getuid()),
                             home.isEmpty() ? QString() : home + QStringLiteral("/.cache/tarlo")});
}

SingleInstanceGuard::SingleInstanceGuard(const QString& lockPath) {
    const QByteArray native = QFile::encodeName(lockPath);
    // O_NOFOLLOW: in a shared /tmp another user's link must not redirect us.
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    native_ = fd;
    if (fd < 0) return;
    int rc;
    do rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc == 0) state_ = State::Acquired;
    else if (errno == EWOULDBLOCK) state_ = State::HeldElsewhere;
}

SingleInstanceGuard::~SingleInstanceGuard() {
    if (native_ >= 0) ::close(int(native_));
}

}  // namespace tarlo
