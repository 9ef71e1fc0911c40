#include "workspace/result_writer.h"

#include "platform/error.h"
#include "platform/text_encoding.h"
#include "workspace/field_names.h"

#include <cstdio>
#include <utility>

namespace tarlo {

namespace {

bool contains(std::string_view s, std::string_view any) {
    return s.find_first_of(any) != std::string_view::npos;
}

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its quotes doubled.
void appendCsv(std::string& out, std::string_view s) {
    if (!contains(s, ",\"\r\n")) {
        out += s;
        return;
    }
    out += '"';
    for (const char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void appendJsonString(std::string& out, std::string_view s) {
    out += '"';
    for (const char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// The pane's numbers (12, -0.5, 1.5E+20) are JSON numbers already, but for
// a leading point, which JSON wants a zero before.
void appendJsonNumber(std::string& out, std::string_view s) {
    bool number = !s.empty();
    for (size_t i = 0; i < s.size() && number; ++i) {
        const char c = s[i];
        number = (c >= '0' && c <= '9') || (c == '-' && (i == 0 || s[i - 1] == 'E' || s[i - 1] == 'e')) ||
                 (c == '+' && i > 0 && (s[i - 1] == 'E' || s[i - 1] == 'e')) || c == '.' || c == 'E' || c == 'e';
    }
    const size_t digit = s.find_first_of("0123456789");
    if (!number || digit == std::string_view::npos || s[s.front() == '-' ? 1 : 0] == '.') return appendJsonString(out, s);
    out += s;
}

void appendMarkdown(std::string& out, std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\' || c == '|') out += '\\', out += c;
        else if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') out += "<br>", ++i;
        else if (c == '\r' || c == '\n') out += "<br>";
        else out += c;
    }
}

}  // namespace

ResultWriter::ResultWriter(OutputFormat format, OutputEncoding encoding, bool header)
    : format_(format), encoding_(encoding), header_(header) {
    if (encoding_ == OutputEncoding::Utf8WithBom) out_ = "\xEF\xBB\xBF";
}

void ResultWriter::append(const std::string& utf8) {
    if (encoding_ != OutputEncoding::Cp932) {
        out_ += utf8;
        return;
    }
    try {
        const QByteArray bytes = encodeText(QString::fromStdString(utf8), TextEncoding::Cp932);
        out_.append(bytes.constData(), size_t(bytes.size()));
    } catch (const Error& e) {
        const QString where = rows_ == 0 ? QStringLiteral("見出し") : QStringLiteral(" %1 行目").arg(rows_);
        throw Error(ErrorFacts{.line = rows_, .word = e.facts().word},
                    u"結果の%1にある文字 \"%2\" は Shift_JIS (CP932) で書けません (--encoding utf-8 を使ってください)。",
                    where, e.facts().word);
    }
}

void ResultWriter::begin(const QStringList& names) {
    // A JSON object keeps one value a key: a second "a" would hide the first.
    for (const QString& n : format_ == OutputFormat::Json ? uniqueFieldNames(names) : names)
        names_.push_back(n.toStdString());
    std::string line;
    switch (format_) {
    case OutputFormat::Tsv:
        if (!header_) return;
        for (size_t i = 0; i < names_.size(); ++i) (line += i ? "\t" : "") += names_[i];
        line += '\n';
        break;
    case OutputFormat::Csv:
        for (size_t i = 0; i < names_.size(); ++i) {
            if (i) line += ',';
            appendCsv(line, names_[i]);
        }
        line += "\r\n";
        break;
    case OutputFormat::Json: line = "["; break;
    case OutputFormat::Markdown:
        line = "|";
        for (const std::string& n : names_) line += ' ', appendMarkdown(line, n), line += " |";
        line += "\n|";
        for (size_t i = 0; i < names_.size(); ++i) line += "---|";
        line += '\n';
        break;
    }
    append(line);
}

void ResultWriter::row(const std::vector<OutputField>& fields) {
    ++rows_;
    // UTF-8 goes straight to the output; CP932 is converted a row at a time.
    const bool direct = encoding_ != OutputEncoding::Cp932;
    std::string& line = direct ? out_ : row_;
    row_.clear();
    switch (format_) {
    case OutputFormat::Tsv:
        for (size_t i = 0; i < fields.size(); ++i) (line += i ? "\t" : "") += fields[i].text;
        line += '\n';
        break;
    case OutputFormat::Csv:
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i) line += ',';
            appendCsv(line, fields[i].text);
        }
        line += "\r\n";
        break;
    case OutputFormat::Json:
        line += rows_ > 1 ? ",\n  {" : "\n  {";
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i) line += ", ";
            appendJsonString(line, i < names_.size() ? names_[i] : std::string());
            line += ": ";
            if (fields[i].kind == OutputField::Null) line += "null";
            else if (fields[i].kind == OutputField::Number) appendJsonNumber(line, fields[i].text);
            else appendJsonString(line, fields[i].text);
        }
        line += '}';
        break;
    case OutputFormat::Markdown:
        line += '|';
        for (const OutputField& f : fields) line += ' ', appendMarkdown(line, f.text), line += " |";
        line += '\n';
        break;
    }
    if (!direct) append(row_);
}

std::string ResultWriter::finish() {
    if (format_ == OutputFormat::Json) append(rows_ > 0 ? "\n]\n" : "]\n");
    return std::exchange(out_, {});
}

}  // namespace tarlo
