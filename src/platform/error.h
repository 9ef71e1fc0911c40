// The one failure type of the core: an exception carrying a message that is
// shown to the user as it stands, so it is written in Japanese and names the
// file, line or column at fault.
#pragma once

#include <QString>
#include <stdexcept>

namespace tarlo {

class Error : public std::runtime_error {
public:
    explicit Error(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const noexcept { return message_; }

private:
    QString message_;
};

// A failure of the operating system on one file: keeps the error number and
// the system's own text for it, so callers can build the message they need.
class FileError : public Error {
public:
    FileError(const QString& message, const QString& path, int code, const QString& reason)
        : Error(message), path_(path), code_(code), reason_(reason) {}
    const QString& path() const noexcept { return path_; }
    int code() const noexcept { return code_; }
    const QString& reason() const noexcept { return reason_; }

private:
    QString path_;
    int code_;
    QString reason_;
};

}  // namespace tarlo

namespace tarlo {

// The application's error report closes a message with "." when its last
// character sorts after "." (so a Japanese sentence gets one too).
inline QString applicationErrorText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
    return message;
}

}  // namespace tarlo
