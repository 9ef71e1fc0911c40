// Runs the statement scripts of tests/sql/*.test through the engine, each
// script a test of its own (the format: support/sql_script.h).
#include "platform/error.h"
#include "engine/connection.h"
#include "support/sql_script.h"
#include "support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

QString runStatement(tarlo::Connection& c, const QString& sql) {
    auto result = c.execute(sql + QStringLiteral("\r\n"));
    return scriptRows(*result);
}

}  // namespace

class SqlScript : public testing::TestWithParam<std::string> {};

TEST_P(SqlScript, GivesItsExpectedRows) {
    const QString script = QString::fromStdString(GetParam());
    const QString text = scriptText(GetParam());
    ASSERT_FALSE(text.isEmpty()) << script.toStdString();
    TempFolder folder;
    tarlo::Connection connection;
    connection.open(folder.path());
    for (const ScriptBlock& b : parseScript(text)) {
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
INSTANTIATE_TEST_SUITE_P(Scripts, SqlScript, testing::ValuesIn(scriptNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });
