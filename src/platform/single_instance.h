// One Tarlo per log-on: a lock on a file that the system drops when the
// process ends, however it ends, so a killed instance never blocks the next.
#pragma once

#include <QString>

namespace tarlo {

class SingleInstanceGuard {
public:
    enum class State {
        Acquired,       // this process is the one instance
        HeldElsewhere,  // another process holds the lock
        Unguarded,      // no lock could be made: run without the guard
    };

    // $XDG_RUNTIME_DIR/<name>.lock, or /tmp/<name>-<uid>.lock without it.
    static QString defaultLockPath(const QString& name);

    explicit SingleInstanceGuard(const QString& lockPath);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    State state() const { return state_; }

private:
    int fd_ = -1;
    State state_ = State::Unguarded;
};

}  // namespace tarlo
