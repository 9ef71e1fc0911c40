// The one failure type of the core: an exception carrying the facts of what
// went wrong (which file, line, column, word) and the message made of them,
// shown to the user as it stands, so it is written in Japanese. A message is
// formatted once, from a pattern and its arguments in one pass: a "%1" in a
// file name or a value is never read as a placeholder.
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace tarlo {

// What a failure is about, each fact apart, so a caller can act on them
// without reading the message.
struct ErrorFacts {
    QString file{};      // the file at fault, as its path was given
    qint64 line = 0;     // 1-based line in that file; 0 when none
    int column = 0;      // 1-based column number; 0 when none
    QString columnName{};  // the column's name, when it has one
    QString word{};      // the word, value or name at fault
};

// Fills %1 to %9 of pattern from args, in one pass; "%%" is one "%".
QString formatMessage(QStringView pattern, std::initializer_list<QString> args);
QString formatMessage(QStringView pattern, const QStringList& args);

// A path as the system shows it to its users: with "\" on Windows.
QString shownPath(const QString& path);

// formatMessage for a failure about file: an argument that is the file's
// path shows as shownPath gives it.
QString formatMessageAbout(const QString& file, QStringView pattern, std::initializer_list<QString> args);

// Turns the arguments of a message into texts.
inline QString messageArgument(const QString& s) { return s; }
inline QString messageArgument(QStringView s) { return s.toString(); }
inline QString messageArgument(QLatin1StringView s) { return QString(s); }
inline QString messageArgument(const char* utf8) { return QString::fromUtf8(utf8); }
inline QString messageArgument(std::string_view utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }
inline QString messageArgument(const std::string& utf8) { return QString::fromStdString(utf8); }
template <typename N, typename = std::enable_if_t<std::is_arithmetic_v<N>>>
QString messageArgument(N n) { return QString::number(n); }

template <typename... Args>
QString formatMessage(QStringView pattern, const Args&... args) {
    return formatMessage(pattern, {messageArgument(args)...});
}

class Error : public std::runtime_error {
public:
    // A message that names nothing but itself.
    explicit Error(const QString& message) : Error(ErrorFacts{}, message) {}
    Error(ErrorFacts facts, const QString& message)
        : std::runtime_error(message.toStdString()), facts_(std::move(facts)), message_(message) {}
    // pattern with %1, %2 ... filled from args in one pass; the facts' file
    // shows with the system's separators, the facts keep it as given.
    template <typename... Args>
    Error(ErrorFacts facts, QStringView pattern, const Args&... args)
        : Error(facts, formatMessageAbout(facts.file, pattern, {messageArgument(args)...})) {}

    const QString& message() const noexcept { return message_; }
    const ErrorFacts& facts() const noexcept { return facts_; }

private:
    ErrorFacts facts_;
    QString message_;
};

// A failure of the operating system on one file: keeps the error number and
// the system's own text for it, so callers can build the message they need.
class FileError : public Error {
public:
    FileError(const QString& path, int code, const QString& reason)
        : Error(ErrorFacts{.file = path}, u"ファイル \"%1\". %2", path, reason), code_(code), reason_(reason) {}
    const QString& path() const noexcept { return facts().file; }
    int code() const noexcept { return code_; }
    const QString& reason() const noexcept { return reason_; }

private:
    int code_;
    QString reason_;
};

// The application's error report closes a message with "." when its last
// character sorts after "." (so a Japanese sentence gets one too).
inline QString applicationErrorText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
    return message;
}

}  // namespace tarlo
