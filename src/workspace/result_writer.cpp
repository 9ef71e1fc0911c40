#include "workspace/result_writer.h"

#include "platform/error.h"
#include "platform/text_encoding.h"

namespace tarlo {

namespace {

QString utf16(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its quotes doubled.
QString csvField(const QString& s) {
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n')) &&
        !s.contains(QLatin1Char('\r')))
        return s;
    QString quoted = s;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString jsonString(const QString& s) {
    QString out = QStringLiteral("\"");
    for (const QChar c : s) {
        switch (c.unicode()) {
        case '"': out += QStringLiteral("\\\""); break;
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        default:
            if (c.unicode() < 0x20) out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else out += c;
        }
    }
    return out + QLatin1Char('"');
}

// A JSON number as JSON spells it: the pane's "1.5E+20" is one already,
// and a field that is no such number goes as a string.
QString jsonNumber(const QString& s) {
    bool ok = false;
    s.toDouble(&ok);
    if (!ok || s.startsWith(QLatin1Char('.')) || s.startsWith(QLatin1String("-.")) || s.contains(QLatin1String("inf"), Qt::CaseInsensitive) ||
        s.contains(QLatin1String("nan"), Qt::CaseInsensitive))
        return jsonString(s);
    return s;
}

QString markdownCell(const QString& s) {
    QString out = s;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    out.replace(QLatin1Char('|'), QStringLiteral("\\|"));
    out.replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
    out.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    out.replace(QLatin1Char('\r'), QStringLiteral("<br>"));
    return out;
}

}  // namespace

ResultWriter::ResultWriter(OutputFormat format, OutputEncoding encoding, bool header)
    : format_(format), encoding_(encoding), header_(header) {
    if (encoding_ == OutputEncoding::Utf8WithBom) out_ = QByteArray("\xEF\xBB\xBF");
}

void ResultWriter::append(const QString& text) {
    if (encoding_ != OutputEncoding::Cp932) {
        out_ += text.toUtf8();
        return;
    }
    try {
        out_ += encodeText(text, TextEncoding::Cp932);
    } catch (const Error& e) {
        const QString where = rows_ == 0 ? QStringLiteral("見出し") : QStringLiteral(" %1 行目").arg(rows_);
        throw Error(ErrorFacts{.line = rows_, .word = e.facts().word},
                    u"結果の%1にある文字 \"%2\" は Shift_JIS (CP932) で書けません (--encoding utf-8 を使ってください)。",
                    where, e.facts().word);
    }
}

void ResultWriter::begin(const QStringList& names) {
    names_ = names;
    switch (format_) {
    case OutputFormat::Tsv:
        if (header_) append(names.join(QLatin1Char('\t')) + QLatin1Char('\n'));
        break;
    case OutputFormat::Csv: {
        QStringList cells;
        for (const QString& n : names) cells << csvField(n);
        append(cells.join(QLatin1Char(',')) + QStringLiteral("\r\n"));
        break;
    }
    case OutputFormat::Json: append(QStringLiteral("[")); break;
    case OutputFormat::Markdown: {
        QStringList cells, rule;
        for (const QString& n : names) cells << markdownCell(n), rule << QStringLiteral("---");
        append(QStringLiteral("| %1 |\n|%2|\n").arg(cells.join(QStringLiteral(" | ")), rule.join(QLatin1Char('|'))));
        break;
    }
    }
}

void ResultWriter::row(const std::vector<OutputField>& fields) {
    ++rows_;
    QStringList cells;
    switch (format_) {
    case OutputFormat::Tsv:
        for (const OutputField& f : fields) cells << utf16(f.text);
        append(cells.join(QLatin1Char('\t')) + QLatin1Char('\n'));
        break;
    case OutputFormat::Csv:
        for (const OutputField& f : fields) cells << csvField(utf16(f.text));
        append(cells.join(QLatin1Char(',')) + QStringLiteral("\r\n"));
        break;
    case OutputFormat::Json:
        for (size_t i = 0; i < fields.size(); ++i) {
            const OutputField& f = fields[i];
            const QString value = f.kind == OutputField::Null     ? QStringLiteral("null")
                                  : f.kind == OutputField::Number ? jsonNumber(utf16(f.text))
                                                                  : jsonString(utf16(f.text));
            cells << jsonString(i < size_t(names_.size()) ? names_[qsizetype(i)] : QString()) + QStringLiteral(": ") + value;
        }
        append((rows_ > 1 ? QStringLiteral(",\n  {") : QStringLiteral("\n  {")) + cells.join(QStringLiteral(", ")) +
               QLatin1Char('}'));
        break;
    case OutputFormat::Markdown:
        for (const OutputField& f : fields) cells << markdownCell(utf16(f.text));
        append(QStringLiteral("| %1 |\n").arg(cells.join(QStringLiteral(" | "))));
        break;
    }
}

QByteArray ResultWriter::finish() {
    if (format_ == OutputFormat::Json) append(rows_ > 0 ? QStringLiteral("\n]\n") : QStringLiteral("]\n"));
    return std::move(out_);
}

}  // namespace tarlo
