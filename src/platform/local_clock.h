// The local date and time, behind an interface so tests can fix the readings.
#pragma once

#include <QDateTime>

namespace tarlo {

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() override { return QDateTime::currentDateTime(); }
};

}  // namespace tarlo
