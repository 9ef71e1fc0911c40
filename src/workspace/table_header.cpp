#include "workspace/table_header.h"

#include "csv/column_names.h"

#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/text_encoding.h"
#include "platform/text_lines.h"

#include <cerrno>

namespace tarlo {

namespace {

constexpr char kEndOfFileMark = 26;
// The longest first line read for the column list; a table file whose first
// line runs further (no line break, or CR alone) is refused, not read whole.
constexpr qsizetype kMaxHeaderBytes = qsizetype(16) << 20;

bool isWide(TextEncoding e) {
    return e == TextEncoding::Utf16LeWithBom || e == TextEncoding::Utf16BeWithBom;
}

// The first line as the old runtime read it: up to the first LF (without a
// CR before it), the end of the file or code 26; a lone CR is left out.
QString firstLineOf(FileReader& reader, const QString& path) {
    QByteArray bytes = reader.read(65536);
    const TextEncoding bom = detectEncoding(bytes.left(3));
    const bool wide = isWide(bom);
    const bool littleEndian = bom == TextEncoding::Utf16LeWithBom;
    // Each piece is looked at once, so a long first line costs its length only.
    qsizetype checked = 0;
    auto lineEnded = [&] {
        if (!wide) {
            // LF and code 26 never occur inside a UTF-8 or CP932 character.
            for (; checked < bytes.size(); ++checked)
                if (bytes[checked] == '\n' || bytes[checked] == kEndOfFileMark) return true;
            return false;
        }
        // A UTF-16 LF is one whole code unit: no surrogate holds it.
        for (; checked + 1 < bytes.size(); checked += 2) {
            const char low = littleEndian ? bytes[checked] : bytes[checked + 1];
            const char high = littleEndian ? bytes[checked + 1] : bytes[checked];
            if (low == '\n' && high == 0) return true;
        }
        return false;
    };
    while (!lineEnded()) {
        if (bytes.size() >= kMaxHeaderBytes)
            throw Error(ErrorFacts{.file = path}, u"テーブル \"%1\" の 1 行目が長すぎます (%2 MB を超えても行が終わりません)。", path,
                        kMaxHeaderBytes >> 20);
        const QByteArray chunk = reader.read(65536);
        if (chunk.isEmpty()) break;
        bytes += chunk;
    }
    QString text;
    if (wide) {
        text = decodeAs(bytes, bom);
    } else {
        for (qsizetype i = 0; i < bytes.size(); ++i)
            if (bytes[i] == '\n' || bytes[i] == kEndOfFileMark) { bytes.truncate(i); break; }
        text = decodeText(bytes).text;
    }
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == QLatin1Char('\n') || text[i] == QChar(kEndOfFileMark)) { text.truncate(i); break; }
    text.remove(QLatin1Char('\r'));
    return text;
}

[[noreturn]] void throwRuntimeIoError(int code) {
    switch (code) {
    case ENOENT:
    case ENOTDIR: throw Error(QStringLiteral("ファイルが見つかりません"));
    case EACCES:
    case EPERM:
    case EISDIR: throw Error(QStringLiteral("ファイルへのアクセスが拒否されました"));
    default: throw Error(ErrorFacts{}, u"I/O エラー (%1)", code);
    }
}

}  // namespace

QStringList headerItems(const QString& line) {
    QStringList items;
    const QStringList fields = line.split(QLatin1Char(','));
    items.reserve(fields.size());
    std::vector<std::string> written;
    written.reserve(size_t(fields.size()));
    for (const QString& field : fields) {
        items.append(QStringLiteral("F%1\t%2").arg(items.size() + 1, 2, 10, QLatin1Char('0')).arg(trimControl(field)));
        written.push_back(columnNameForCopy(items.back()).toStdString());
    }
    // A repeated name shows as the engine names its column, so copying it
    // selects that column; a blank stays blank.
    const std::vector<std::string> names = uniqueColumnNames(written);
    for (size_t c = 0; c < names.size(); ++c)
        if (!written[c].empty() && names[c] != written[c])
            items[qsizetype(c)] = QStringLiteral("F%1\t%2").arg(c + 1, 2, 10, QLatin1Char('0')).arg(QString::fromStdString(names[c]));
    return items;
}

QStringList readTableHeader(const QString& path) {
    if (path.size() > kMaxTablePathLength) {
        throw Error(ErrorFacts{.file = path}, u"テーブルのパスが長すぎます (%1 文字、%2 文字まで): %3", path.size(),
                    kMaxTablePathLength, path);
    }
    QString line;
    try {
        FileReader reader(path);
        line = firstLineOf(reader, path);
    } catch (const FileError& e) {
        throwRuntimeIoError(e.code());
    }
    return headerItems(line);
}

QString columnNameForCopy(const QString& item) {
    if (trimControl(item).isEmpty()) return {};
    QString name = item;
    const qsizetype tab = name.indexOf(QLatin1Char('\t'));
    if (tab >= 0) name.remove(0, tab + 1);
    if (!name.startsWith(QLatin1Char('"'))) return name;

    QString unquoted;
    for (qsizetype i = 1; i < name.size(); ++i) {
        if (name[i] != QLatin1Char('"')) {
            unquoted += name[i];
            continue;
        }
        if (i + 1 < name.size() && name[i + 1] == QLatin1Char('"')) {
            unquoted += QLatin1Char('"');
            ++i;
            continue;
        }
        return unquoted.isEmpty() ? name : unquoted;
    }
    return name;  // never closed: copied as it stands
}

}  // namespace tarlo
