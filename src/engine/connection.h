// The data source: a read-only connection on a folder whose CSV files are
// its tables, and the result of one statement, read row by row. Opened and
// closed for each run; parsed files are shared between runs (TableCache).
#pragma once

#include "dialect/crosstab.h"
#include "dialect/binder.h"
#include "dialect/sql_writer.h"
#include "dialect/table_references.h"
#include "engine/column_crosstab.h"
#include "engine/column_pieces.h"
#include "csv/csv_table.h"

#include <QString>
#include <atomic>
#include <functional>
#include <unordered_map>
#include <memory>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tarlo {

class Result;

class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens on folder (ending in "/"); closes a connection already open.
    void open(const QString& folder);
    void close();
    bool isOpen() const { return db_ != nullptr; }

    // Runs one statement; the result stands on its first row. Throws Error.
    std::unique_ptr<Result> execute(const QString& statement, const ParseProgress& progress = {});

    // Stops the running statement from any thread; it then fails with Cancelled.
    void interrupt();

    // Where the table rows the next statements go through are counted, for
    // a progress display on another thread; null counts nothing.
    void countRowsVisitedIn(std::atomic<uint64_t>* counter);
    // Where a scan of a file read in pieces tells the share of it read; null tells nothing.
    void tellPiecesReadIn(std::atomic<double>* share);

    // Whether statements of the column path's shape take it (the default);
    // off, SQLite answers every statement, as the equivalence tests compare.
    void setColumnPath(bool on) { columnPath_ = on; }

private:
    friend class Result;
    // Reads the statement's tables (statementTables_) and registers them with SQLite.
    void registerTables(const ParseProgress& progress, const ColumnWish& wish = {});
    // Their columns and the functions, as the binder reads them.
    Catalog catalogOfTables() const;
    // Prepares the text written for SQLite, which reads the tables registered.
    sqlite3_stmt* prepare(const MappedText& bound);
    // The column path's rows for the statement prepare made last, by its plan, or nothing.
    std::optional<ColumnRows> runOnColumns(sqlite3_stmt* stmt, const ColumnPlan& plan,
                                           const std::shared_ptr<const CsvTable>& table);
    std::vector<PivotValue> pivotValues(const Crosstab& crosstab);
    // The column path's plan for the statement, over its one file or else its
    // files joined, with the table the plan reads; nothing where it does not
    // take the statement.
    struct ColumnWay {
        ColumnPlan plan;
        std::shared_ptr<const CsvTable> table;
    };
    // piece: a piece that stands for the file of that name, read in pieces.
    struct PieceOf {
        QString name;
        std::shared_ptr<const CsvTable> table;
    };
    std::optional<ColumnWay> planOnColumns(const syntax::SyntaxTree& tree, const Binding& binding, const SqlWriter& writer,
                                           const std::map<int, QString>& tableAt, const PieceOf* piece = nullptr);
    // The column path's rows over the statement's file read in pieces, or
    // nothing where it does not take the statement.
    std::optional<PiecedRows> runOnPieces(const syntax::SyntaxTree& tree, const Binding& binding, const SqlWriter& writer,
                                          const std::map<int, QString>& tableAt);
    // A crosstab's rows by the column path, or nothing where it does not take the statement.
    std::optional<PivotedRows> crosstabOnColumns(const syntax::SyntaxTree& tree, const Binding& binding,
                                                 const SqlWriter& writer, const std::map<int, QString>& tableAt);

    QString folder_;
    QString statement_;  // as the user wrote it, for the place of a fault
    sqlite3* db_ = nullptr;
    std::vector<std::pair<std::string, std::shared_ptr<const CsvTable>>> tables_;
    struct Lookup;
    std::unique_ptr<Lookup> lookup_;
    bool columnPath_ = true;
    MappedText bound_;  // the last statement prepare made, as SQLite reads it
    std::vector<QString> boundTables_;
    std::vector<TableReference> statementTables_;  // the files the statement run names
    ColumnWish wish_;  // the columns it reads
};

class Result {
public:
    ~Result();
    int fieldCount() const { return fieldCount_; }
    QString fieldName(int i) const;
    bool atEnd() const { return done_; }
    // The value as shown: empty for a null. Valid until the row moves on.
    std::string_view fieldUtf8(int i);
    enum class FieldKind { Null, Number, Text };
    std::string_view field(int i, FieldKind& kind);
    // Moves to the next row. Throws Error (the rows read so far stay valid),
    // or Cancelled once the statement is interrupted.
    void next();
    // Whether the column path gave the rows (SQLite only named the fields).
    bool fromColumns() const { return rows_.has_value(); }

private:
    friend class Connection;
    Result(Connection* connection, sqlite3_stmt* stmt);
    void step();
    void takeRows(ColumnRows rows);

    Connection* connection_;
    sqlite3_stmt* stmt_;
    int fieldCount_;
    bool done_ = false;
    std::vector<std::string> scratch_;  // each field's shown real
    std::vector<std::pair<std::shared_ptr<const CsvTable>, size_t>> spelledBy_;
    std::optional<ColumnRows> rows_;  // the column path's answer, when it gave one
    size_t part_ = 0, row_ = 0;       // the row it stands on, within its part
    void skipEmptyParts();
};

}  // namespace tarlo
