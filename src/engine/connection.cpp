#include "engine/connection.h"

#include "platform/error.h"
#include "values/column_types.h"
#include "dialect/crosstab.h"
#include "engine/csv_vtab.h"
#include "dialect/translator.h"
#include "functions/text_functions.h"
#include "dialect/sql_lexer.h"
#include "dialect/sql_quote.h"
#include "csv/table_cache.h"
#include "dialect/table_references.h"

#include <sqlite3.h>

#include <cstring>

namespace tarlo {

namespace {

// Reading is all a statement may do: no ATTACH, no writes, no PRAGMA.
int readOnlyAuthorizer(void*, int action, const char*, const char*, const char*, const char*) {
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE: return SQLITE_OK;
    default: return SQLITE_DENY;
    }
}

QString afterPrefix(const QString& message, const char* prefix) {
    return message.mid(qsizetype(std::strlen(prefix))).trimmed();
}

// What the user wrote where the rewritten statement calls one of ours.
QString writtenAs(const QString& word) {
    static const std::pair<const char*, const char*> calls[] = {
        {"tarlo_add", "+"},    {"tarlo_sub", "-"},    {"tarlo_div", "/"},      {"tarlo_intdiv", "\\"},
        {"tarlo_mod", "Mod"},  {"tarlo_pow", "^"},    {"tarlo_concat", "&"},   {"tarlo_xor", "Xor"},
        {"tarlo_eqv", "Eqv"},  {"tarlo_imp", "Imp"},  {"tarlo_left", "Left"},  {"tarlo_right", "Right"},
        {"tarlo_isnull", "IsNull"},
    };
    for (const auto& [call, written] : calls)
        if (word.compare(QLatin1String(call), Qt::CaseInsensitive) == 0) return QLatin1String(written);
    return word;
}

// The engine's messages, with the essential fact (which table, column or
// word) first: the warning box shows only the text before the first "。".
QString translateMessage(const QString& m) {
    auto starts = [&](const char* p) { return m.startsWith(QLatin1String(p)); };
    if (starts("no such table:"))
        return QStringLiteral("テーブル \"%1\" が見つかりません。FROM に書いたファイル名を確かめてください。")
            .arg(afterPrefix(m, "no such table:"));
    if (starts("no such column:"))
        return QStringLiteral("列 \"%1\" が見つかりません。列名を確かめてください。").arg(afterPrefix(m, "no such column:"));
    if (starts("ambiguous column name:"))
        return QStringLiteral("列名 \"%1\" がどのテーブルの列か決まりません。テーブル名を付けてください。")
            .arg(afterPrefix(m, "ambiguous column name:"));
    if (starts("near \"") && m.endsWith(QLatin1String("syntax error"))) {
        const QString word = writtenAs(m.mid(6, m.indexOf(QLatin1String("\":"), 6) - 6));
        return QStringLiteral("SQL 文の \"%1\" の近くに誤りがあります。").arg(word);
    }
    if (starts("incomplete input")) return QStringLiteral("SQL 文が途中で終わっています。");
    if (starts("no such function:"))
        return QStringLiteral("関数 \"%1\" はありません。").arg(afterPrefix(m, "no such function:"));
    if (starts("not authorized"))
        return QStringLiteral("この文は実行できません: データは読み取り専用です。");
    if (starts("wrong number of arguments to function"))
        return QStringLiteral("関数 \"%1\" の引数の数が違います。")
            .arg(m.mid(m.lastIndexOf(QLatin1Char(' ')) + 1).remove(QLatin1String("()")));
    // The functions' own messages are written for the user already.
    for (const QChar c : m)
        if (c.unicode() >= 0x80) return m.endsWith(QStringLiteral("。")) ? m : m + QStringLiteral("。");
    return QStringLiteral("SQL エラー: %1。").arg(m);
}

[[noreturn]] void throwEngineError(sqlite3* db, int rc) {
    if (rc == SQLITE_INTERRUPT) throw Cancelled{};
    if (rc == SQLITE_NOMEM) throw Error(QStringLiteral("メモリが足りません。結果が大きすぎます。"));
    throw Error(translateMessage(QString::fromUtf8(sqlite3_errmsg(db))));
}

bool onlySpaceOrComments(const QString& tail) {
    for (const Token& t : tokenize(tail))
        if (t.kind != TokenKind::Space && t.kind != TokenKind::Comment && t.text != QLatin1String(";")) return false;
    return true;
}

}  // namespace

struct Connection::Lookup {
    TableLookup find;
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
    sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
    registerCsvModule(db_, &lookup_->find);
    registerJetFunctions(db_);
}

void Connection::close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    tables_.clear();
}

void Connection::interrupt() {
    if (db_) sqlite3_interrupt(db_);
}

sqlite3_stmt* Connection::prepare(const QString& translated, const ParseProgress& progress) {
    const RewrittenStatement rewritten = rewriteTableReferences(translated, folder_);

    for (const TableReference& ref : rewritten.tables) {
        std::shared_ptr<const CsvTable> table = TableCache::shared().get(ref.path, progress);
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

    const QByteArray sql = rewritten.sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    sqlite3_set_authorizer(db_, readOnlyAuthorizer, nullptr);
    const int rc = sqlite3_prepare_v2(db_, sql.constData(), int(sql.size()), &stmt, &tail);
    sqlite3_set_authorizer(db_, nullptr, nullptr);
    if (rc != SQLITE_OK) throwEngineError(db_, rc);
    if (!stmt) throw Error(QStringLiteral("実行する SQL 文がありません。"));
    if (!onlySpaceOrComments(QString::fromUtf8(tail))) {
        sqlite3_finalize(stmt);
        throw Error(QStringLiteral("SQL 文は一度に一つだけ実行できます。\";\" の後の文は実行しません。"));
    }
    if (sqlite3_column_count(stmt) == 0) {
        sqlite3_finalize(stmt);
        throw Error(QStringLiteral("この文は行を返しません。SELECT 文を書いてください。"));
    }
    return stmt;
}

std::vector<PivotValue> Connection::pivotValues(const Crosstab& crosstab, const ParseProgress& progress) {
    if (crosstab.valuesQuery().isEmpty()) return crosstab.listedValues();
    Result values(this, prepare(crosstab.valuesQuery(), progress));
    std::vector<PivotValue> out;
    for (values.step(); !values.atEnd(); values.next()) {
        sqlite3_stmt* stmt = values.stmt_;
        const QString shown = QString::fromUtf8(values.fieldUtf8(0));
        switch (sqlite3_column_type(stmt, 0)) {
        case SQLITE_NULL: out.push_back({QStringLiteral("NULL"), QStringLiteral("<>")}); break;
        case SQLITE_INTEGER: out.push_back({shown, shown}); break;
        case SQLITE_FLOAT: out.push_back({QString::number(sqlite3_column_double(stmt, 0), 'g', 17), shown}); break;
        default:
            out.push_back({quotedString(shown), shown});
        }
        if (out.size() > 1000) throw Error(QStringLiteral("クロス集計の列が多すぎます (1000 を超えました)。"));
    }
    return out;
}

std::unique_ptr<Result> Connection::execute(const QString& statement, const ParseProgress& progress) {
    if (!db_) throw Error(QStringLiteral("データソースが開いていません。"));
    QString translated = translateJetSql(statement);
    if (const auto crosstab = Crosstab::parse(translated)) translated = crosstab->query(pivotValues(*crosstab, progress));
    auto result = std::unique_ptr<Result>(new Result(this, prepare(translated, progress)));
    result->step();
    return result;
}

Result::Result(Connection* connection, sqlite3_stmt* stmt)
    : connection_(connection), stmt_(stmt), fieldCount_(sqlite3_column_count(stmt)) {}

Result::~Result() {
    sqlite3_finalize(stmt_);
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
    if (!done_) step();
}

std::string_view Result::fieldUtf8(int i) {
    switch (sqlite3_column_type(stmt_, i)) {
    case SQLITE_NULL: return {};
    case SQLITE_FLOAT:
        scratch_ = formatReal(sqlite3_column_double(stmt_, i));
        return scratch_;
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return {text ? text : "", size_t(sqlite3_column_bytes(stmt_, i))};
    }
    }
}

}  // namespace tarlo
