// The table a loaded query reads, taken out of its FROM clause by plain text
// rules ("#" stands for "."), and the most-recently-used list of such tables.
#pragma once

#include <QString>
#include <QStringList>

namespace tarlo {

// 'select * from [data#csv];' gives 'data.csv'; 'SELECT a, b\r\nFROM t1, t2;'
// gives 't1'. Nothing cuts at a blank, so an alias stays part of the name.
QString tableNameFromQuery(const QString& queryText);

// Most recent first; lookups ignore case and an entry keeps the text it was
// first added with. It only grows.
class RecentTables {
public:
    // Moves name to the top (adding it when new); true unless it was on top.
    bool touch(const QString& name);
    const QStringList& entries() const { return entries_; }
    bool isEmpty() const { return entries_.isEmpty(); }
    QString top() const { return entries_.value(0); }

private:
    QStringList entries_;
};

}  // namespace tarlo
