#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "platform/program_folder.h"
#include "platform/single_instance.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(ProgramFolder, IsTheExecutablesFolderEndingInSlash) {
    const QString folder = tarlo::programFolder();
    EXPECT_TRUE(folder.endsWith(QLatin1Char('/')));
    EXPECT_TRUE(tarlo::executablePath().startsWith(folder));
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("tarlo_platform_tests")).exists());
    EXPECT_EQ(tarlo::folderOfPath(QStringLiteral("/データ/表/tarlo")), QStringLiteral("/データ/表/"));
    EXPECT_EQ(tarlo::makeShortPath(QStringLiteral("/long folder name/")), QStringLiteral("/long folder name/"));
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
    EXPECT_EQ(f.message(), QStringLiteral("ファイル \"/p/%2.txt\". Permission denied"));
    EXPECT_EQ(f.path(), QStringLiteral("/p/%2.txt"));
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

TEST(SingleInstance, OneHolderAtATimeAndAKilledHolderFreesTheLock) {
    TempFolder folder;
    const QString lock = folder.file("_tarlo.lock");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        tarlo::SingleInstanceGuard held(lock);
        const char state = held.state() == tarlo::SingleInstanceGuard::State::Acquired ? 'A' : 'x';
        [[maybe_unused]] auto n = write(ready[1], &state, 1);
        pause();
        _exit(0);
    }
    char state = 0;
    ASSERT_EQ(read(ready[0], &state, 1), 1);
    EXPECT_EQ(state, 'A');
    {
        tarlo::SingleInstanceGuard second(lock);
        EXPECT_EQ(second.state(), tarlo::SingleInstanceGuard::State::HeldElsewhere);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    tarlo::SingleInstanceGuard after(lock);
    EXPECT_EQ(after.state(), tarlo::SingleInstanceGuard::State::Acquired);

    tarlo::SingleInstanceGuard nowhere(QStringLiteral("/nonexistent-dir/_tarlo.lock"));
    EXPECT_EQ(nowhere.state(), tarlo::SingleInstanceGuard::State::Unguarded);
}

TEST(FileReads, OnlyRegularFilesAreRead) {
    // A FIFO would block the open until a writer came; a device never ends.
    TempFolder folder;
    const QString fifo = folder.file("pipe.csv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString zero = folder.file("zero.csv");
    ASSERT_TRUE(QFile::link("/dev/zero", zero));
    for (const QString& path : {fifo, zero, folder.path()}) {
        try {
            (void)tarlo::readFileBytes(path);
            ADD_FAILURE() << "read " << path.toStdString();
        } catch (const tarlo::FileError& e) {
            EXPECT_TRUE(e.message().contains(path)) << e.message().toStdString();
        }
        EXPECT_THROW(tarlo::FileReader{path}, tarlo::FileError) << path.toStdString();
    }
    folder.writeText("plain.csv", "a\n1\n");
    EXPECT_EQ(tarlo::readFileBytes(folder.file("plain.csv")), QByteArray("a\n1\n"));
}
