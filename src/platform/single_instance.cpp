#include "platform/single_instance.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tarlo {

QString SingleInstanceGuard::defaultLockPath(const QString& name) {
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QFile::exists(runtimeDir))
        return runtimeDir + QLatin1Char('/') + name + QStringLiteral(".lock");
    return QStringLiteral("/tmp/%1-%2.lock").arg(name).arg(::getuid());
}

SingleInstanceGuard::SingleInstanceGuard(const QString& lockPath) {
    const QByteArray native = QFile::encodeName(lockPath);
    // O_NOFOLLOW: in a shared /tmp another user's link must not redirect us.
    fd_ = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) return;
    int rc;
    do rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc == 0) state_ = State::Acquired;
    else if (errno == EWOULDBLOCK) state_ = State::HeldElsewhere;
}

SingleInstanceGuard::~SingleInstanceGuard() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace tarlo
