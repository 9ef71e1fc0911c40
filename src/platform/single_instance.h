// One Tarlo per log-on: a lock that the system drops when the process ends,
// however it ends, so a killed instance never blocks the next. A lock on a
// file on POSIX; on Windows the named mutex of the log-on session.
#pragma once

#include <QString>
#include <QStringList>

namespace tarlo {

class SingleInstanceGuard {
public:
    enum class State {
        Acquired,       // this process is the one instance
        HeldElsewhere,  // another process holds the lock
        Unguarded,      // no lock could be made: run without the guard
    };

    // <name>.lock in the first of these that is a folder of this user's that
    // nobody else may write to: $XDG_RUNTIME_DIR, /tmp/tarlo-<uid> (made
    // private when missing), ~/.cache/tarlo. Another user cannot place or
    // hold the lock there; empty when no such folder can be had.
    static QString defaultLockPath(const QString& name);
    // The same choice among the given folders, first match wins.
    static QString lockPathIn(const QString& name, const QStringList& folders);

    explicit SingleInstanceGuard(const QString& lockPath);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    State state() const { return state_; }

private:
    qintptr native_ = -1;  // the lock file's descriptor, or the mutex's handle on Windows
    State state_ = State::Unguarded;
};

}  // namespace tarlo
