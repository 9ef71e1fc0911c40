#include "csv/table_file.h"

#include "platform/error.h"
#include "platform/file_io.h"

#include <QDir>

namespace tarlo {

QString resolveTableFile(const QString& folder, const QString& name) {
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

}  // namespace tarlo
