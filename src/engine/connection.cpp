#include "engine/connection.h"

#include "platform/error.h"
#include "platform/parallel.h"
#include "values/column_types.h"
#include "dialect/crosstab.h"
#include "dialect/internal_names.h"
#include "dialect/name_scopes.h"
#include "dialect/parser.h"
#include "engine/column_crosstab.h"
#include "engine/column_join.h"
#include "engine/column_pieces.h"
#include "engine/csv_vtab.h"
#include "engine/messages.h"
#include "dialect/sql_writer.h"
#include "dialect/binder.h"
#include "dialect/placed_error.h"
#include "engine/conversions.h"
#include "functions/catalogue.h"
#include "functions/function_support.h"
#include "functions/registry.h"
#include "dialect/sql_lexer.h"
#include "dialect/sql_quote.h"
#include "csv/table_cache.h"
#include "csv/table_file.h"
#include "dialect/table_references.h"

#include <sqlite3.h>

#include <QFileInfo>

#include <cstring>
#include <utility>

namespace tarlo {

namespace {

// Reading is all a statement may do: no ATTACH, no writes, no PRAGMA.
int readOnlyAuthorizer(void*, int action, const char*, const char* function, const char*, const char*) {
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_RECURSIVE: return SQLITE_OK;
    // SQLite's built-ins too are reachable only through a catalogue row, so
    // nothing untyped gives a value; SQLite names the refused one as written.
    case SQLITE_FUNCTION: return isCallableFunction(function) ? SQLITE_OK : SQLITE_DENY;
    default: return SQLITE_DENY;
    }
}

[[noreturn]] void throwEngineError(sqlite3* db, int rc) {
    if (rc == SQLITE_INTERRUPT) throw Cancelled{};
    if (rc == SQLITE_NOMEM) throw Error(QStringLiteral("メモリが足りません。結果が大きすぎます。"));
    throw Error(engineMessage(QString::fromUtf8(sqlite3_errmsg(db))));
}

// A NUL ends the text SQLite reads, so whatever follows it would be dropped
// without a word: the statement is refused, naming the place as a syntax
// error names it (lines broken as the editor breaks them).
void refuseNul(const QString& statement) {
    const qsizetype at = statement.indexOf(QChar(0));
    if (at < 0) return;
    const TextPlace place = placeIn(statement, at);
    throw Error(ErrorFacts{.line = place.line, .column = place.column},
                u"SQL 文の %1 行目 %2 文字目に NUL 文字 (文字コード 0) があります。SQL 文には書けないので取り除いてください。",
                place.line, place.column);
}

// The failure with the line and column of its place in statement, in its
// first sentence and, for a failure about no file, in its facts.
Error placedIn(const QString& statement, const PlacedError& e) {
    const TextPlace place = placeIn(statement, e.at().offset);
    ErrorFacts facts = e.facts();
    if (facts.file.isEmpty()) facts.line = place.line, facts.column = place.column;
    return Error(facts, withPlace(e.message(), placeText(statement, e.at().offset)));
}

// A call of a function the catalogue has no row of is refused where it
// stands (SQLite names no place for one in a join's ON): the first one
// written, as not there at all or, for one of SQLite's own, as not to be used.
void refuseUnknownCalls(sqlite3* db, const syntax::SyntaxTree& tree) {
    const syntax::Node* first = nullptr;
    for (const syntax::Node& n : tree.nodes) {
        if (n.kind != syntax::NodeKind::Call) continue;
        QString name = tree.token(n.token).text;
        if (const char* internal = call::calledAs(name)) name = QLatin1String(internal);
        if (catalogueRow(name.toStdString()) || (first && first->span.offset < n.span.offset)) continue;
        first = &n;
    }
    if (!first) return;
    const Token& name = tree.token(first->token);
    // SQLite knows the name when a call of it is prepared without "no such function".
    const QByteArray probe = "SELECT " + quotedName(name.text).toUtf8() + "(1)";
    sqlite3_stmt* stmt = nullptr;
    const bool known = sqlite3_prepare_v2(db, probe.constData(), int(probe.size()), &stmt, nullptr) == SQLITE_OK ||
                       !QString::fromUtf8(sqlite3_errmsg(db)).startsWith(QLatin1String("no such function"));
    sqlite3_finalize(stmt);
    throw PlacedError(name.span, Error(ErrorFacts{.word = name.text},
                                       known ? u"関数 \"%1\" は使えません。" : u"関数 \"%1\" はありません。", name.text));
}

bool onlySpaceOrComments(const QString& tail) {
    for (const Token& t : tokenize(tail))
        if (t.kind != TokenKind::Space && t.kind != TokenKind::Comment && t.text != QLatin1String(";")) return false;
    return true;
}

}  // namespace

struct Connection::Lookup {
    TableLookup find;
    std::atomic<bool> interrupted{false};
    CsvModuleHost host{&find, &interrupted};
};

Connection::Connection() : lookup_(std::make_unique<Lookup>()) {
    lookup_->find = [this](const std::string& name) -> std::shared_ptr<const CsvTable> {
        for (const auto& [registered, table] : tables_)
            if (QString::fromStdString(registered).compare(QString::fromUtf8(name.c_str()), Qt::CaseInsensitive) == 0)
                return table;
        return nullptr;
    };
}

Connection::~Connection() {
    close();
}

void Connection::open(const QString& folder) {
    close();
    folder_ = folder;
    if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        close();
        throw Error(QStringLiteral("SQL エンジンを開けません。"));
    }
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    // A sort too big for memory (GROUP BY over a join) sorts its pieces on
    // the other cores while this one goes on reading rows.
    sqlite3_limit(db_, SQLITE_LIMIT_WORKER_THREADS, int(coreCount()) - 1);
    sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
    lookup_->interrupted = false;
    setStopFlag(&lookup_->interrupted);  // this thread steps the statements
    registerCsvModule(db_, &lookup_->host);
    registerFunctions(db_);
    registerConversions(db_, &lookup_->find);
}

void Connection::close() {
    if (stopFlag() == &lookup_->interrupted) setStopFlag(nullptr);
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    tables_.clear();
}

void Connection::countRowsVisitedIn(std::atomic<uint64_t>* counter) {
    lookup_->host.rowsVisited = counter;
}

void Connection::tellPiecesReadIn(std::atomic<double>* share) {
    lookup_->host.piecesRead = share;
}

void Connection::interrupt() {
    lookup_->interrupted = true;
    if (db_) sqlite3_interrupt(db_);
}

void Connection::registerTables(const ParseProgress& progress, const ColumnWish& wish) {
    for (const TableReference& ref : statementTables_) {
        std::shared_ptr<const CsvTable> table;
        try {
            table = TableCache::shared().get(ref.path, progress, wish);
        } catch (const Error& e) {
            if (e.facts().line > 0) throw;  // a fault at a line of the file, not of the statement
            throw PlacedError(ref.written, e);
        }
        const std::string name = ref.name.toStdString();
        const std::shared_ptr<const CsvTable> current = lookup_->find.operator()(name);
        if (current == table) continue;
        const QString quoted = quotedName(ref.name);
        if (current) {
            sqlite3_exec(db_, ("DROP TABLE temp." + quoted.toStdString()).c_str(), nullptr, nullptr, nullptr);
            std::erase_if(tables_, [&](const auto& entry) { return entry.second == current; });
        }
        tables_.emplace_back(name, table);
        const std::string create = "CREATE VIRTUAL TABLE temp." + quoted.toStdString() + " USING tarlo_csv";
        if (const int rc = sqlite3_exec(db_, create.c_str(), nullptr, nullptr, nullptr); rc != SQLITE_OK)
            throwEngineError(db_, rc);
    }
}

Catalog Connection::catalogOfTables() const {
    Catalog catalog;
    catalog.function = functionFacts;
    for (const TableReference& ref : statementTables_) {
        BoundTable& bound = catalog.tables.emplace_back();
        bound.name = ref.name;
        const std::shared_ptr<const CsvTable> table = lookup_->find(ref.name.toStdString());
        if (!table) continue;
        for (size_t c = 0; c < table->columnCount(); ++c)
            bound.columns.emplace_back(QString::fromStdString(table->columnNames()[c]), kindOf(table->columnTypes()[c]));
    }
    return catalog;
}

sqlite3_stmt* Connection::prepare(const MappedText& bound) {
    bound_ = bound;
    boundTables_.clear();
    for (const TableReference& ref : statementTables_) boundTables_.push_back(ref.name);
    const QByteArray sql = bound_.text().toUtf8();
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    sqlite3_set_authorizer(db_, readOnlyAuthorizer, nullptr);
    lookup_->host.orderOffered = false;
    const int rc = sqlite3_prepare_v2(db_, sql.constData(), int(sql.size()), &stmt, &tail);
    sqlite3_set_authorizer(db_, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        // SQLite's offset is in the bytes it read; the map names the user's text it came from.
        const int offset = sqlite3_error_offset(db_);
        if (rc != SQLITE_ERROR || offset < 0 || offset > sql.size()) throwEngineError(db_, rc);
        const QString message = QString::fromUtf8(sqlite3_errmsg(db_));
        const qsizetype at = QString::fromUtf8(sql.left(offset)).size();
        const qsizetype user = bound_.spanOf(at, at + 1).offset;
        const TextPlace place = placeIn(statement_, user);
        ErrorFacts facts{.line = place.line, .column = place.column};
        const qsizetype quote = message.indexOf(QLatin1Char('"'));
        if (message.startsWith(QLatin1String("near \"")) && quote >= 0)
            facts.word = message.mid(quote + 1, message.indexOf(QLatin1String("\":"), quote + 1) - quote - 1);
        throw Error(facts, engineMessage(message, placeText(statement_, user)));
    }
    if (!stmt) throw Error(QStringLiteral("実行する SQL 文がありません。"));
    // The tail by its length: a C string would end at a NUL and hide what follows it.
    const QString rest = QString::fromUtf8(tail, sql.constData() + sql.size() - tail);
    if (!onlySpaceOrComments(rest)) {
        sqlite3_finalize(stmt);
        throw Error(QStringLiteral("SQL 文は一度に一つだけ実行できます。\";\" の後の文は実行しません。"));
    }
    if (sqlite3_column_count(stmt) == 0) {
        sqlite3_finalize(stmt);
        throw Error(QStringLiteral("この文は行を返しません。SELECT 文を書いてください。"));
    }
    return stmt;
}

namespace {

// The names a statement may read a column by: each word and quoted name in
// it, more than it reads but never fewer; every column for a * or a
// NATURAL join, which read columns it does not name.
ColumnWish columnsReadBy(const syntax::SyntaxTree& tree) {
    ColumnWish wish;
    for (const syntax::Node& n : tree.nodes)
        if (n.kind == syntax::NodeKind::Star) return wish;
    for (const syntax::FromClause& from : tree.froms)
        for (const syntax::Join& j : from.joins)
            if (j.natural) return wish;
    wish.all = false;
    for (const Token& t : tree.tokens) {
        switch (t.kind) {
        case TokenKind::Word:
        case TokenKind::String:
        case TokenKind::DoubleQuoted:
        case TokenKind::Bracketed:
        case TokenKind::Backticked: wish.names.push_back(unquotedText(t).toStdString()); break;
        default: break;
        }
    }
    return wish;
}

// A value the data gives the pivot, as SQL that stands for the pivot expression, and the column it heads.
PivotValue pivotValueOf(PathValue::Kind kind, const QString& shown, Span pivot) {
    switch (kind) {
    case PathValue::Kind::Null: return {MappedText(QStringLiteral("NULL"), pivot), QStringLiteral("<>"), ValueKind::Null};
    case PathValue::Kind::Integer: return {MappedText(shown, pivot), shown, ValueKind::Number};
    case PathValue::Kind::Real: break;
    case PathValue::Kind::Text: return {MappedText(quotedString(shown), pivot), shown, ValueKind::Text};
    }
    return {MappedText(shown, pivot), shown, ValueKind::Number};
}

}  // namespace

std::vector<PivotValue> Connection::pivotValues(const Crosstab& crosstab) {
    if (crosstab.valuesQuery().isEmpty()) return crosstab.listedValues();
    Result values(this, prepare(crosstab.valuesQuery()));
    std::vector<PivotValue> out;
    for (values.step(); !values.atEnd(); values.next()) {
        sqlite3_stmt* stmt = values.stmt_;
        const QString shown = QString::fromUtf8(values.fieldUtf8(0));
        const Span pivot = crosstab.pivotSpan();
        switch (sqlite3_column_type(stmt, 0)) {
        case SQLITE_NULL: out.push_back(pivotValueOf(PathValue::Kind::Null, shown, pivot)); break;
        case SQLITE_INTEGER: out.push_back(pivotValueOf(PathValue::Kind::Integer, shown, pivot)); break;
        case SQLITE_FLOAT:
            out.push_back({MappedText(QString::number(sqlite3_column_double(stmt, 0), 'g', 17), pivot), shown, ValueKind::Number});
            break;
        default: out.push_back(pivotValueOf(PathValue::Kind::Text, shown, pivot));
        }
        if (out.size() > kMostPivotValues)
            throw Error(QStringLiteral("クロス集計の列が多すぎます (%1 を超えました)。").arg(kMostPivotValues));
    }
    return out;
}

std::optional<Connection::ColumnWay> Connection::planOnColumns(const syntax::SyntaxTree& tree, const Binding& binding,
                                                               const SqlWriter& writer, const std::map<int, QString>& tableAt,
                                                               const PieceOf* piece) {
    if (!columnPath_ || statementTables_.empty()) return std::nullopt;
    // A file read in pieces holds no rows: the column path reads one of its pieces at a time, or SQLite reads it.
    const auto tableNamed = [&](const QString& name) -> std::shared_ptr<const CsvTable> {
        if (piece && name == piece->name) return piece->table;
        std::shared_ptr<const CsvTable> table = lookup_->find(name.toStdString());
        return table && !table->pieces() ? table : nullptr;
    };
    for (const TableReference& ref : statementTables_)
        if (!tableNamed(ref.name)) return std::nullopt;
    const std::atomic<bool>* stop = &lookup_->interrupted;
    if (statementTables_.size() == 1) {
        const QString& name = statementTables_[0].name;
        if (const auto table = tableNamed(name))
            if (auto plan = planColumnQuery(tree, binding, writer, tableAt, name, *table, db_, stop))
                return ColumnWay{std::move(*plan), table};
    }
    if (const auto joined = joinForColumns(tree, binding, tableAt, tableNamed, stop)) {
        // A piece's joined rows are the file's only where each of them holds one of its rows.
        if (piece && std::find(joined->leftJoined.begin(), joined->leftJoined.end(), piece->table) != joined->leftJoined.end())
            return std::nullopt;
        if (auto plan = planColumnQuery(tree, binding, writer, tableAt, QString(), *joined->table, db_, stop, &joined->columnAt))
            return ColumnWay{std::move(*plan), joined->table};
    }
    return std::nullopt;
}

std::optional<PiecedRows> Connection::runOnPieces(const syntax::SyntaxTree& tree, const Binding& binding, const SqlWriter& writer,
                                                  const std::map<int, QString>& tableAt) {
    if (!columnPath_) return std::nullopt;
    // One file read in pieces, named once in the statement; the others whole.
    std::shared_ptr<const CsvTable> pieced;
    QString name;
    for (const TableReference& ref : statementTables_) {
        const std::shared_ptr<const CsvTable> table = lookup_->find(ref.name.toStdString());
        if (!table) return std::nullopt;
        if (!table->pieces()) continue;
        if (pieced) return std::nullopt;
        pieced = table;
        name = ref.name;
    }
    if (!pieced) return std::nullopt;
    if (std::count_if(tableAt.begin(), tableAt.end(), [&](const auto& at) { return at.second == name; }) != 1)
        return std::nullopt;  // a file joined with itself would meet each piece with that piece alone
    const PiecePlanner planFor = [&](const std::shared_ptr<const CsvTable>& piece) -> std::optional<PlannedPiece> {
        const PieceOf of{name, piece};
        std::optional<ColumnWay> way = planOnColumns(tree, binding, writer, tableAt, &of);
        if (!way) return std::nullopt;
        return PlannedPiece{std::move(way->plan), std::move(way->table)};
    };
    // The groups may take what a table could: a half of what this program allows itself.
    const auto mostGroupBytes = size_t(std::max<qint64>(tableMemoryBound() / 2, 1 << 20));
    return tarlo::runOnPieces(*pieced->pieces(), wish_, planFor, mostGroupBytes, lookup_->host.piecesRead, &lookup_->interrupted);
}

std::optional<PivotedRows> Connection::crosstabOnColumns(const syntax::SyntaxTree& tree, const Binding& binding,
                                                         const SqlWriter& writer, const std::map<int, QString>& tableAt) {
    const std::atomic<bool>* stop = &lookup_->interrupted;
    std::optional<ColumnWay> way = planOnColumns(tree, binding, writer, tableAt);
    if (!way) {
        std::optional<PiecedRows> pieced = runOnPieces(tree, binding, writer, tableAt);
        if (!pieced || !pieced->crosstabHeadings) return std::nullopt;
        return pivotRows(std::move(pieced->rows), *pieced->crosstabHeadings, stop);
    }
    if (!way->plan.crosstabHeadings) return std::nullopt;
    std::optional<ColumnRows> grouped = runColumnPlan(way->plan, *way->table, stop);
    if (!grouped) return std::nullopt;
    grouped->table = way->table;
    return pivotRows(std::move(*grouped), *way->plan.crosstabHeadings, stop);
}

std::unique_ptr<Result> Connection::execute(const QString& statement, const ParseProgress& progress) {
    if (!db_) throw Error(QStringLiteral("データソースが開いていません。"));
    refuseNul(statement);
    statement_ = statement;
    sqlite3_stmt* stmt = nullptr;
    // Until a result owns it, a statement prepared is finalized on any way
    // out: a cancel while a file's pieces are read, say. Else the engine,
    // and the tables it holds, would outlive the connection.
    struct Prepared {
        sqlite3_stmt*& stmt;
        ~Prepared() {
            if (stmt) sqlite3_finalize(stmt);
        }
    } prepared{stmt};
    std::optional<ColumnWay> way;       // the plan and the table it reads: a file's, or joined files' columns
    std::optional<PivotedRows> pivoted;         // a crosstab's rows from the column path
    std::optional<PiecedRows> pieced;           // the column path's rows over a file read in pieces
    try {
        // What the parser does not read goes no further, named where it stands.
        ParseOptions options;
        options.isTableFile = [this](const QString& name) {
            try {
                return QFileInfo(resolveTableFile(folder_, name)).isFile();
            } catch (const Error&) {
                return false;
            }
        };
        const syntax::SyntaxTree tree = parseStatement(statement, options);
        refuseUnknownCalls(db_, tree);
        TableNames tables = resolveTables(tree, folder_);
        statementTables_ = std::move(tables.tables);
        wish_ = columnsReadBy(tree);
        registerTables(progress, wish_);
        // The tree typed once the tables' columns are known: its names by the scopes, then every rule.
        Catalog catalog = catalogOfTables();
        catalog.names = resolveNames(tree, tables.tableAt, catalog);
        const Binding binding = bindTree(tree, catalog, tables.tableAt);
        const SqlWriter writer(tree, tables.tokens, &binding);
        MappedText written = writer.statement();
        const auto crosstab = Crosstab::read(tree, writer, isAggregateFunction);
        if (crosstab) {
            // The column path's groups give the pivot's values and the cells at once.
            if ((pivoted = crosstabOnColumns(tree, binding, writer, tables.tableAt))) {
                std::vector<PivotValue> values;
                for (const PivotedRows::Value& v : pivoted->values)
                    values.push_back(pivotValueOf(v.kind, QString::fromStdString(v.shown), crosstab->pivotSpan()));
                written = crosstab->query(values);
            } else {
                written = crosstab->query(pivotValues(*crosstab));
            }
        }
        stmt = prepare(written);
        if (pivoted && pivoted->rows.fieldCount != size_t(sqlite3_column_count(stmt))) {
            // Headings the plan counted otherwise (a *): SQLite's crosstab then.
            sqlite3_finalize(stmt);
            stmt = nullptr;
            pivoted.reset();
            stmt = prepare(crosstab->query(pivotValues(*crosstab)));
        }
        if (!crosstab) way = planOnColumns(tree, binding, writer, tables.tableAt);
        if (!crosstab && !way)
            if ((pieced = runOnPieces(tree, binding, writer, tables.tableAt)) &&
                pieced->rows.fieldCount != size_t(sqlite3_column_count(stmt)))
                pieced.reset();
    } catch (const SyntaxError& e) {
        const TextPlace place = placeIn(statement, e.at().offset);
        throw Error(ErrorFacts{.line = place.line, .column = place.column, .word = e.word()},
                    syntaxErrorMessage(e.word(), placeText(statement, e.at().offset)));
    } catch (const PlacedError& e) {
        throw placedIn(statement, e);
    }
    auto result = std::unique_ptr<Result>(new Result(this, std::exchange(stmt, nullptr)));
    if (pivoted) {
        result->takeRows(std::move(pivoted->rows));
        return result;
    }
    if (pieced) {
        result->takeRows(std::move(pieced->rows));
        return result;
    }
    if (std::optional<ColumnRows> rows = way ? runOnColumns(result->stmt_, way->plan, way->table) : std::nullopt)
        result->takeRows(std::move(*rows));
    else
        result->step();
    return result;
}

std::optional<ColumnRows> Connection::runOnColumns(sqlite3_stmt* stmt, const ColumnPlan& plan,
                                                   const std::shared_ptr<const CsvTable>& table) {
    if ( (plan.top ? plan.top->fields.size() : plan.items.size()) != size_t(sqlite3_column_count(stmt)))
        return std::nullopt;
    // Rows come in SQLite's order, which a filter may make a lookup's or a union's;
    // where the module offered SQLite nothing but a scan in the table's order, that is its order.
    if (plan.projection && plan.order.empty() && plan.where >= 0 && lookup_->host.orderOffered &&
        !readsInRowOrder(db_, bound_.text().toUtf8()))
        return std::nullopt;
    std::optional<ColumnRows> rows = runColumnPlan(plan, *table, &lookup_->interrupted);
    if (rows) rows->table = table;
    return rows;
}

Result::Result(Connection* connection, sqlite3_stmt* stmt)
    : connection_(connection), stmt_(stmt), fieldCount_(sqlite3_column_count(stmt)) {
    // A field that is a column of a table keeps that column's spelling of
    // reals longer than fifteen digits.
    spelledBy_.resize(size_t(fieldCount_));
    scratch_.resize(size_t(fieldCount_));
    for (int i = 0; i < fieldCount_; ++i) {
        const char* table = sqlite3_column_table_name(stmt, i);
        const char* column = sqlite3_column_origin_name(stmt, i);
        if (!table || !column) continue;
        const std::shared_ptr<const CsvTable> source = connection->lookup_->find(table);
        if (!source) continue;
        const auto& names = source->columnNames();
        for (size_t c = 0; c < names.size(); ++c)
            if (names[c] == column && source->columnTypes()[c] == ColumnType::Real) spelledBy_[size_t(i)] = {source, c};
    }
}

Result::~Result() {
    sqlite3_finalize(stmt_);
}

void Result::takeRows(ColumnRows rows) {
    rows_ = std::move(rows);
    skipEmptyParts();
}

void Result::skipEmptyParts() {
    // Rows are read once, forward: a part read to its end is let go.
    for (; part_ < rows_->parts.size(); rows_->done(part_++), row_ = 0) {
        rows_->ready(part_);
        if (row_ < rows_->rowsIn(part_)) break;
    }
    done_ = part_ >= rows_->parts.size();
}

QString Result::fieldName(int i) const {
    return QString::fromUtf8(sqlite3_column_name(stmt_, i));
}

void Result::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return;
    done_ = true;
    if (rc != SQLITE_DONE) throwEngineError(connection_->db_, rc);
}

void Result::next() {
    if (done_) return;
    if (!rows_) return step();
    ++row_;
    skipEmptyParts();
}

std::string_view Result::fieldUtf8(int i) {
    FieldKind kind;
    return field(i, kind);
}

std::string_view Result::field(int i, FieldKind& kind) {
    if (rows_) {
        const RowPart& part = rows_->parts[part_];
        const size_t at = row_ * rows_->fieldCount + size_t(i);
        const PathValue::Kind k = part.kinds[at];
        kind = k == PathValue::Kind::Null ? FieldKind::Null : k == PathValue::Kind::Text ? FieldKind::Text : FieldKind::Number;
        return part.field(at);
    }
    switch (sqlite3_column_type(stmt_, i)) {
    case SQLITE_NULL: kind = FieldKind::Null; return {};
    case SQLITE_FLOAT: {
        kind = FieldKind::Number;
        const double value = sqlite3_column_double(stmt_, i);
        const auto& [table, column] = spelledBy_[size_t(i)];
        std::optional<std::string> spelled = table ? table->spellingOf(column, value) : std::nullopt;
        std::string& scratch = scratch_[size_t(i)];
        scratch = spelled ? std::move(*spelled) : formatReal(value);
        return scratch;
    }
    case SQLITE_INTEGER: kind = FieldKind::Number; break;
    default: kind = FieldKind::Text; break;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
    return {text ? text : "", size_t(sqlite3_column_bytes(stmt_, i))};
}

}  // namespace tarlo
