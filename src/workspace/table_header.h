// The column list of a table file: its first line split at every "," with
// no quoting rules, one item "F01" + TAB + name per field. And the name a
// column item puts on the clipboard.
#pragma once

#include <QString>
#include <QStringList>

namespace tarlo {

constexpr int kMaxTablePathLength = 259;

// The items in header order. Throws Error with the runtime's texts:
// "ファイルが見つかりません", "ファイルへのアクセスが拒否されました" or
// "I/O エラー (<errno>)"; a path over 259 characters is refused unread.
QStringList readTableHeader(const QString& path);

// Splits a decoded header line into items.
QStringList headerItems(const QString& line);

// The name part of an item with its double quotes removed ('"a""b"' gives
// 'a"b'); a name that opens a quote and never closes it stays as it is.
QString columnNameForCopy(const QString& item);

}  // namespace tarlo
