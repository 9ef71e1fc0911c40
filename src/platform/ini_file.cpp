// The one key Tarlo writes into an INI file: the profile API on Windows,
// a writer of the same rules elsewhere.
#include "platform/ini_file.h"

#include "platform/file_io.h"

#ifdef Q_OS_WIN
#include <QDir>

#include <windows.h>
#endif

#include <optional>
#include <vector>

namespace tarlo {

namespace {

struct Line {
    QByteArray text;
    QByteArray ending;  // "\r\n", "\n", "\r" or empty for a last line without one
};

std::vector<Line> splitKeepingEndings(const QByteArray& content) {
    std::vector<Line> lines;
    qsizetype start = 0;
    const qsizetype n = content.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = content[i];
        if (c != '\r' && c != '\n') continue;
        const qsizetype endLen = (c == '\r' && i + 1 < n && content[i + 1] == '\n') ? 2 : 1;
        lines.push_back({content.mid(start, i - start), content.mid(i, endLen)});
        i += endLen - 1;
        start = i + 1;
    }
    if (start < n) lines.push_back({content.mid(start), {}});
    return lines;
}

std::optional<QByteArray> sectionName(const QByteArray& line) {
    const QByteArray t = line.trimmed();
    if (!t.startsWith('[')) return std::nullopt;
    const qsizetype close = t.indexOf(']');
    if (close < 0) return std::nullopt;
    return t.mid(1, close - 1).trimmed();
}

bool isKeyLine(const QByteArray& line, const QByteArray& key) {
    const QByteArray t = line.trimmed();
    if (t.startsWith(';')) return false;
    const qsizetype eq = t.indexOf('=');
    return eq >= 0 && t.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0;
}

}  // namespace

QByteArray setIniValue(const QByteArray& content, const QString& section, const QString& key,
                       const QString& value) {
    const QByteArray sectionBytes = section.toUtf8();
    const QByteArray keyBytes = key.toUtf8();
    const QByteArray entry = keyBytes + '=' + value.toUtf8();
    std::vector<Line> lines = splitKeepingEndings(content);

    QByteArray newEnding = "\r\n";
    for (const Line& l : lines)
        if (!l.ending.isEmpty()) { newEnding = l.ending; break; }

    std::optional<size_t> sectionStart;
    for (size_t i = 0; i < lines.size() && !sectionStart; ++i) {
        const auto name = sectionName(lines[i].text);
        if (name && name->compare(sectionBytes, Qt::CaseInsensitive) == 0) sectionStart = i;
    }

    if (!sectionStart) {
        if (!lines.empty() && lines.back().ending.isEmpty()) lines.back().ending = newEnding;
        lines.push_back({'[' + sectionBytes + ']', newEnding});
        lines.push_back({entry, newEnding});
    } else {
        size_t lastFilled = *sectionStart;
        bool replaced = false;
        for (size_t i = *sectionStart + 1; i < lines.size() && !sectionName(lines[i].text); ++i) {
            if (isKeyLine(lines[i].text, keyBytes)) {
                lines[i].text = entry;
                replaced = true;
                break;
            }
            if (!lines[i].text.trimmed().isEmpty()) lastFilled = i;
        }
        if (!replaced) {
            if (lines[lastFilled].ending.isEmpty()) lines[lastFilled].ending = newEnding;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastFilled) + 1,
                         Line{entry, newEnding});
        }
    }

    QByteArray out;
    out.reserve(content.size() + entry.size() + sectionBytes.size() + 8);
    for (const Line& l : lines) out += l.text + l.ending;
    return out;
}

void writeIniValue(const QString& path, const QString& section, const QString& key,
                   const QString& value) {
#ifdef Q_OS_WIN
    // The wide call: a folder named in characters the ANSI code page lacks
    // stays reachable; an ASCII entry is written in the same bytes.
    auto wide = [](const QString& s) { return reinterpret_cast<const wchar_t*>(s.utf16()); };
    const QString native = QDir::toNativeSeparators(path);
    if (!::WritePrivateProfileStringW(wide(section), wide(key), wide(value), wide(native)))
        throw Error(ErrorFacts{.file = path}, u"%1 に書き込めません", path);
#else
    try {
        const QByteArray old = isExistingFile(path) ? readSmallFile(path, kMaxSmallFileBytes) : QByteArray();
        writeFileAtomically(path, setIniValue(old, section, key, value));
    } catch (const FileError&) {
        throw Error(ErrorFacts{.file = path}, u"%1 に書き込めません", path);
    }
#endif
}

}  // namespace tarlo
