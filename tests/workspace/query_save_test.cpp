#include "platform/error.h"
#include "support/temp_folder.h"
#include "platform/text_lines.h"
#include "workspace/query_file.h"
#include "workspace/query_save.h"

#include <gtest/gtest.h>

namespace {
const QDateTime kDec7(QDate(2026, 12, 7), QTime(23, 35, 47));
}

TEST(QueryCopyName, StemOfFourBytesMonthAndTime) {
    struct Case {
        const char* current;
        const char* copy;
    } cases[] = {
        {"/p/q~sales.txt", "/p/q~sa_Dec07_2335_47.txt"},
        {"/p/q~a.txt", "/p/q~a_Dec07_2335_47.txt"},
        {"/p/q~ab.txt", "/p/q~ab_Dec07_2335_47.txt"},
        {"/p/q~x.y.txt", "/p/q~x._Dec07_2335_47.txt"},
        {"/p/q~売上.txt", "/p/q~売_Dec07_2335_47.txt"},
        {"/p/q~a売.txt", "/p/q~a_Dec07_2335_47.txt"},     // the fourth byte is inside 売: cut before it
        {"/p/q~ｱｲｳ.txt", "/p/q~ｱｲ_Dec07_2335_47.txt"},   // half-width katakana is one byte
        {"/p/q~𠮷野.txt", "/p/q~𠮷_Dec07_2335_47.txt"},    // a character beyond the BMP is taken whole
    };
    for (const Case& c : cases)
        EXPECT_EQ(tarlo::queryCopyPath(QString::fromUtf8(c.current), kDec7, kDec7), QString::fromUtf8(c.copy));
}

TEST(QueryCopyName, MonthFromTheFirstReadingTheRestFromTheSecond) {
    const QDateTime first(QDate(2026, 11, 30), QTime(23, 59, 59));
    const QDateTime second(QDate(2026, 12, 1), QTime(0, 0, 0));
    EXPECT_EQ(tarlo::queryCopyPath("/p/q~sales.txt", first, second), QStringLiteral("/p/q~sa_Nov01_0000_00.txt"));
}

TEST(QuerySave, WritesCrLfInTheFilesOwnEncoding) {
    TempFolder folder;
    const QString path = folder.write("q~a.txt", "old");
    tarlo::saveQueryText(path, "a\nb\rc\r\n", tarlo::TextEncoding::Utf8);
    EXPECT_EQ(folder.read("q~a.txt"), QByteArray("a\r\nb\r\nc\r\n"));
    tarlo::saveQueryText(path, "x", tarlo::TextEncoding::Utf8);
    EXPECT_EQ(folder.read("q~a.txt"), QByteArray("x"));

    const QString sjis = folder.write("q~s.txt", "caption=\x94\x84\x8f\xe3");
    tarlo::saveQueryText(sjis, "caption=売上\n", tarlo::spellingOfFile(sjis));
    EXPECT_EQ(folder.read("q~s.txt"), QByteArray("caption=\x94\x84\x8f\xe3\r\n"));

    const QString bom = folder.write("q~b.txt", "\xEF\xBB\xBFx");
    tarlo::saveQueryText(bom, "売", tarlo::spellingOfFile(bom));
    EXPECT_EQ(folder.read("q~b.txt"), QByteArray("\xEF\xBB\xBF\xE5\xA3\xB2"));
}

TEST(QuerySave, FailuresWriteNothing) {
    TempFolder folder;
    const QString sjis = folder.write("q~s.txt", "caption=\x94\x84");
    EXPECT_THROW(tarlo::saveQueryText(sjis, QString::fromUtf8("caf\u00e9"), tarlo::TextEncoding::Cp932),
                 tarlo::Error);
    EXPECT_EQ(folder.read("q~s.txt"), QByteArray("caption=\x94\x84"));

    const QString locked = folder.write("q~ro.txt", "keep");
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    EXPECT_THROW(tarlo::saveQueryText(locked, "x", tarlo::TextEncoding::Ascii), tarlo::Error);
    EXPECT_EQ(folder.read("q~ro.txt"), QByteArray("keep"));

    const QString path = unwritableFolder() + QStringLiteral("q~x.txt");
    try {
        tarlo::saveQueryText(path, "x", tarlo::TextEncoding::Ascii);
        FAIL() << "no error";
    } catch (const tarlo::Error& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("ファイル \"%1\". ").arg(path))) << e.what();
        EXPECT_TRUE(e.message().endsWith(QStringLiteral(" を作成できません"))) << e.what();
    }
}

TEST(QuerySave, AnUneditedSaveWritesTheFileBackByteForByte) {
    // Loaded and saved as the window does: lines joined with CR LF, the file's own spelling.
    const QByteArray files[] = {
        "select * from t\r\ncaption=\xED\x40\x8A\x9F\r\n",                 // ED 40, not the encoder's FA 5C
        "\x87\x90\x81\xE6\xFA\x5B\r\n",                                      // one character spelled three ways
        "a\x80 b\xA0 c\xFD\xFE\xFF d\x85\x40 e\x7F\x1A\x1C f\x82\r\n",       // bytes no character has
        "\xE5\xA3\xB2\xE4\xB8\x8A caption=\xE3\x81\x82 \xFF stray\r\n",    // UTF-8 with one bad byte
        "\xEF\xBB\xBF\xE5\xA3\xB2\r\n",
        "\xEF\xBB\xBF\xE5\xA3 \xED\xA0\x80 \xC0\xAF\r\n",                 // a byte-order mark, then bad UTF-8
        QByteArray("select * from t where v1 = 1\0 AND v2 = 2;\r\n", 43),  // a NUL, and what follows it
        QByteArray("\0\x94\x84\0\xE5\r\n\0\r\n", 10),                    // NULs among CP932 and bad bytes
    };
    TempFolder folder;
    for (const QByteArray& bytes : files) {
        const QString path = folder.write("q~x.txt", bytes);
        const tarlo::QueryFile loaded = tarlo::readQueryFile(path);
        tarlo::saveQueryText(path, tarlo::joinLinesCrLf(loaded.lines), tarlo::spellingOfFile(path));
        EXPECT_EQ(folder.read("q~x.txt").toHex(' '), bytes.toHex(' '));
    }
    // An edit elsewhere keeps the file's codes for what it did not touch.
    const QString path = folder.write("q~y.txt", "\xED\x40\x80\r\n");
    const tarlo::QueryFile loaded = tarlo::readQueryFile(path);
    tarlo::saveQueryText(path, loaded.lines.join("\n") + QStringLiteral("\n売\n"), tarlo::spellingOfFile(path));
    EXPECT_EQ(folder.read("q~y.txt"), QByteArray("\xED\x40\x80\r\n\x94\x84\r\n"));
}
