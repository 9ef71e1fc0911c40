#include "csv/table_format.h"

#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/text_encoding.h"
#include "csv/table_file.h"

#include <QFileInfo>

#include <optional>

namespace tarlo {

namespace {

TableFormat defaultFor(const QString& fileName) {
    TableFormat f;
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("tsv") || suffix == QLatin1String("tab")) f.delimiter = '\t';
    return f;
}

DeclaredType typeNamed(const QString& name) {
    static const std::pair<const char*, DeclaredType> types[] = {
        {"text", DeclaredType::Text},       {"memo", DeclaredType::Text},     {"char", DeclaredType::Text},
        {"long", DeclaredType::Integer},    {"integer", DeclaredType::Short}, {"short", DeclaredType::Short},
        {"byte", DeclaredType::Byte},       {"double", DeclaredType::Real},   {"single", DeclaredType::Real},
        {"float", DeclaredType::Real},      {"currency", DeclaredType::Real}, {"decimal", DeclaredType::Real},
        {"datetime", DeclaredType::DateTime}, {"date", DeclaredType::DateTime}, {"bit", DeclaredType::Bit},
    };
    for (const auto& [n, t] : types)
        if (name.compare(QLatin1String(n), Qt::CaseInsensitive) == 0) return t;
    return DeclaredType::None;
}

// Read by hand, not with a regular expression: tables load on a run's own
// thread, and a regular expression's per-thread state is freed when that
// thread ends, which the Windows thread runtime gets wrong.
bool isBlank(QChar c) {
    const char16_t u = c.unicode();
    return u == ' ' || (u >= '\t' && u <= '\r');
}

struct ColumnLine {
    QString name, typeName;
};

// name or "a name", then an optional type, then an optional Width n.
std::optional<ColumnLine> readColumnLine(const QString& value) {
    qsizetype at = 0;
    const qsizetype end = value.size();
    auto skipBlanks = [&] { while (at < end && isBlank(value[at])) ++at; };
    auto word = [&] {
        const qsizetype from = at;
        while (at < end && !isBlank(value[at])) ++at;
        return value.mid(from, at - from);
    };
    ColumnLine line;
    skipBlanks();
    if (at < end && value[at] == u'"') {
        const qsizetype close = value.indexOf(u'"', at + 1);
        if (close < 0) return std::nullopt;
        line.name = value.mid(at + 1, close - at - 1);
        at = close + 1;
        if (at < end && !isBlank(value[at])) return std::nullopt;
    } else {
        line.name = word();
        if (line.name.isEmpty()) return std::nullopt;
    }
    QStringList rest;
    for (skipBlanks(); at < end; skipBlanks()) rest << word();
    auto isWidth = [&](qsizetype i) {
        if (rest.size() != i + 2 || rest[i].compare(QLatin1String("Width"), Qt::CaseInsensitive) != 0) return false;
        for (QChar c : rest[i + 1])
            if (c < u'0' || c > u'9') return false;
        return true;
    };
    if (rest.size() == 1 || isWidth(1)) line.typeName = rest[0];
    else if (!rest.isEmpty() && !isWidth(0)) return std::nullopt;
    return line;
}

class SectionReader {
public:
    SectionReader(const QString& schemaPath, TableFormat& format) : path_(schemaPath), format_(format) {}

    void set(int line, const QString& key, const QString& value) {
        line_ = line;
        const QString k = key.toLower();
        if (k == QLatin1String("format")) setFormat(value);
        else if (k == QLatin1String("colnameheader")) format_.header = boolean(value);
        else if (k == QLatin1String("characterset")) setCharset(value);
        else if (k == QLatin1String("textdelimiter")) setTextDelimiter(value);
        else if (k == QLatin1String("datetimeformat")) format_.dateTimeFormat = value;
        else if (k == QLatin1String("decimalsymbol")) format_.decimalSymbol = singleAscii(key, value);
        else if (k.startsWith(QLatin1String("col")) && k.mid(3).toInt() > 0) setColumn(k.mid(3).toInt(), value);
        // MaxScanRows, CurrencySymbol and the rest change nothing here: every row is read.
    }

private:
    template <typename... Args>
    [[noreturn]] void fail(QStringView pattern, const Args&... args) const {
        throw Error(ErrorFacts{.file = path_, .line = line_}, u"%1 の %2 行目: %3。", path_, line_,
                    formatMessage(pattern, args...));
    }

    char singleAscii(const QString& key, const QString& value) const {
        if (value.size() != 1 || value[0].unicode() >= 0x80)
            fail(u"%1 には半角の 1 文字を書きます (\"%2\")", key, value);
        return char(value[0].unicode());
    }

    bool boolean(const QString& value) const {
        if (value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
        if (value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
        fail(u"ColNameHeader は True か False です (\"%1\")", value);
    }

    void setFormat(const QString& value) {
        const QLatin1String delimited("Delimited(");
        if (value.compare(QLatin1String("CSVDelimited"), Qt::CaseInsensitive) == 0) format_.delimiter = ',';
        else if (value.compare(QLatin1String("TabDelimited"), Qt::CaseInsensitive) == 0) format_.delimiter = '\t';
        else if (value.size() == delimited.size() + 2 && value.startsWith(delimited, Qt::CaseInsensitive) && value.endsWith(u')'))
            format_.delimiter = singleAscii(QStringLiteral("Delimited( )"), value.mid(delimited.size(), 1));
        else if (value.startsWith(QLatin1String("FixedLength"), Qt::CaseInsensitive)) fail(u"固定長 (FixedLength) のファイルは読めません");
        else fail(u"Format \"%1\" は使えません (CSVDelimited, TabDelimited, Delimited(x))", value);
        if (format_.delimiter == '"' || format_.delimiter == '\r' || format_.delimiter == '\n')
            fail(u"区切り文字に \"%1\" は使えません", value);
    }

    void setCharset(const QString& value) {
        const QString v = value.toLower();
        if (v == QLatin1String("ansi") || v == QLatin1String("oem") || v == QLatin1String("932")) format_.charset = Charset::Cp932;
        else if (v == QLatin1String("65001") || v == QLatin1String("utf-8") || v == QLatin1String("utf8")) format_.charset = Charset::Utf8;
        else if (v == QLatin1String("unicode") || v == QLatin1String("1200")) format_.charset = Charset::Utf16;
        else fail(u"CharacterSet \"%1\" は使えません (ANSI, OEM, 932, 65001, Unicode)", value);
    }

    void setTextDelimiter(const QString& value) {
        if (value.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0) format_.quote = 0;
        else format_.quote = singleAscii(QStringLiteral("TextDelimiter"), value);
    }

    // Col3=name type [Width n]; a name with blanks is written in double quotes.
    void setColumn(int n, const QString& value) {
        const std::optional<ColumnLine> line = readColumnLine(value);
        if (!line) fail(u"Col%1 には 列名 型 を書きます (\"%2\")", n, value);
        DeclaredColumn c;
        c.name = line->name;
        c.typeName = line->typeName;
        if (!c.typeName.isEmpty()) {
            c.type = typeNamed(c.typeName);
            if (c.type == DeclaredType::None)
                fail(u"Col%1 の型 \"%2\" は使えません", n, c.typeName);
        }
        if (size_t(n) > 2000) fail(u"Col%1: 列は 2000 までです", n);
        if (format_.columns.size() < size_t(n)) format_.columns.resize(size_t(n));
        format_.columns[size_t(n) - 1] = c;
    }

    QString path_;
    TableFormat& format_;
    int line_ = 0;
};

}  // namespace

TableFormat tableFormatFrom(const QString& schemaText, const QString& fileName, const QString& schemaPath) {
    TableFormat format = defaultFor(fileName);
    SectionReader reader(schemaPath, format);
    bool inSection = false;
    const QStringList lines = schemaText.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inSection = line.mid(1, line.size() - 2).trimmed().compare(fileName, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection) continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        reader.set(int(i + 1), line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return format;
}

TableFormat tableFormatFor(const QString& path) {
    const QFileInfo info(path);
    const QString folder = info.absolutePath() + QLatin1Char('/');
    const QString schema = findFolderFile(folder, QStringLiteral("schema.ini"));
    if (!QFileInfo(schema).isFile()) return defaultFor(info.fileName());
    QByteArray bytes;
    try {
        bytes = readSmallFile(schema, kMaxSmallFileBytes);
    } catch (const FileError& e) {
        throw Error(ErrorFacts{.file = schema}, u"%1 を読めません: %2", schema, e.reason());
    }
    return tableFormatFrom(decodeText(bytes).text, info.fileName(), schema);
}

}  // namespace tarlo
