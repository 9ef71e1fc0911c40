// Runs the statement scripts of tests/sql/*.test through the engine, each
// script a test of its own. A script holds blocks ended by "----":
//   file NAME      the file's lines follow (written with CR LF)
//   query / error  the statement's lines, "====", then the expected rows
//                  (fields joined by "|") or the start of the message
#include "platform/error.h"
#include "engine/connection.h"
#include "support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

struct Block {
    QString kind, name, body, expected;
    int line = 0;
};

std::vector<Block> parseScript(const QString& text) {
    std::vector<Block> blocks;
    Block current;
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
    return blocks;
}

QString runStatement(tarlo::Connection& c, const QString& sql) {
    auto result = c.execute(sql + QStringLiteral("\r\n"));
    QStringList rows;
    for (; !result->atEnd(); result->next()) {
        QStringList fields;
        for (int i = 0; i < result->fieldCount(); ++i) {
            const std::string_view v = result->fieldUtf8(i);
            fields << QString::fromUtf8(v.data(), qsizetype(v.size()));
        }
        rows << fields.join(QLatin1Char('|'));
    }
    return rows.join(QLatin1Char('\n'));
}

}  // namespace

class SqlScript : public testing::TestWithParam<std::string> {};

TEST_P(SqlScript, GivesItsExpectedRows) {
    const QString script = QString::fromStdString(GetParam());
    QFile file(QDir(QStringLiteral(TARLO_SQL_TESTS_DIR)).filePath(script + QStringLiteral(".test")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << script.toStdString();
    TempFolder folder;
    tarlo::Connection connection;
    connection.open(folder.path());
    for (const Block& b : parseScript(QString::fromUtf8(file.readAll()))) {
        const std::string where = script.toStdString() + ".test:" + std::to_string(b.line);
        if (b.kind == QLatin1String("file")) {
            folder.write(b.name, (b.body + QStringLiteral("\r\n")).toUtf8());
        } else if (b.kind == QLatin1String("query")) {
            try {
                EXPECT_EQ(runStatement(connection, b.body).toStdString(), b.expected.toStdString()) << where;
            } catch (const tarlo::Error& e) {
                ADD_FAILURE() << where << ": " << e.what();
            }
        } else if (b.kind == QLatin1String("error")) {
            QString message;
            try {
                runStatement(connection, b.body);
            } catch (const tarlo::Error& e) {
                message = e.message();
            }
            EXPECT_TRUE(!message.isEmpty() && message.startsWith(b.expected))
                << where << ": got \"" << message.toStdString() << "\"";
        } else {
            ADD_FAILURE() << where << ": unknown block " << b.kind.toStdString();
        }
    }
}

// Each script is a test of its own, named after its file.
INSTANTIATE_TEST_SUITE_P(Scripts, SqlScript, testing::ValuesIn([] {
    std::vector<std::string> names;
    for (const QString& f : QDir(QStringLiteral(TARLO_SQL_TESTS_DIR)).entryList({"*.test"}, QDir::Files, QDir::Name))
        names.push_back(f.chopped(5).toStdString());
    return names;
}()), [](const testing::TestParamInfo<std::string>& info) { return info.param; });
