// How one table file is read: its delimiter and quote, whether its first
// line names the columns, its character set, and the columns schema.ini
// declares with their types and date and decimal formats. The default is
// the folder's CSV: comma, double quotes, a header line, encoding told
// from the bytes; .tsv and .tab files are TAB-separated.
#pragma once

#include <QString>

#include <vector>

namespace tarlo {

enum class Charset { Detect, Cp932, Utf8, Utf16 };

// The types schema.ini may declare, as the engine stores them.
enum class DeclaredType { None, Text, Integer, Short, Byte, Real, DateTime, Bit };

struct DeclaredColumn {
    QString name;
    DeclaredType type = DeclaredType::None;
    QString typeName;  // as written, for messages

    bool operator==(const DeclaredColumn&) const = default;
};

struct TableFormat {
    char delimiter = ',';
    char quote = '"';  // 0: no quoting
    bool header = true;
    Charset charset = Charset::Detect;
    std::vector<DeclaredColumn> columns;  // Col1, Col2, ... in order
    QString dateTimeFormat;               // yyyy mm dd hh nn ss; empty: any date the reader knows
    char decimalSymbol = '.';

    bool operator==(const TableFormat&) const = default;
};

// The format for a table file: its section of schema.ini in the same
// folder if there is one, else the default for its extension. Throws Error
// naming schema.ini's line for a key it cannot read.
TableFormat tableFormatFor(const QString& path);

// The same from schema.ini's text, for tests.
TableFormat tableFormatFrom(const QString& schemaText, const QString& fileName, const QString& schemaPath);

}  // namespace tarlo
