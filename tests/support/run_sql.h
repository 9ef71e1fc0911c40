// Runs one statement on a fresh connection over a folder, as a run does:
// its rows as text (each row's fields joined by a separator), its field
// names, or its failure's message.
#pragma once

#include "engine/connection.h"
#include "platform/error.h"

#include <QStringList>

#include <string>
#include <vector>

inline std::vector<std::string> runSql(const QString& folder, const QString& sql, const char* separator = "\t",
                                       QStringList* names = nullptr) {
    tarlo::Connection c;
    c.open(folder);
    auto result = c.execute(sql);
    if (names) {
        names->clear();
        for (int i = 0; i < result->fieldCount(); ++i) names->append(result->fieldName(i));
    }
    std::vector<std::string> rows;
    for (; !result->atEnd(); result->next()) {
        std::string row;
        for (int i = 0; i < result->fieldCount(); ++i) (row += i ? separator : "") += result->fieldUtf8(i);
        rows.push_back(row);
    }
    return rows;
}

// The message of the statement's failure, or empty when it runs.
inline QString failureOf(const QString& folder, const QString& sql) {
    try {
        runSql(folder, sql);
    } catch (const tarlo::Error& e) {
        return e.message();
    }
    return {};
}
