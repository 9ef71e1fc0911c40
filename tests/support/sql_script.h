// The statement scripts of tests/sql/*.test. A script holds blocks ended by "----":
//   file NAME      the file's lines follow (written with CR LF)
//   query / error  the statement's lines, "====", then the expected rows
//                  (fields joined by "|") or the start of the message
#pragma once

#include "engine/connection.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <string>
#include <vector>

struct ScriptBlock {
    QString kind, name, body, expected;
    int line = 0;
};

inline std::vector<ScriptBlock> parseScript(const QString& text) {
    std::vector<ScriptBlock> blocks;
    ScriptBlock current;
    bool inExpected = false;
    int number = 0;
    QStringList body, expected;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        ++number;
        const QString line = QString(raw).remove(QLatin1Char('\r'));
        if (current.kind.isEmpty()) {
            if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
            current.kind = line.section(QLatin1Char(' '), 0, 0);
            current.name = line.section(QLatin1Char(' '), 1);
            current.line = number;
        } else if (line == QLatin1String("----")) {
            current.body = body.join(QStringLiteral("\r\n"));
            current.expected = expected.join(QLatin1Char('\n'));
            blocks.push_back(current);
            current = {};
            body.clear();
            expected.clear();
            inExpected = false;
        } else if (line == QLatin1String("====")) {
            inExpected = true;
        } else {
            (inExpected ? expected : body).append(line);
        }
    }
    // A last block without its "----" still counts: dropping it would pass it unrun.
    if (!current.kind.isEmpty()) {
        while (!expected.isEmpty() && expected.back().isEmpty()) expected.removeLast();
        current.body = body.join(QStringLiteral("\r\n"));
        current.expected = expected.join(QLatin1Char('\n'));
        blocks.push_back(current);
    }
    return blocks;
}

// The rows, fields joined by "|", rows by newlines.
inline QString scriptRows(tarlo::Result& result) {
    QStringList rows;
    for (; !result.atEnd(); result.next()) {
        QStringList fields;
        for (int i = 0; i < result.fieldCount(); ++i) {
            const std::string_view v = result.fieldUtf8(i);
            fields << QString::fromUtf8(v.data(), qsizetype(v.size()));
        }
        rows << fields.join(QLatin1Char('|'));
    }
    return rows.join(QLatin1Char('\n'));
}

inline std::vector<std::string> scriptNames() {
    std::vector<std::string> names;
    for (const QString& f : QDir(QStringLiteral(TARLO_SQL_TESTS_DIR)).entryList({"*.test"}, QDir::Files, QDir::Name))
        names.push_back(f.chopped(5).toStdString());
    return names;
}

inline QString scriptText(const std::string& name) {
    QFile file(QDir(QStringLiteral(TARLO_SQL_TESTS_DIR)).filePath(QString::fromStdString(name) + QStringLiteral(".test")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
