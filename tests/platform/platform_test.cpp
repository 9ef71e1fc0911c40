// The platform layer's contracts that hold on every system.
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "platform/pages.h"
#include "platform/program_folder.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <cstring>
#include <thread>

TEST(ProgramFolder, IsTheExecutablesFolder) {
    const QString folder = tarlo::programFolder();
    EXPECT_EQ(tarlo::folderOfPath(folder), folder) << "ends in a separator";
    EXPECT_TRUE(QFileInfo(folder).isDir());
    // The folder may be the short form of the one the path names: the file tells.
    EXPECT_TRUE(QFileInfo::exists(folder + QFileInfo(tarlo::executablePath()).fileName()));
}

TEST(ProgramFolder, ApplicationTitleIsTheNameCutAtTheFirstDot) {
    EXPECT_EQ(tarlo::applicationTitle(QStringLiteral("/opt/x/tarlo")), QStringLiteral("tarlo"));
    EXPECT_EQ(tarlo::applicationTitle(QStringLiteral("/opt/x/TARLO.v2.exe")), QStringLiteral("Tarlo"));
    EXPECT_EQ(tarlo::applicationTitle(QStringLiteral("/opt/x.d/Tarlo")), QStringLiteral("Tarlo"));
}

TEST(ApplicationErrorText, ClosesWithAPeriodAfterCharactersSortingAfterIt) {
    EXPECT_EQ(tarlo::applicationErrorText(QStringLiteral("書き込めません")), QStringLiteral("書き込めません."));
    EXPECT_EQ(tarlo::applicationErrorText(QStringLiteral("done.")), QStringLiteral("done."));
    EXPECT_EQ(tarlo::applicationErrorText(QStringLiteral("I/O エラー (5)")), QStringLiteral("I/O エラー (5)"));
    EXPECT_EQ(tarlo::applicationErrorText(QString()), QString());
}

TEST(Error, MessagesAreFormattedOnceFromTheirFacts) {
    // A placeholder inside an argument is text, whatever its position.
    const tarlo::Error e({.file = "x%1.csv", .line = 2}, u"ファイル \"%1\" の %2 行目: %3", "x%1.csv", 2, "%2 %%");
    EXPECT_EQ(e.message(), QStringLiteral("ファイル \"x%1.csv\" の 2 行目: %2 %%"));
    EXPECT_EQ(e.facts().file, QStringLiteral("x%1.csv"));
    EXPECT_EQ(e.facts().line, 2);
    EXPECT_EQ(std::string(e.what()), e.message().toStdString());
    EXPECT_EQ(tarlo::formatMessage(u"100%% %1%3 %9", "a"), QStringLiteral("100% a%3 %9"));
    EXPECT_EQ(tarlo::formatMessage(u"%1 %2 %1", std::string_view("x"), 1.5), QStringLiteral("x 1.5 x"));
    // A system failure on a file keeps its path, number and text apart.
    const tarlo::FileError f("/p/%2.txt", 13, "Permission denied");
    EXPECT_EQ(f.message(), QStringLiteral("ファイル \"%1\". Permission denied").arg(tarlo::shownPath("/p/%2.txt")));
    EXPECT_EQ(f.path(), QStringLiteral("/p/%2.txt"));
    // The file shows as the system writes paths (with "\\" on Windows); the facts keep it as given.
    const tarlo::Error about({.file = "C:/data/a.csv"}, u"\"%1\" (%2)", "C:/data/a.csv", "2024/01/05");
#ifdef Q_OS_WIN
    EXPECT_EQ(about.message(), QStringLiteral("\"C:\\data\\a.csv\" (2024/01/05)"));
#else
    EXPECT_EQ(about.message(), QStringLiteral("\"C:/data/a.csv\" (2024/01/05)"));
#endif
    EXPECT_EQ(about.facts().file, QStringLiteral("C:/data/a.csv"));
}

TEST(IniFile, NewFileHoldsExactlyTheTwoLines) {
    EXPECT_EQ(tarlo::setIniValue({}, "InternetShortcut", "URL", "https://x.jp/"),
              QByteArray("[InternetShortcut]\r\nURL=https://x.jp/\r\n"));
}

TEST(IniFile, ExistingFileKeepsEverythingButTheKey) {
    struct Case {
        const char* before;
        const char* after;
    } cases[] = {
        // replaced in place, other keys, comments and LF endings kept
        {"; keep\n[Other]\nURL=a\n[internetshortcut]\nIconIndex=0\nurl = old\n",
         "; keep\n[Other]\nURL=a\n[internetshortcut]\nIconIndex=0\nURL=new\n"},
        // added at the end of its section, before a blank line and the next section
        {"[InternetShortcut]\r\nIconIndex=0\r\n\r\n[X]\r\nk=v\r\n",
         "[InternetShortcut]\r\nIconIndex=0\r\nURL=new\r\n\r\n[X]\r\nk=v\r\n"},
        // a missing section goes at the end, after a last line without a break
        {"[X]\nk=v", "[X]\nk=v\n[InternetShortcut]\nURL=new\n"},
        // a commented-out key is not the key
        {"[InternetShortcut]\r\n;URL=old\r\n", "[InternetShortcut]\r\n;URL=old\r\nURL=new\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tarlo::setIniValue(c.before, "InternetShortcut", "URL", "new"), QByteArray(c.after)) << c.before;
}

TEST(IniFile, WritesTheFileAndNamesItWhenItCannot) {
    TempFolder folder;
    folder.write("PRODUCTS.url", "[A]\r\nb=c\r\n");
    tarlo::writeIniValue(folder.file("PRODUCTS.url"), "InternetShortcut", "URL", "u");
    EXPECT_EQ(folder.read("PRODUCTS.url"), QByteArray("[A]\r\nb=c\r\n[InternetShortcut]\r\nURL=u\r\n"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 1) << "no temporary file left behind";

    const QString path = unwritableFolder() + QStringLiteral("PRODUCTS.url");
    try {
        tarlo::writeIniValue(path, "InternetShortcut", "URL", "u");
        FAIL() << "no error";
    } catch (const tarlo::Error& e) {
        EXPECT_EQ(e.message(), path + QStringLiteral(" に書き込めません"));
    }
}


// Reads at places, from two threads at once: each gets its own bytes, and
// a read past the end gets what there is.
TEST(FileReader, ReadsAtPlacesFromSeveralThreads) {
    TempFolder folder;
    QByteArray text;
    for (int i = 0; i < 300000; ++i) text += char('a' + i % 26);
    folder.write("t.csv", text);
    tarlo::FileReader reader(folder.file("t.csv"));
    QByteArray first(150000, '\0'), second(150000, '\0');
    std::thread other([&] { EXPECT_EQ(reader.readAt(150000, second.data(), 150000), 150000u); });
    EXPECT_EQ(reader.readAt(0, first.data(), 150000), 150000u);
    other.join();
    EXPECT_EQ(first + second, text);
    char tail[10];
    EXPECT_EQ(reader.readAt(299995, tail, 10), 5u);
    EXPECT_EQ(QByteArray(tail, 5), text.right(5));
    EXPECT_EQ(reader.readAt(400000, tail, 10), 0u);
}

// Pages given back and asked for again, as a statement run twice asks,
// come back zeroed, whatever they held.
TEST(Pages, AskedForAgainAreZero) {
    for (const size_t bytes : {size_t(300000), size_t(4) << 20}) {
        auto* pages = static_cast<unsigned char*>(tarlo::growPages(nullptr, 0, bytes));
        ASSERT_NE(pages, nullptr);
        std::memset(pages, 0xAB, bytes);
        tarlo::releasePages(pages, bytes);
        auto* again = static_cast<unsigned char*>(tarlo::growPages(nullptr, 0, bytes - 4096));
        ASSERT_NE(again, nullptr);
        for (size_t i = 0; i < bytes - 4096; i += 997) ASSERT_EQ(again[i], 0) << bytes << " bytes, at " << i;
        again[bytes - 4097] = 1;  // the whole length asked for is there
        tarlo::releasePages(again, bytes - 4096);
    }
}
