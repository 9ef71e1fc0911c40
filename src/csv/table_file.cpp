#include "csv/table_file.h"

#include "platform/error.h"
#include "platform/file_io.h"

#include <QDir>

namespace tarlo {

namespace {

// A pipe, a device or a folder by the name is said to be one: "no such
// file" would send the user looking for a file that is there. A folder
// whose name has no dot is let through, for the name may be meant as a
// table the statement itself defines.
QString refuseUnlessAFile(const QString& path, const QString& name) {
    const FileKind kind = fileKind(path);
    if (kind == FileKind::Regular || kind == FileKind::Missing) return path;
    if (kind == FileKind::Folder && !name.contains(QLatin1Char('.'))) return path;
    throw Error(ErrorFacts{.file = path, .word = name},
                u"テーブル \"%1\" は%2です。テーブルにできるのは通常のファイルだけです。", name,
                fileKindText(kind));
}

}  // namespace

QString findFolderFile(const QString& folder, const QString& name) {
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name == QLatin1String("..") ||
        name == QLatin1String(".")) {
        throw Error(ErrorFacts{.word = name},
                    u"テーブル名 \"%1\" はフォルダーの外を指しています。"
                    u"テーブルにできるのはプログラムのフォルダーにあるファイルだけです。",
                    name);
    }
    const QString exact = folder + name;
    if (name.isEmpty() || QFileInfo::exists(exact)) return exact;

    QString match;
    const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& file : files) {
        if (file.compare(name, Qt::CaseInsensitive) != 0) continue;
        if (!match.isEmpty()) {
            throw Error(ErrorFacts{.word = name},
                        u"テーブル \"%1\" に当たるファイルが複数あります (\"%2\" と \"%3\")。"
                        u"大文字と小文字まで正しく書いてください。",
                        name, match, file);
        }
        match = file;
    }
    return match.isEmpty() ? exact : folder + match;
}

QString resolveTableFile(const QString& folder, const QString& name) {
    return refuseUnlessAFile(findFolderFile(folder, name), name);
}

}  // namespace tarlo
