// Query files: "q~" + name + ".txt" in ProgramFolder, one tab each. Finds
// them, reads one (its statement lines and its "caption=" and "note="
// entries) and remembers the encoding it was written in.
#pragma once

#include "platform/text_encoding.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace tarlo {

// "q~" and ".txt" byte for byte: 'Q~a.txt' and 'q~a.TXT' are not query files.
bool isQueryFileName(const QString& fileName);
// The name without "q~" and its last extension: 'q~x.y.txt' gives 'x.y'.
QString queryNameOf(const QString& fileName);
QString queryFilePath(const QString& folder, const QString& queryName);

// The query names of a folder, sorted by the user's case-insensitive order;
// nullopt when the folder does not exist.
std::optional<QStringList> scanQueryFiles(const QString& folder);

// The value of the first line whose text before its first "=" equals key
// (user locale, case ignored, untrimmed); empty when none does.
QString lookupKey(const QStringList& lines, const QString& key);

struct QueryFile {
    bool exists = false;
    QStringList lines;
    TextEncoding encoding = TextEncoding::Ascii;
    QString caption;
    QString note;
};

// A query file's bytes as read: every byte kept, a NUL too.
QueryFile queryFileOf(const QByteArray& bytes);

// Reads the file; a missing one (or a folder) gives exists == false. An
// unreadable one throws Error 'ファイル "<path>". <reason> は開けません'.
QueryFile readQueryFile(const QString& path);

}  // namespace tarlo
