// A result's rows as tarlo-query writes them: TSV exactly as the result
// pane shows them, CSV with RFC 4180 quoting, JSON objects, or a Markdown
// table; in UTF-8 (with or without a byte-order mark) or CP932.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <vector>

namespace tarlo {

enum class OutputFormat { Tsv, Csv, Json, Markdown };
enum class OutputEncoding { Utf8, Utf8WithBom, Cp932 };

struct OutputField {
    enum Kind { Null, Number, Text } kind = Null;
    std::string_view text;  // UTF-8, as the result pane shows it
};

class ResultWriter {
public:
    // header applies to TSV; the other formats always name their fields.
    ResultWriter(OutputFormat format, OutputEncoding encoding, bool header);

    void begin(const QStringList& names);
    // Throws Error naming a character CP932 cannot hold and its row.
    void row(const std::vector<OutputField>& fields);
    // The bytes made so far; dropOutput once they are written (the buffer is kept for more).
    const std::string& output() const { return out_; }
    void dropOutput() { out_.clear(); }
    // The rest of the output.
    std::string finish();

private:
    void append(const std::string& utf8);

    OutputFormat format_;
    OutputEncoding encoding_;
    bool header_;
    std::vector<std::string> names_;  // UTF-8
    qint64 rows_ = 0;
    std::string out_;
    std::string row_;  // a CP932 row before its conversion
};

}  // namespace tarlo
