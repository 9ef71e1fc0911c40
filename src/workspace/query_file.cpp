#include "workspace/query_file.h"

#include "platform/collation.h"
#include "platform/file_io.h"
#include "platform/text_lines.h"

#include <QDir>
#include <algorithm>

namespace tarlo {

namespace {
const QString kPrefix = QStringLiteral("q~");
const QString kExtension = QStringLiteral(".txt");
}  // namespace

bool isQueryFileName(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && fileName.mid(dot) == kExtension && fileName.startsWith(kPrefix);
}

QString queryNameOf(const QString& fileName) {
    QString name = fileName.mid(kPrefix.size());
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) name.truncate(dot);
    return name;
}

QString queryFilePath(const QString& folder, const QString& queryName) {
    return folder + kPrefix + queryName + kExtension;
}

std::optional<QStringList> scanQueryFiles(const QString& folder) {
    const QDir dir(folder);
    if (!isExistingFolder(folder)) return std::nullopt;
    QStringList names;
    const QStringList entries =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    for (const QString& entry : entries)
        if (isQueryFileName(entry)) names.append(queryNameOf(entry));
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return compareIgnoringCase(a, b) < 0;
    });
    return names;
}

QString lookupKey(const QStringList& lines, const QString& key) {
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) continue;
        if (equalsIgnoringCase(line.left(eq), key)) return line.mid(eq + 1);
    }
    return {};
}

QueryFile queryFileOf(const QByteArray& bytes) {
    // Every byte is kept, a NUL too: an unedited save must write back what the file held,
    // and a run refuses a NUL in its statement with its place.
    const DecodedText decoded = decodeText(bytes);
    QueryFile file;
    file.exists = true;
    file.encoding = decoded.spelling.encoding;
    file.lines = splitLines(decoded.text);
    file.caption = lookupKey(file.lines, QStringLiteral("caption"));
    file.note = lookupKey(file.lines, QStringLiteral("note"));
    return file;
}

QueryFile readQueryFile(const QString& path) {
    if (!isExistingFile(path)) return {};
    QByteArray bytes;
    try {
        bytes = readSmallFile(path, kMaxSmallFileBytes);
    } catch (const FileError& e) {
        throw Error(ErrorFacts{.file = path}, u"ファイル \"%1\". %2 は開けません", path, e.reason());
    }
    return queryFileOf(bytes);
}

}  // namespace tarlo
