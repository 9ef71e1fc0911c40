#include "workspace/query_save.h"

#include "platform/file_io.h"
#include "platform/program_folder.h"
#include "platform/text_lines.h"

namespace tarlo {

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The first maxBytes bytes as the Windows code page counts them, cut before
// a character that would straddle the limit.
QString leadingBytes(const QString& text, int maxBytes) {
    int used = 0;
    qsizetype end = 0;
    const QList<uint> codePoints = text.toUcs4();
    for (const uint cp : codePoints) {
        used += cp932ByteLength(cp);
        if (used > maxBytes) break;
        end += cp > 0xFFFF ? 2 : 1;
    }
    return text.left(end);
}

}  // namespace

QString queryCopyPath(const QString& currentPath, const QDateTime& firstReading,
                      const QDateTime& secondReading) {
    const QString folder = folderOfPath(currentPath);
    QString stem = currentPath.mid(folder.size());
    const qsizetype dot = stem.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) stem.truncate(dot);
    const QString month = QString::fromLatin1(kMonths[firstReading.date().month() - 1]);
    return folder + leadingBytes(stem, 4) + QLatin1Char('_') + month +
           secondReading.toString(QStringLiteral("dd_hhmm_ss")) + QStringLiteral(".txt");
}

void saveQueryText(const QString& path, const QString& text, const TextSpelling& spelling) {
    const QByteArray bytes = encodeText(withCrLf(text), spelling);
    try {
        writeFileAtomically(path, bytes);
    } catch (const FileError& e) {
        throw Error(ErrorFacts{.file = path}, u"ファイル \"%1\". %2 を作成できません", path, e.reason());
    }
}

TextSpelling spellingOfFile(const QString& path) {
    try {
        return decodeText(readSmallFile(path, kMaxSmallFileBytes)).spelling;
    } catch (const FileError&) {
        return TextEncoding::Ascii;  // the write that follows reports the real failure
    }
}

}  // namespace tarlo
