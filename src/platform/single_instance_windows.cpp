// One Tarlo per log-on on Windows: the named mutex of the session, waited on
// for 0 ms and never released, so the system frees it when the process ends.
#include "platform/single_instance.h"

#include <windows.h>

namespace tarlo {

QString SingleInstanceGuard::lockPathIn(const QString& name, const QStringList&) {
    return name;
}

// A name without "Global\" lives in the log-on session's own namespace.
QString SingleInstanceGuard::defaultLockPath(const QString& name) {
    return name;
}

SingleInstanceGuard::SingleInstanceGuard(const QString& lockPath) {
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(lockPath.utf16()));
    native_ = reinterpret_cast<qintptr>(mutex);
    if (!mutex) return;  // the wait would fail: run without the guard
    switch (::WaitForSingleObject(mutex, 0)) {
    case WAIT_TIMEOUT: state_ = State::HeldElsewhere; break;
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: state_ = State::Acquired; break;
    default: break;
    }
}

// Owned by the thread that waited: closing the handle of a held mutex would
// abandon it, and the system does that anyway when the process ends.
SingleInstanceGuard::~SingleInstanceGuard() {
    if (native_ && state_ != State::Acquired) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
}

}  // namespace tarlo
