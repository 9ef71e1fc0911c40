#include "platform/error.h"
#include "support/temp_folder.h"
#include "workspace/query_file.h"
#include "workspace/statement_text.h"
#include "platform/text_lines.h"

#include <gtest/gtest.h>

TEST(QueryFiles, ScanKeepsExactNamesSortedIgnoringCase) {
    TempFolder folder;
    for (const char* name : {"q~b.txt", "q~A.txt", "q~a2.txt", "Q~c.txt", "q~d.TXT", "q~e.txt.bak", "readme.txt"})
        folder.write(name, "x");
    folder.mkdir("q~f.txt");
    EXPECT_EQ(tarlo::scanQueryFiles(folder.path()), (QStringList{"A", "a2", "b"}));

    TempFolder odd;
    odd.write("q~.txt", "");
    odd.write("q~x.y.txt", "");
    odd.write(".q~hidden.txt", "");
    odd.write("q~.hidden.txt", "");
    EXPECT_EQ(tarlo::scanQueryFiles(odd.path()), (QStringList{"", ".hidden", "x.y"}));

    EXPECT_EQ(tarlo::scanQueryFiles(folder.file("missing/")), std::nullopt);
    EXPECT_EQ(tarlo::queryFilePath("/p/", "x.y"), QStringLiteral("/p/q~x.y.txt"));
}

TEST(QueryFiles, KeyLookupTakesTheFirstExactNameIgnoringCase) {
    const QStringList lines{"select a=b from t;", "caption =no", "Caption=Title", "note=a=b", "NOTE=second",
                            "caption=later"};
    EXPECT_EQ(tarlo::lookupKey(lines, "caption"), QStringLiteral("Title"));
    EXPECT_EQ(tarlo::lookupKey(lines, "note"), QStringLiteral("a=b"));
    EXPECT_EQ(tarlo::lookupKey({"caption= padded "}, "caption"), QStringLiteral(" padded "));
    EXPECT_EQ(tarlo::lookupKey({"select 1;"}, "note"), QString());
}

TEST(TextLines, SplitsAtEveryKindOfLineBreak) {
    EXPECT_EQ(tarlo::splitLines("a\r\nb\rc\nd"), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(tarlo::splitLines("a\n\nb\n"), (QStringList{"a", "", "b"}));
    EXPECT_EQ(tarlo::splitLines("\r\n"), (QStringList{""}));
    EXPECT_EQ(tarlo::splitLines(""), QStringList());
    EXPECT_EQ(tarlo::joinLinesCrLf({"a", "b"}), QStringLiteral("a\r\nb\r\n"));
    EXPECT_EQ(tarlo::withCrLf("a\nb\rc"), QStringLiteral("a\r\nb\r\nc"));
    EXPECT_EQ(tarlo::trimControl(QString::fromUtf8("\t x \x01\r\n")), QStringLiteral("x"));
}

TEST(QueryFiles, ReadsEncodingLinesAndEntries) {
    TempFolder folder;
    const QString utf8 = folder.writeText("q~u.txt", "SELECT * FROM a#csv;\ncaption=売上\rnote=月別\r\n");
    tarlo::QueryFile file = tarlo::readQueryFile(utf8);
    EXPECT_TRUE(file.exists);
    EXPECT_EQ(file.encoding, tarlo::TextEncoding::Utf8);
    EXPECT_EQ(file.lines, (QStringList{"SELECT * FROM a#csv;", "caption=売上", "note=月別"}));
    EXPECT_EQ(file.caption, QStringLiteral("売上"));
    EXPECT_EQ(file.note, QStringLiteral("月別"));

    file = tarlo::readQueryFile(folder.write("q~s.txt", QByteArray("caption=\x94\x84\x8f\xe3\r\n")));
    EXPECT_EQ(file.encoding, tarlo::TextEncoding::Cp932);
    EXPECT_EQ(file.caption, QStringLiteral("売上"));

    file = tarlo::readQueryFile(folder.write("q~b.txt", "\xEF\xBB\xBF" "caption=x"));
    EXPECT_EQ(file.encoding, tarlo::TextEncoding::Utf8WithBom);
    EXPECT_EQ(file.caption, QStringLiteral("x"));

    // A NUL is kept with all that follows it, for the run to refuse and a save to write back.
    file = tarlo::readQueryFile(folder.write("q~n.txt", QByteArray("select 1\0 and 2;\nnote=a\0b\r\n", 27)));
    EXPECT_EQ(file.lines, (QStringList{QString::fromUtf8("select 1\0 and 2;", 16), QString::fromUtf8("note=a\0b", 8)}));
    EXPECT_EQ(file.note, QString::fromUtf8("a\0b", 3));
    file = tarlo::readQueryFile(folder.write("q~w.txt", QByteArray("\xFF\xFEs\0\0\0;\0", 8)));
    EXPECT_EQ(file.lines, (QStringList{QString::fromUtf8("s\0;", 3)}));
}

TEST(QueryFiles, MissingIsNotAnErrorButUnreadableIs) {
    TempFolder folder;
    folder.mkdir("q~dir.txt");
    EXPECT_FALSE(tarlo::readQueryFile(folder.file("q~none.txt")).exists);
    EXPECT_FALSE(tarlo::readQueryFile(folder.file("q~dir.txt")).exists);
    try {
        tarlo::readQueryFile(unreadableFilePath());
        FAIL() << "no error";
    } catch (const tarlo::Error& e) {
        const QString named = QStringLiteral("ファイル \"%1\". ").arg(QString::fromUtf8(unreadableFilePath()));
        EXPECT_TRUE(e.message().startsWith(named)) << e.what();
        EXPECT_TRUE(e.message().endsWith(QStringLiteral(" は開けません"))) << e.what();
    }
}

TEST(StatementText, UpToTheFirstSemicolon) {
    EXPECT_EQ(tarlo::statementOf("select 1;\r\ncaption=x;y\r\n"), QStringLiteral("select 1;"));
    EXPECT_EQ(tarlo::statementOf("select ';' from t"), QStringLiteral("select ';"));
    EXPECT_EQ(tarlo::statementOf("select 1\r\n"), QStringLiteral("select 1\r\n"));
    EXPECT_EQ(tarlo::statementOf(""), QString());
}
