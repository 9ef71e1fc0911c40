#include "platform/error.h"
#include "csv/csv_reader.h"
#include "csv/csv_table.h"
#include "platform/memory.h"
#include "platform/parallel.h"
#include "platform/utf8.h"
#include "support/corpora.h"
#include "support/temp_folder.h"

#include <QDirIterator>
#include <array>
#include <set>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using tarlo::CsvData;

namespace {

// The header row and then each data row, as far as it has fields.
std::vector<std::vector<std::string>> rowsOf(const CsvData& data) {
    std::vector<std::vector<std::string>> rows;
    if (data.header.empty()) return rows;
    rows.emplace_back();
    for (size_t c = 0; c < data.header.size(); ++c) rows.back().emplace_back(data.headerField(c));
    for (size_t r = 0; r < data.rows; ++r) {
        rows.emplace_back();
        for (size_t c = 0; c < data.columns.size() && data.present(c, r); ++c) rows.back().emplace_back(data.field(c, r));
    }
    return rows;
}

std::vector<std::vector<std::string>> rowsOf(const std::string& text) {
    return rowsOf(tarlo::parseCsv(tarlo::textBufferOf(text), "t.csv"));
}

using Rows = std::vector<std::vector<std::string>>;

void expectConsistent(const tarlo::CsvTable& table, const std::string& where) {
    ASSERT_GE(table.columnCount(), 1u) << where;
    std::set<QString> names;
    for (const std::string& name : table.columnNames()) {
        EXPECT_FALSE(name.empty()) << where;
        EXPECT_TRUE(names.insert(QString::fromStdString(name).toCaseFolded()).second) << where << ": " << name;
    }
    for (size_t c = 0; c < table.columnCount(); ++c)
        for (size_t r = 0; r < table.rowCount(); ++r) {
            const std::string text = table.displayText(r, c);
            ASSERT_TRUE(tarlo::isValidUtf8(QByteArrayView(text.data(), qsizetype(text.size()))))
                << where << " row " << r << " column " << c;
        }
}

}  // namespace

TEST(CsvReader, QuotesLineEndsAndEmptyFields) {
    struct Case {
        const char* text;
        Rows rows;
    } cases[] = {
        {"a,b\r\n1,2\r\n", {{"a", "b"}, {"1", "2"}}},
        {"a,b\n1,2", {{"a", "b"}, {"1", "2"}}},                      // no final line break
        {"a,b\r1,2\r", {{"a", "b"}, {"1", "2"}}},                    // lone CR
        {"a\n\n\nb\n", {{"a"}, {"b"}}},                              // blank lines hold no rows
        {"a,b\n,\n", {{"a", "b"}, {"", ""}}},
        {"a,b,\n", {{"a", "b", ""}}},
        {"\"x,y\",\"say \"\"hi\"\"\"\n", {{"x,y", "say \"hi\""}}},
        {"\"line\r\nbreak\",z\n", {{"line\r\nbreak", "z"}}},
        {"\"\"\n", {{""}}},                                            // a quoted empty field is a row
        {"\"ab\"cd,e\n", {{"abcd", "e"}}},                             // text after the closing quote is kept
        {"a \"b\" c,d\n", {{"a \"b\" c", "d"}}},                       // quotes inside a field are data
        {"", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(rowsOf(c.text), c.rows) << c.text;
}

TEST(CsvReader, UnclosedQuoteNamesTheLineWhereItOpened) {
    try {
        rowsOf("a,b\n1,2\n3,\"open\nmore\nrows\n");
        FAIL() << "no error";
    } catch (const tarlo::Error& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("ファイル \"t.csv\" の 3 行目: 引用符"))) << e.what();
    }
    // Line numbers count the breaks inside earlier quoted fields.
    try {
        rowsOf("\"a\nb\"\n\"c\rd\"\n\"x");
        FAIL() << "no error";
    } catch (const tarlo::Error& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("の 5 行目"))) << e.what();
    }
}

TEST(CsvReader, DecodesEveryEncodingToUtf8) {
    auto decoded = [](const std::string& bytes) {
        tarlo::TextBuffer out = tarlo::decodeToUtf8(tarlo::textBufferOf(bytes));
        return std::string(out.data(), out.size());
    };
    EXPECT_EQ(decoded("\xEF\xBB\xBFid"), "id");
    EXPECT_EQ(decoded(std::string("\xFF\xFEi\0d\0", 6)), "id");
    EXPECT_EQ(decoded(std::string("\xFE\xFF\0i\0d", 6)), "id");
    EXPECT_EQ(decoded("\x93\xfa\x96\x7b,\x5c"), "日本,\\");
    EXPECT_EQ(decoded("日本"), "日本");
    // Declared UTF-8: valid text as it is, and bytes that are not UTF-8 refused.
    const auto declared = [](const std::string& bytes) {
        tarlo::TextBuffer out = tarlo::decodeToUtf8(tarlo::textBufferOf(bytes), {}, tarlo::Charset::Utf8, QStringLiteral("x.csv"));
        return std::string(out.data(), out.size());
    };
    EXPECT_EQ(declared("\xEF\xBB\xBFid,日本"), "id,日本");
    EXPECT_EQ(declared("日本"), "日本");
    EXPECT_THROW(declared("\x93\xfa\x96\x7b"), tarlo::Error);
}

TEST(CsvReader, RecordsEndAtTheLastLineBreakOutsideQuotes) {
    const auto end = [](std::string_view bytes, char quote = '"') {
        tarlo::CsvDialect dialect;
        dialect.quote = quote;
        return tarlo::recordsEnd(bytes, dialect, false);
    };
    EXPECT_EQ(end("a,b\r\nc,d\r"), 5u);  // an LF may follow the last CR
    EXPECT_EQ(end("a\rb\rc"), 4u);
    EXPECT_EQ(end("a\r\nb\rc\n"), 7u);
    EXPECT_EQ(end("abc"), 0u);
    EXPECT_EQ(end("a\r"), 0u);
    EXPECT_EQ(end("a,\"x\ny\"\nb"), 8u);  // the quoted line break is the field's
    EXPECT_EQ(end("a\nb,\"x\ny"), 2u);     // a quote not yet closed
    EXPECT_EQ(end("a\nb,\"x\ny", 0), 7u);  // with no quoting, a quote is text
}

TEST(CsvTable, HeaderNamesAreUniqueAndRaggedRowsKeepTheirData) {
    const auto table = tarlo::CsvTable::fromUtf8(" id ,,name,,ID,name\n1,2,3,4,5,6,7,8\n9\n", "t.csv");
    EXPECT_EQ(table->columnNames(),
              (std::vector<std::string>{"id", "NoName", "name", "NoName1", "ID1", "name1", "NoName2", "NoName3"}));
    EXPECT_EQ(table->rowCount(), 2u);
    EXPECT_EQ(table->displayText(0, 7), "8");
    EXPECT_TRUE(table->isNull(1, table->cell(1, 1))) << "a short row gives nulls";
    EXPECT_EQ(rowsOf("a\n1,2,3\n4\n5,6\n"), (Rows{{"a"}, {"1", "2", "3"}, {"4"}, {"5", "6"}}));

    const auto empty = tarlo::CsvTable::fromUtf8("", "e.csv");
    EXPECT_EQ(empty->columnNames(), std::vector<std::string>{"NoName"});
    EXPECT_EQ(empty->rowCount(), 0u);
}

// A name given to a repeated or blank column is never one the file writes
// for another column (which would then be found under it), nor one given
// before, ignoring case.
TEST(CsvTable, NewColumnNamesNeverTakeAWrittenName) {
    const auto names = [](const std::string& header) { return tarlo::CsvTable::fromUtf8(header + "\n", "t.csv")->columnNames(); };
    EXPECT_EQ(names("id,ID,ID1"), (std::vector<std::string>{"id", "ID2", "ID1"}));
    EXPECT_EQ(names("a,A,a,a2,A1"), (std::vector<std::string>{"a", "A3", "a4", "a2", "A1"}));
    EXPECT_EQ(names(",NoName,,noname1"), (std::vector<std::string>{"NoName2", "NoName", "NoName3", "noname1"}));
    EXPECT_EQ(names("x1,x,x,x1"), (std::vector<std::string>{"x1", "x", "x2", "x11"}));

    // The file's own ID1 is the column found under that name.
    const auto table = tarlo::CsvTable::fromUtf8("id,ID,ID1\n1,2,3\n", "t.csv");
    EXPECT_EQ(table->displayText(0, 2), "3");
    EXPECT_EQ(table->columnNames()[2], "ID1");

    // A repeat of one name in each of the most columns a table has, and as many blanks.
    std::string header;
    for (int i = 0; i < 999; ++i) header += "k,,";
    const std::vector<std::string> wide = names(header + "k500");
    ASSERT_EQ(wide.size(), 1999u);
    EXPECT_EQ(wide[2], "k1");
    EXPECT_EQ(wide[2 * 500], "k501");
    EXPECT_EQ(wide[3], "NoName1");
    EXPECT_EQ(wide.back(), "k500");
    EXPECT_EQ(std::set<std::string>(wide.begin(), wide.end()).size(), wide.size());
}

// Text columns keep each spelling once while they can: a column of few
// values takes their text once, and every field still reads as written,
// past the number of spellings a column keeps and between short rows.
TEST(CsvTable, TextsReadAsWrittenWhenSpellingsAreShared) {
    std::string text = "few,many,n,unique\n";
    std::vector<std::array<std::string, 3>> written;
    for (int r = 0; r < 120000; ++r) {
        std::array<std::string, 3> row{"k" + std::to_string(r % 3) + (r % 5 ? "" : "x"), "m" + std::to_string(r * 7 % 9000),
                                       "u" + std::to_string(r)};
        if (r % 1000 == 7) row[0].clear();
        written.push_back(row);
        text += row[0] + "," + row[1] + "," + std::to_string(r) + (r % 4000 == 3 ? "" : "," + row[2]) + "\n";
    }
    const auto table = tarlo::CsvTable::fromUtf8(text, "t.csv");
    ASSERT_EQ(table->rowCount(), written.size());
    for (size_t r = 0; r < written.size(); ++r) {
        ASSERT_EQ(table->displayText(r, 0), written[r][0]) << "row " << r;
        ASSERT_EQ(table->displayText(r, 1), written[r][1]) << "row " << r;
        ASSERT_EQ(table->displayText(r, 3), r % 4000 == 3 ? "" : written[r][2]) << "row " << r;
    }
    // Numbers take no text, and the unique column's text is most of what
    // is left. The text is compacted in a run of rows per thread, each run
    // writing a spelling of a column once while it keeps fewer than a
    // sixteenth of the table's rows' spellings, and again at each field after.
    const size_t runs = tarlo::coreCount(), keep = std::max<size_t>(4096, written.size() / 16);
    size_t unique = 0, shared[2] = {0, 0}, others[2] = {0, 0};
    for (size_t p = 0; p < runs; ++p) {
        std::set<std::string> kept[2];
        for (size_t r = written.size() * p / runs; r < written.size() * (p + 1) / runs; ++r) {
            unique += r % 4000 == 3 ? 0 : written[r][2].size();
            for (size_t c = 0; c < 2; ++c) {
                const std::string& field = written[r][c];
                others[c] += field.size();
                if (field.empty() || kept[c].count(field)) continue;
                shared[c] += field.size();
                if (kept[c].size() < keep) kept[c].insert(field);
            }
        }
    }
    const size_t textBytes = table->memoryBytes() - 4 * sizeof(tarlo::Cell) * written.size();
    // Besides the fields' text a table keeps less than a page.
    EXPECT_LE(textBytes, unique + shared[0] + shared[1] + 4096)
        << runs << " threads: " << unique << " + " << shared[0] << " + " << shared[1];
    EXPECT_LT(shared[0] * 100, others[0]) << "the few values are written once a run";
}

TEST(CsvReader, CsvSpectrumCasesGiveTheirExpectedRows) {
    REQUIRE_CORPORA();
    const QDir csvs(corporaDir() + "csv-spectrum/csvs");
    int checked = 0;
    for (const QString& name : csvs.entryList({"*.csv"})) {
        if (name == "location_coordinates.csv") continue;  // broken upstream
        QFile json(corporaDir() + "csv-spectrum/json/" + QString(name).replace(".csv", ".json"));
        ASSERT_TRUE(json.open(QIODevice::ReadOnly)) << name.toStdString();
        const QJsonArray expected = QJsonDocument::fromJson(json.readAll()).array();
        QFile file(csvs.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const CsvData data = tarlo::parseCsv(
            tarlo::decodeToUtf8(tarlo::textBufferOf({bytes.constData(), size_t(bytes.size())})), name);
        ASSERT_EQ(data.rows, size_t(expected.size())) << name.toStdString();
        for (size_t r = 0; r < data.rows; ++r) {
            const QJsonObject row = expected[qsizetype(r)].toObject();
            for (size_t c = 0; c < data.header.size(); ++c) {
                const std::string_view header = data.headerField(c);
                const QString column = QString::fromUtf8(header.data(), qsizetype(header.size()));
                const std::string_view field = data.field(c, r);
                EXPECT_EQ(QString::fromUtf8(field.data(), qsizetype(field.size())), row[column].toString())
                    << name.toStdString() << " row " << r << " column " << column.toStdString();
            }
        }
        ++checked;
    }
    EXPECT_GE(checked, 10);
}

// Every adversarial file either loads into a table that holds together
// (names unique ignoring case, every value valid UTF-8 text) or fails with a
// message that names the file; nothing crashes, hangs or loads half.
TEST(CsvReader, AdversarialFilesLoadWholeOrFailNamingTheFile) {
    REQUIRE_CORPORA();
    int files = 0, loaded = 0, refused = 0;
    for (QDirIterator it(corporaDir() + "duckdb-csv/data/csv", QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (QFileInfo(path).size() > (8 << 20)) continue;
        ++files;
        try {
            expectConsistent(*tarlo::CsvTable::load(path), path.toStdString());
            ++loaded;
        } catch (const tarlo::Error& e) {
            EXPECT_EQ(e.facts().file, path) << e.what();
            EXPECT_TRUE(e.message().contains(tarlo::shownPath(path))) << e.what();
            ++refused;
        }
    }
    EXPECT_GT(files, 900);
    EXPECT_GT(loaded, refused) << "most of these files are ordinary CSV";
}

// tests/corpus: our own edge cases, there in every clone.
TEST(CsvReader, OwnCorpusGivesItsExpectedRowsOrMessages) {
    const QDir dir(QStringLiteral(TARLO_TEST_CORPUS_DIR));
    const QStringList files = dir.entryList({"*.csv"}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 10);
    for (const QString& name : files) {
        QFile csv(dir.filePath(name));
        ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
        const QByteArray bytes = csv.readAll();
        const QString stem = name.chopped(4);
        QFile expectedRows(dir.filePath(stem + ".json")), expectedError(dir.filePath(stem + ".error"));
        std::string got;
        try {
            const CsvData data =
                tarlo::parseCsv(tarlo::decodeToUtf8(tarlo::textBufferOf({bytes.constData(), size_t(bytes.size())})), name);
            const QJsonDocument doc = QJsonDocument::fromJson(expectedRows.open(QIODevice::ReadOnly) ? expectedRows.readAll() : "");
            ASSERT_TRUE(doc.isArray()) << name.toStdString() << " has no .json, or loaded where it should fail";
            Rows expected;
            for (const QJsonValue row : doc.array()) {
                expected.emplace_back();
                for (const QJsonValue v : row.toArray()) expected.back().push_back(v.toString().toStdString());
            }
            EXPECT_EQ(rowsOf(data), expected) << name.toStdString();
        } catch (const tarlo::Error& e) {
            ASSERT_TRUE(expectedError.open(QIODevice::ReadOnly)) << name.toStdString() << ": " << e.what();
            const QString start = QString::fromUtf8(expectedError.readAll()).trimmed();
            EXPECT_TRUE(e.message().startsWith(start)) << name.toStdString() << ": " << e.what();
            EXPECT_EQ(e.facts().file, name);
        }
    }
}

TEST(CsvReader, Cp932CorpusDecodesToItsUtf8Twin) {
    REQUIRE_CORPORA();
    QFile sjis(corporaDir() + "cjk/shift_jis.txt"), utf8(corporaDir() + "cjk/shift_jis-utf8.txt");
    ASSERT_TRUE(sjis.open(QIODevice::ReadOnly) && utf8.open(QIODevice::ReadOnly));
    const QByteArray bytes = sjis.readAll();
    const tarlo::TextBuffer decoded =
        tarlo::decodeToUtf8(tarlo::textBufferOf(std::string(bytes.constData(), size_t(bytes.size()))));
    EXPECT_EQ(QByteArray(decoded.data(), qsizetype(decoded.size())), utf8.readAll());
}

TEST(CsvTable, FilesBeyondFourGigabytesAreAddressedAndTooLargeOnesRefusedUnread) {
    // A cell says where its field lies in eight bytes, offsets past 4 GB included.
    const tarlo::FieldRef far(5ull << 30, tarlo::kMaxFieldBytes);
    EXPECT_EQ(far.offset(), 5ull << 30);
    EXPECT_EQ(far.length(), tarlo::kMaxFieldBytes);
    EXPECT_EQ(tarlo::FieldRef(tarlo::kMaxTextBytes - 1, tarlo::kMissing).length(), tarlo::kMissing);

    try {
        tarlo::checkRoomToLoad("/p/big.csv", 5ll << 30, 4ll << 30);
        FAIL() << "no error";
    } catch (const tarlo::Error& e) {
        const QString shown = e.message().left(e.message().indexOf(QStringLiteral("。")));
        EXPECT_EQ(shown, QStringLiteral("テーブルのファイル \"%1\" (5.0 GB) は大きすぎて読めません: 読むには 12 GB "
                                        "ほどのメモリーが要りますが、いま使えるのは 4.0 GB です")
                             .arg(tarlo::shownPath("/p/big.csv")));
    }
    EXPECT_NO_THROW(tarlo::checkRoomToLoad("/p/big.csv", 5ll << 30, 13ll << 30));

    // A sparse file four times the free memory: refused at once, not read.
    TempFolder folder;
    const QString path = folder.write("huge.csv", "a\n");
    ASSERT_TRUE(QFile::resize(path, 4 * tarlo::availableMemory()));
    EXPECT_THROW(tarlo::CsvTable::load(path, {}, {}), tarlo::Error);
}

TEST(CsvTable, TheRoomALoadNeedsFollowsTheFilesShape) {
    // Short fields take a cell of 8 bytes each for a byte or two of the file:
    // rows of "x," peak at 6.4 times the file, far past the 2.5 of a file of
    // longer fields, and a file of two long texts needs little beyond itself.
    TempFolder folder;
    QByteArray shortFields = "a,b\n", mixed = "id,name,amount,date\n", longTexts = "a,b\n";
    for (int i = 0; i < 100000; ++i) shortFields += "x,\n";
    for (int i = 0; i < 6000; ++i) mixed += QByteArray::number(i) + ",name" + QByteArray::number(i % 900) + ",12.5,2024-05-01\n";
    for (int i = 0; i < 1000; ++i) longTexts += QByteArray(200, 'y') + "," + QByteArray(100, 'z') + "\n";
    const auto roomFor = [&](const char* name, const QByteArray& text, double timesTheFile) {
        const QString path = folder.write(name, text);
        try {
            tarlo::checkRoomToLoad(path, text.size(), qint64(timesTheFile * double(text.size())));
        } catch (const tarlo::Error&) {
            return false;
        }
        return true;
    };
    EXPECT_FALSE(roomFor("short.csv", shortFields, 3.0));
    EXPECT_FALSE(roomFor("short.csv", shortFields, 6.5));
    EXPECT_TRUE(roomFor("short.csv", shortFields, 7.5));
    EXPECT_TRUE(roomFor("mixed.csv", mixed, 3.0));
    EXPECT_TRUE(roomFor("long.csv", longTexts, 1.5));
    // Commas inside quotes are no fields, and a header is no row of cells.
    EXPECT_TRUE(roomFor("quoted.csv", "a\n" + QByteArray("\",,,,,,,,\"\n").repeated(20000), 2.5));
    EXPECT_FALSE(roomFor("unquoted.csv", "a\n" + QByteArray(",,,,,,,,,,\n").repeated(20000), 3.0));
    // CP932 is read beside its UTF-8, half as long again.
    const QByteArray japanese = QByteArray("k\n") + (QByteArray("\x93\x8c\x8b\x9e").repeated(10) + "\n").repeated(20000);
    EXPECT_FALSE(roomFor("cp932.csv", japanese, 2.5));
    EXPECT_TRUE(roomFor("cp932.csv", japanese, 3.0));
}

TEST(CsvTable, AStoppedIndexBuildKeepsNothingHalfBuilt) {
    std::string text = "k,n\n";
    for (int i = 0; i < 70000; ++i) text.append("w").append(std::to_string(i % 7)).append(",").append(std::to_string(i)).append("\n");
    const auto table = tarlo::CsvTable::fromUtf8(text, "t.csv", {});
    const std::atomic<bool> stop{true};
    EXPECT_THROW(table->rowsWithKey(0, table->keyOf(0, table->cell(0, 0)), &stop), tarlo::Cancelled);
    EXPECT_THROW(table->rowsInOrder(1, &stop), tarlo::Cancelled);
    EXPECT_THROW(table->rowsInOrder(0, &stop), tarlo::Cancelled);
    const auto* rows = table->rowsWithKey(0, table->keyOf(0, table->cell(0, 0)));
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->size(), 10000u);
    EXPECT_EQ(table->rowsInOrder(1).size(), 70000u);
    EXPECT_EQ(table->rowsInOrder(1)[69999], 69999u);
}
