#include "platform/error.h"
#include "engine/connection.h"
#include "csv/table_format.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

namespace {

using tarlo::Charset;
using tarlo::tableFormatFrom;

QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const tarlo::Error& e) {
        return e.message();
    }
    return {};
}

std::string firstRow(const TempFolder& folder, const QString& sql) {
    tarlo::Connection c;
    c.open(folder.path());
    auto result = c.execute(sql);
    std::string row;
    for (int i = 0; i < result->fieldCount(); ++i) (row += i ? "|" : "") += result->fieldUtf8(i);
    return row;
}

TEST(SchemaIni, SectionsMatchTheFileIgnoringCaseAndOthersAreLeftAlone) {
    const QString ini = "; comment\r\n[Other.csv]\r\nFormat=TabDelimited\r\n[DATA.CSV]\r\nFormat=Delimited(|)\r\n"
                        "CharacterSet=65001\r\nColNameHeader=false\r\nCol2=\"unit price\" Currency Width 10\r\n";
    const auto f = tableFormatFrom(ini, "data.csv", "schema.ini");
    EXPECT_EQ(f.delimiter, '|');
    EXPECT_EQ(f.charset, Charset::Utf8);
    EXPECT_FALSE(f.header);
    ASSERT_EQ(f.columns.size(), 2u);
    EXPECT_TRUE(f.columns[0].name.isEmpty());
    EXPECT_EQ(f.columns[1].name, "unit price");
    EXPECT_EQ(tableFormatFrom(ini, "x.tab", "schema.ini").delimiter, '\t');
    EXPECT_EQ(tableFormatFrom(ini, "x.csv", "schema.ini"), tarlo::TableFormat{});
}

TEST(SchemaIni, AKeyItCannotReadNamesTheLine) {
    EXPECT_EQ(errorOf([] { tableFormatFrom("[a.csv]\nFormat=FixedLength\n", "a.csv", "/f/schema.ini"); }),
              tarlo::shownPath("/f/schema.ini") + " の 2 行目: 固定長 (FixedLength) のファイルは読めません。");
    EXPECT_TRUE(errorOf([] { tableFormatFrom("[a.csv]\n\nCol1=id Number\n", "a.csv", "schema.ini"); })
                    .startsWith("schema.ini の 3 行目: Col1 の型 \"Number\" は使えません"));
    EXPECT_TRUE(errorOf([] { tableFormatFrom("[a.csv]\nCharacterSet=EBCDIC\n", "a.csv", "schema.ini"); })
                    .startsWith("schema.ini の 2 行目: CharacterSet \"EBCDIC\""));
}

// A ColN line is a name (quoted when it holds blanks), an optional type and
// an optional Width n; anything else names the line.
TEST(SchemaIni, ColumnLinesInEveryForm) {
    const std::pair<const char*, std::pair<const char*, const char*>> read[] = {
        {"Col1=id", {"id", ""}},
        {"Col1=  id   Long  ", {"id", "Long"}},
        {"Col1=id Width 5", {"id", ""}},
        {"Col1=id Text width 12", {"id", "Text"}},
        {"Col1=\"a b\" Text", {"a b", "Text"}},
        {"Col1=\"\" Long", {"", "Long"}},
        {"Col1=コード\tText", {"コード", "Text"}},
    };
    for (const auto& [line, expected] : read) {
        const auto f = tableFormatFrom(QString("[a.csv]\n") + line + "\n", "a.csv", "schema.ini");
        ASSERT_EQ(f.columns.size(), 1u) << line;
        EXPECT_EQ(f.columns[0].name, QString(expected.first)) << line;
        EXPECT_EQ(f.columns[0].typeName, QString(expected.second)) << line;
    }
    for (const char* line : {"Col1=", "Col1=\"a b Text", "Col1=\"a\"b Text", "Col1=id Text Width", "Col1=id Text Width x",
                             "Col1=id Text 5", "Col1=id Text Width 5 more"})
        EXPECT_TRUE(errorOf([&] { tableFormatFrom(QString("[a.csv]\n") + line + "\n", "a.csv", "schema.ini"); })
                        .startsWith("schema.ini の 2 行目: Col1 には 列名 型 を書きます"))
            << line;
}

// A value that does not fit its declared type is refused with its line and
// column, counting the lines a quoted field spans.
TEST(SchemaIni, AValueThatDoesNotFitItsTypeNamesLineAndColumn) {
    TempFolder folder;
    folder.write("schema.ini", "[n.csv]\r\nCol1=id Long\r\nCol2=qty Byte\r\n");
    folder.write("n.csv", "id,qty,memo\r\n1,5,\"two\r\nlines\"\r\n2,300,x\r\n");
    const QString message = errorOf([&] { firstRow(folder, "SELECT * FROM n#csv"); });
    EXPECT_TRUE(message.endsWith("n.csv\" の 4 行目、2 列目 (qty): \"300\" は schema.ini で Byte と宣言された列に入りません。"))
        << message.toStdString();
    // Mending schema.ini is seen on the next run: the cached table is read again.
    folder.write("schema.ini", "[n.csv]\r\nCol1=id Long\r\nCol2=qty Short\r\n");
    EXPECT_EQ(firstRow(folder, "SELECT sum(qty) FROM n#csv"), "305");
}

TEST(SchemaIni, CharacterSetOverridesWhatTheBytesSuggest) {
    TempFolder folder;
    // "\x82\xa0" is あ in CP932 and no valid UTF-8.
    folder.write("a.csv", "k\r\n\x82\xa0\r\n");
    folder.write("schema.ini", "[a.csv]\r\nCharacterSet=ANSI\r\n[u.csv]\r\nCharacterSet=65001\r\n[w.csv]\r\nCharacterSet=Unicode\r\n");
    EXPECT_EQ(firstRow(folder, "SELECT k FROM a#csv"), "あ");
    folder.write("u.csv", "k\r\n\x82\xa0\r\n");
    EXPECT_TRUE(errorOf([&] { firstRow(folder, "SELECT k FROM u#csv"); }).contains("UTF-8 の文字として読めないバイト"));
    folder.write("w.csv", QByteArray("k\0\r\0\n\0x\0", 8));
    EXPECT_EQ(firstRow(folder, "SELECT k FROM w#csv"), "x");
}

}  // namespace
