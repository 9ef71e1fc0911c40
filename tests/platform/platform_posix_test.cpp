// The platform layer on POSIX: locks, FIFOs, devices, links, owners and
// modes, which only a POSIX system has.
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "platform/program_folder.h"
#include "platform/single_instance.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(ProgramFolder, EndsInSlashAndHasNoShortForm) {
    EXPECT_TRUE(tarlo::programFolder().endsWith(QLatin1Char('/')));
    EXPECT_TRUE(QFileInfo(tarlo::programFolder() + QStringLiteral("tarlo_platform_tests")).exists());
    EXPECT_EQ(tarlo::folderOfPath(QStringLiteral("/データ/表/tarlo")), QStringLiteral("/データ/表/"));
    EXPECT_EQ(tarlo::makeShortPath(QStringLiteral("/long folder name/")), QStringLiteral("/long folder name/"));
}

TEST(IniFile, AFifoByThatNameNeitherBlocksTheCloseNorBecomesAFile) {
    TempFolder folder;
    const QString fifo = folder.file("fifo.url");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_THROW(tarlo::writeIniValue(fifo, "InternetShortcut", "URL", "u"), tarlo::Error);
    EXPECT_FALSE(QFileInfo(fifo).isFile());
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

namespace {

struct stat statOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// Runs body as the user nobody, in a member of group: root passes every
// permission check a user meets. False when the body threw.
bool asOtherUser(gid_t group, const std::function<void()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        if (::setgroups(1, &group) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(3);
        try {
            body();
        } catch (...) {
            _exit(2);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST(FileSaves, TheFileStaysWhatItWas) {
    TempFolder folder;
    const QString shared = folder.write("shared.txt", "old");
    ::chmod(QFile::encodeName(shared).constData(), 0640);
    const QString link = folder.file("q~link.txt");
    ASSERT_TRUE(QFile::link(shared, link));
    tarlo::writeFileAtomically(link, "new");
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(folder.read("shared.txt"), QByteArray("new"));
    EXPECT_EQ(statOf(shared).st_mode & 07777, 0640u);

    const QString hard = folder.file("q~hard.txt");
    ASSERT_EQ(::link(QFile::encodeName(shared).constData(), QFile::encodeName(hard).constData()), 0);
    tarlo::writeFileAtomically(hard, "newer, and longer");
    tarlo::writeFileAtomically(hard, "short");
    EXPECT_EQ(folder.read("shared.txt"), QByteArray("short"));
    EXPECT_EQ(statOf(hard).st_ino, statOf(shared).st_ino);

    const QString fifo = folder.file("q~pipe.txt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_THROW(tarlo::writeFileAtomically(fifo, "x"), tarlo::FileError);
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::System).size(), 4);  // no temporary left
}

TEST(FileSaves, AnotherUsersFileAndAReadOnlyFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    TempFolder folder;
    ::chmod(QFile::encodeName(folder.path()).constData(), 0777);
    // Group-shared: the other user may write it, but could not give a new file its owner.
    const QString shared = folder.write("q~shared.txt", "old");
    ::chown(QFile::encodeName(shared).constData(), 0, 4242);
    ::chmod(QFile::encodeName(shared).constData(), 0664);
    EXPECT_TRUE(asOtherUser(4242, [&] { tarlo::writeFileAtomically(shared, "edited"); }));
    EXPECT_EQ(folder.read("q~shared.txt"), QByteArray("edited"));
    EXPECT_EQ(statOf(shared).st_uid, 0u);
    EXPECT_EQ(statOf(shared).st_gid, 4242u);
    EXPECT_EQ(statOf(shared).st_mode & 07777, 0664u);

    folder.mkdir("ro");
    const QString inReadOnly = folder.write("ro/q~a.txt", "old");
    ::chmod(QFile::encodeName(inReadOnly).constData(), 0666);
    ::chmod(QFile::encodeName(folder.file("ro")).constData(), 0555);
    EXPECT_TRUE(asOtherUser(4242, [&] { tarlo::writeFileAtomically(inReadOnly, "saved"); }));
    EXPECT_EQ(folder.read("ro/q~a.txt"), QByteArray("saved"));
    // A file the user may not write stays refused.
    ::chmod(QFile::encodeName(inReadOnly).constData(), 0644);
    EXPECT_FALSE(asOtherUser(4242, [&] { tarlo::writeFileAtomically(inReadOnly, "no"); }));
    EXPECT_EQ(folder.read("ro/q~a.txt"), QByteArray("saved"));
    ::chmod(QFile::encodeName(folder.file("ro")).constData(), 0755);
}

TEST(FileSaves, AFullDiskFailsTheSaveAndKeepsTheOldText) {
    TempFolder folder;
    const QString file = folder.write("q~full.txt", "old text");
    const QByteArray longer(100000, 'n');
    // No free inode or no room for the temporary file: the folder would
    // take a new file if it had room, so no rewrite in place is tried.
    for (const int code : {ENOSPC, EDQUOT}) {
        tarlo::setSaveFaultsForTesting({.tempFile = code});
        try {
            tarlo::writeFileAtomically(file, longer);
            ADD_FAILURE() << "saved without a temporary file";
        } catch (const tarlo::FileError& e) {
            EXPECT_EQ(e.code(), code);
        }
        EXPECT_EQ(folder.read("q~full.txt"), QByteArray("old text"));
    }
    // A folder that takes no new file rewrites in place, but only with room for the whole text.
    tarlo::setSaveFaultsForTesting({.tempFile = EACCES, .reserve = ENOSPC});
    EXPECT_THROW(tarlo::writeFileAtomically(file, longer), tarlo::FileError);
    EXPECT_EQ(folder.read("q~full.txt"), QByteArray("old text"));
    tarlo::setSaveFaultsForTesting({.tempFile = EACCES});
    tarlo::writeFileAtomically(file, longer);
    EXPECT_TRUE(folder.read("q~full.txt") == longer);
    // A hard-linked file is always rewritten in place, and also only with room.
    const QString hard = folder.file("q~hard.txt");
    ASSERT_EQ(::link(QFile::encodeName(file).constData(), QFile::encodeName(hard).constData()), 0);
    tarlo::setSaveFaultsForTesting({.reserve = EDQUOT});
    EXPECT_THROW(tarlo::writeFileAtomically(hard, "x"), tarlo::FileError);
    EXPECT_TRUE(folder.read("q~full.txt") == longer);
    tarlo::setSaveFaultsForTesting({});
    tarlo::writeFileAtomically(hard, "short");
    EXPECT_EQ(folder.read("q~full.txt"), QByteArray("short"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 2);  // no temporary left
}

TEST(FileSaves, AFullFileSystemWithoutFreeInodesKeepsTheOldText) {
    // The same on a real file system: a small one, its inodes and room used up.
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    TempFolder folder;
    const QByteArray mount = QFile::encodeName(folder.path());
    if (std::system(("mount -t tmpfs -o size=256k,nr_inodes=4 tmpfs '" + mount + "' 2>/dev/null").constData()) != 0)
        GTEST_SKIP() << "mount -t tmpfs is not allowed here";
    struct Unmount {
        QByteArray at;
        ~Unmount() { [[maybe_unused]] int rc = std::system(("umount '" + at + "'").constData()); }
    } unmount{mount};
    const QString file = folder.write("q~a.txt", QByteArray(24576, 'o'));
    // Fill the inodes, then the room.
    for (int i = 0; !folder.write(QStringLiteral("filler%1").arg(i), "").isEmpty() && i < 100; ++i) {}
    QFile filler(folder.file("filler0"));
    ASSERT_TRUE(filler.open(QIODevice::Append));
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size() && filler.flush()) {}
    filler.close();
    const QByteArray text(200000, 'n');
    EXPECT_THROW(tarlo::writeFileAtomically(file, text), tarlo::FileError);
    EXPECT_TRUE(folder.read("q~a.txt") == QByteArray(24576, 'o')) << folder.read("q~a.txt").size() << " bytes";
}

TEST(FileSaves, ALinkToNothingStaysALink) {
    TempFolder folder;
    const QString link = folder.file("q~gone.txt");
    ASSERT_TRUE(QFile::link(folder.file("moved-away.txt"), link));
    try {
        tarlo::writeFileAtomically(link, "text");
        ADD_FAILURE() << "saved through a link to nothing";
    } catch (const tarlo::FileError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("moved-away.txt"))) << e.message().toStdString();
    }
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_FALSE(QFile::exists(folder.file("moved-away.txt")));
    // A link to itself is refused as well.
    const QString loop = folder.file("q~loop.txt");
    ASSERT_TRUE(QFile::link(loop, loop));
    EXPECT_THROW(tarlo::writeFileAtomically(loop, "text"), tarlo::FileError);
    EXPECT_TRUE(QFileInfo(loop).isSymLink());
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::System).size(), 2);
}

TEST(FileSaves, UnfinishedSavesAreRemovedUnlessStillUnderWay) {
    TempFolder folder;
    folder.write("q~a.txt.tarlo-save-Ab12Cd", "killed half-way");
    const QString live = folder.write("q~b.txt.tarlo-save-Zz99Yy", "being written");
    folder.write("notes.tarlo-2", "not ours");
    folder.write("report.tarlo-backup", "a user's own file");
    const int fd = ::open(QFile::encodeName(live).constData(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_EQ(tarlo::removeUnfinishedSaves(folder.path()), 1);
    EXPECT_FALSE(QFile::exists(folder.file("q~a.txt.tarlo-save-Ab12Cd")));
    EXPECT_TRUE(QFile::exists(live));
    EXPECT_TRUE(QFile::exists(folder.file("notes.tarlo-2")));
    EXPECT_TRUE(QFile::exists(folder.file("report.tarlo-backup")));
    ::close(fd);
    EXPECT_EQ(tarlo::removeUnfinishedSaves(folder.path()), 1);
}

TEST(FileSaves, UnfinishedSavesBesideALinksTargetAreRemovedToo) {
    TempFolder folder;
    folder.mkdir("tables");
    folder.mkdir("elsewhere");
    const QString target = folder.write("elsewhere/q.txt", "text");
    ASSERT_TRUE(QFile::link(target, folder.file("tables/q~linked.txt")));
    ASSERT_TRUE(QFile::link(folder.file("nowhere.txt"), folder.file("tables/q~dangling.txt")));
    folder.write("elsewhere/q.txt.tarlo-save-Ab12Cd", "killed half-way");
    const QString live = folder.write("elsewhere/q.txt.tarlo-save-Zz99Yy", "being written");
    // Only the target's own leftovers: the other folder is not ours.
    folder.write("elsewhere/other.txt.tarlo-save-Qq11Rr", "another program's");
    const int fd = ::open(QFile::encodeName(live).constData(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_EQ(tarlo::removeUnfinishedSaves(folder.file("tables/")), 1);
    EXPECT_FALSE(QFile::exists(folder.file("elsewhere/q.txt.tarlo-save-Ab12Cd")));
    EXPECT_TRUE(QFile::exists(live));
    EXPECT_TRUE(QFile::exists(folder.file("elsewhere/other.txt.tarlo-save-Qq11Rr")));
    EXPECT_TRUE(QFile::exists(target));
    ::close(fd);
}

TEST(SingleInstance, TheLockLivesInAFolderNoOtherUserControls) {
    TempFolder folder;
    const QString made = folder.file("made/deeper");
    EXPECT_EQ(tarlo::SingleInstanceGuard::lockPathIn("_tarlo", {made}), made + "/_tarlo.lock");
    EXPECT_EQ(statOf(made).st_mode & 0777, 0700u);

    const QString link = folder.file("link");
    ASSERT_TRUE(QFile::link(made, link));
    EXPECT_EQ(tarlo::SingleInstanceGuard::lockPathIn("_tarlo", {link, made}), made + "/_tarlo.lock");

    folder.mkdir("open");
    const QString open = folder.file("open");
    ::chmod(QFile::encodeName(open).constData(), 0777);
    if (::geteuid() == 0) {
        const QString planted = folder.write("open/_tarlo.lock", "");
        ::chown(QFile::encodeName(planted).constData(), 65534, 65534);
        folder.mkdir("theirs");
        ::chown(QFile::encodeName(folder.file("theirs")).constData(), 65534, 65534);
        EXPECT_EQ(tarlo::SingleInstanceGuard::lockPathIn("_tarlo", {folder.file("theirs"), open}),
                  open + "/_tarlo.lock");
        EXPECT_FALSE(QFile::exists(planted));
    } else {
        EXPECT_EQ(tarlo::SingleInstanceGuard::lockPathIn("_tarlo", {open}), open + "/_tarlo.lock");
    }
    EXPECT_EQ(statOf(open).st_mode & 0777, 0700u);
    EXPECT_EQ(tarlo::SingleInstanceGuard::lockPathIn("_tarlo", {QStringLiteral("/proc/self/x")}), QString());
}
