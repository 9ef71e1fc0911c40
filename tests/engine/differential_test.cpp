// Generated files and statements, each answered by the engine and by a
// plain evaluation here over the values the generator meant: numbers in
// every spelling, dates against every literal form, texts in mixed case.
#include "engine/connection.h"
#include "platform/error.h"
#include "support/run_sql.h"
#include "support/temp_folder.h"

#include <QDate>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <random>
#include <set>

namespace {

struct Row {
    int id = 0;
    std::optional<long long> n;   // integer column
    std::optional<double> r;      // real column (eighths, held exactly)
    std::optional<QDate> d;       // date column
    std::optional<std::string> s; // text column (letters and digits)
};

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    std::vector<Row> rows(int count) {
        std::vector<Row> out;
        for (int i = 1; i <= count; ++i) {
            Row row;
            row.id = i;
            if (pick(10)) row.n = pick(20001) - 10000;
            if (pick(10)) row.r = (pick(801) - 400) / 8.0;
            if (pick(10)) row.d = QDate(2023, 1, 1).addDays(pick(730));
            if (pick(10)) row.s = word();
            out.push_back(row);
        }
        return out;
    }

    // A number as some writer would spell it.
    std::string spellInteger(long long v) {
        const std::string plain = std::to_string(std::llabs(v));
        std::string body = plain;
        if (std::llabs(v) >= 1000 && pick(2)) {
            body.clear();
            for (size_t i = 0; i < plain.size(); ++i) {
                if (i && (plain.size() - i) % 3 == 0) body += ',';
                body += plain[i];
            }
            body = "\"" + body + "\"";
        }
        std::string sign = v < 0 ? "-" : (pick(4) == 0 ? "+" : "");
        if (body.front() == '"') return "\"" + sign + body.substr(1);
        std::string out = sign + body;
        if (pick(5) == 0) out = " " + out + " ";
        return out;
    }

    std::string spellReal(double v) {
        char buffer[64];
        switch (pick(4)) {
        case 0: std::snprintf(buffer, sizeof buffer, "%.3f", v); break;
        case 1: std::snprintf(buffer, sizeof buffer, "%.4e", v); break;
        case 2: std::snprintf(buffer, sizeof buffer, "%g", v); break;
        default: std::snprintf(buffer, sizeof buffer, "%.1f", v);
        }
        std::string out = buffer;
        // ".5" and "-.5" as some writers leave them.
        if (out.rfind("0.", 0) == 0 && pick(2)) out.erase(0, 1);
        else if (out.rfind("-0.", 0) == 0 && pick(2)) out.erase(1, 1);
        // %.3f of a value in eighths keeps it exactly; %.1f may not.
        if (std::strtod(out.c_str(), nullptr) != v) std::snprintf(buffer, sizeof buffer, "%.3f", v), out = buffer;
        return out;
    }

    std::string spellDate(const QDate& d) {
        switch (pick(4)) {
        case 0: return d.toString("yyyy/MM/dd").toStdString();
        case 1: return d.toString("yyyy-M-d").toStdString();
        case 2: return d.toString("yyyy-MM-dd").toStdString() + "T00:00:00";
        default: return d.toString("yyyy/M/d").toStdString();
        }
    }

    std::string nullSpelling() {
        static const char* const tokens[] = {"", "NA", "n/a", "#N/A", "NULL"};
        return tokens[pick(5)];
    }

    std::string word() {
        static const char letters[] = "aAbBcCxXyY19";
        std::string w;
        const int length = 1 + pick(3);
        for (int i = 0; i < length; ++i) w += letters[pick(sizeof letters - 1)];
        if (std::isdigit(static_cast<unsigned char>(w[0]))) w = "k" + w;  // never a number or a code
        return w;
    }

    std::mt19937 rng_;
};

QString csvOf(const std::vector<Row>& rows, Generator& g) {
    std::string out = "id,n,r,d,s\n";
    for (const Row& row : rows) {
        out += std::to_string(row.id) + ",";
        out += (row.n ? g.spellInteger(*row.n) : g.nullSpelling()) + ",";
        out += (row.r ? g.spellReal(*row.r) : g.nullSpelling()) + ",";
        out += (row.d ? g.spellDate(*row.d) : g.nullSpelling()) + ",";
        out += (row.s ? *row.s : "") + "\n";
    }
    return QString::fromStdString(out);
}

const char* const kOperators[] = {"=", "<>", "<", ">", "<=", ">="};

bool holds(const char* op, int order) {
    const std::string o = op;
    if (o == "=") return order == 0;
    if (o == "<>") return order != 0;
    if (o == "<") return order < 0;
    if (o == ">") return order > 0;
    if (o == "<=") return order <= 0;
    return order >= 0;
}

template <typename T>
int orderOf(const T& a, const T& b) {
    return a < b ? -1 : b < a ? 1 : 0;
}

struct Statement {
    QString sql;
    std::vector<std::string> expected;
};

std::string idsWhere(const std::vector<Row>& rows, const std::function<bool(const Row&)>& keep) {
    std::string out;
    for (const Row& row : rows)
        if (keep(row)) out += (out.empty() ? "" : ",") + std::to_string(row.id);
    return out;
}

// One random statement over the table, and its answer worked out here.
Statement statementFor(const std::vector<Row>& rows, Generator& g) {
    const char* op = kOperators[g.pick(6)];
    Statement st;
    std::function<bool(const Row&)> keep;
    QString where;
    switch (g.pick(7)) {
    case 0: {  // integer column against a number or a text of one
        const long long v = g.pick(20001) - 10000;
        const QString literal = g.pick(2) ? QString::number(v) : QStringLiteral("'%1'").arg(v);
        where = QStringLiteral("n %1 %2").arg(op, literal);
        keep = [=](const Row& r) { return r.n && holds(op, orderOf(*r.n, v)); };
        break;
    }
    case 1: {  // real column
        const double v = (g.pick(801) - 400) / 8.0;
        where = QStringLiteral("r %1 %2").arg(op, g.pick(2) ? QString::number(v, 'g', 17) : QStringLiteral("'%1'").arg(v));
        keep = [=](const Row& r) { return r.r && holds(op, orderOf(*r.r, v)); };
        break;
    }
    case 2: {  // date column against a date in one of its literal forms, or serial days
        const QDate v = QDate(2023, 1, 1).addDays(g.pick(730));
        QString literal;
        switch (g.pick(5)) {
        case 0: literal = "'" + v.toString("yyyy-MM-dd") + "'"; break;
        case 1: literal = "'" + v.toString("yyyy/M/d") + "'"; break;
        case 2: literal = v.toString("#yyyy/MM/dd#"); break;
        case 3: literal = v.toString("#M/d/yyyy#"); break;
        default: literal = QString::number(QDate(1899, 12, 30).daysTo(v));
        }
        where = QStringLiteral("d %1 %2").arg(op, literal);
        keep = [=](const Row& r) { return r.d && holds(op, orderOf(*r.d, v)); };
        break;
    }
    case 3: {  // text column, or an expression of it, ignoring case
        const std::string v = g.word();
        const bool expression = g.pick(2);
        where = QStringLiteral("%1 %2 '%3'").arg(expression ? QStringLiteral("Trim(s)") : QStringLiteral("s"), op,
                                                 QString::fromStdString(v));
        keep = [=](const Row& r) { return r.s && holds(op, orderOf(lower(*r.s), lower(v))); };
        break;
    }
    case 4: {  // Between on a number column
        long long a = g.pick(20001) - 10000, b = g.pick(20001) - 10000;
        if (a > b) std::swap(a, b);
        where = QStringLiteral("n BETWEEN '%1' AND %2").arg(a).arg(b);
        keep = [=](const Row& r) { return r.n && *r.n >= a && *r.n <= b; };
        break;
    }
    case 5: {  // a comparison's truth used as a value
        const long long v = g.pick(20001) - 10000;
        where = QStringLiteral("(n > %1) = True").arg(v);
        keep = [=](const Row& r) { return r.n && *r.n > v; };
        break;
    }
    default: {  // two columns' expressions: a year against a text of digits
        const int year = 2023 + g.pick(2);
        where = QStringLiteral("Year(d) %1 '%2'").arg(op).arg(year);
        keep = [=](const Row& r) { return r.d && holds(op, orderOf(r.d->year(), year)); };
    }
    }
    st.sql = QStringLiteral("SELECT id FROM g#csv WHERE %1 ORDER BY id").arg(where);
    const std::string ids = idsWhere(rows, keep);
    if (!ids.empty()) {
        size_t start = 0;
        for (size_t comma; (comma = ids.find(',', start)) != std::string::npos; start = comma + 1)
            st.expected.push_back(ids.substr(start, comma - start));
        st.expected.push_back(ids.substr(start));
    }
    return st;
}

std::vector<std::string> run(const QString& folder, const QString& sql) {
    return runSql(folder, sql, "|");
}

}  // namespace

TEST(Differential, GeneratedStatementsAgreeWithAPlainEvaluation) {
    Generator g(20261209);
    int statements = 0;
    for (int file = 0; file < 4; ++file) {
        TempFolder folder;
        const std::vector<Row> rows = g.rows(60);
        folder.writeText("g.csv", csvOf(rows, g));
        for (int k = 0; k < 100; ++k, ++statements) {
            const Statement st = statementFor(rows, g);
            try {
                EXPECT_EQ(run(folder.path(), st.sql), st.expected) << st.sql.toStdString();
            } catch (const tarlo::Error& e) {
                ADD_FAILURE() << st.sql.toStdString() << ": " << e.message().toStdString();
            }
        }
        // Orders: numbers by value, dates by time, texts ignoring case; nulls first.
        auto sorted = [&](auto key) {
            std::vector<Row> copy = rows;
            std::stable_sort(copy.begin(), copy.end(), [&](const Row& a, const Row& b) { return key(a) < key(b); });
            std::vector<std::string> ids;
            for (const Row& r : copy) ids.push_back(std::to_string(r.id));
            return ids;
        };
        EXPECT_EQ(run(folder.path(), "SELECT id FROM g#csv ORDER BY n, id"),
                  sorted([](const Row& r) { return std::pair(r.n.has_value(), r.n.value_or(0)); }));
        EXPECT_EQ(run(folder.path(), "SELECT id FROM g#csv ORDER BY r, id"),
                  sorted([](const Row& r) { return std::pair(r.r.has_value(), r.r.value_or(0)); }));
        EXPECT_EQ(run(folder.path(), "SELECT id FROM g#csv ORDER BY d, id"),
                  sorted([](const Row& r) { return std::pair(r.d.has_value(), r.d.value_or(QDate()).toJulianDay()); }));
        EXPECT_EQ(run(folder.path(), "SELECT id FROM g#csv ORDER BY s & '', id"),
                  sorted([](const Row& r) { return std::pair(r.s.has_value(), lower(r.s.value_or(""))); }));
        // Totals and groups.
        long long sum = 0;
        std::optional<double> max;
        std::set<std::string> groups;
        for (const Row& r : rows) {
            sum += r.n.value_or(0);
            if (r.r) max = std::max(max.value_or(*r.r), *r.r);
            if (r.s) groups.insert(lower(r.s->substr(0, 1)));
        }
        char maxText[32];
        std::snprintf(maxText, sizeof maxText, "%.15g", max.value_or(0));
        EXPECT_EQ(run(folder.path(), "SELECT Sum(n), Max(r) FROM g#csv"),
                  std::vector<std::string>{std::to_string(sum) + "|" + maxText});
        EXPECT_EQ(run(folder.path(), "SELECT Count(*) FROM (SELECT Left(s, 1) FROM g#csv WHERE s IS NOT NULL GROUP BY Left(s, 1))"),
                  std::vector<std::string>{std::to_string(groups.size())});
        statements += 6;
    }
    EXPECT_GE(statements, 400);
}
