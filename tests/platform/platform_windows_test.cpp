// The platform layer on Windows, run under Wine: the session's named mutex,
// ProgramFolder through the module name and short names, the profile file,
// saves over read-only and open files, and the left-overs of killed saves.
#include "platform/bell.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "platform/program_folder.h"
#include "platform/single_instance.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <thread>

#include <windows.h>

TEST(ProgramFolder, EndsInABackslashAndTakesTheShortForm) {
    const QString folder = tarlo::programFolder();
    EXPECT_TRUE(folder.endsWith(QLatin1Char('\\'))) << folder.toStdString();
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("tarlo_platform_tests.exe")).exists());
    EXPECT_EQ(tarlo::folderOfPath(QStringLiteral("C:\\データ\\表\\tarlo.exe")), QStringLiteral("C:\\データ\\表\\"));
    EXPECT_EQ(tarlo::folderOfPath(QStringLiteral("C:tarlo.exe")), QStringLiteral("C:"));
    EXPECT_EQ(tarlo::applicationTitle(QStringLiteral("C:\\x.d\\TARLO.EXE")), QStringLiteral("Tarlo"));

    TempFolder temp;
    const QString longName = QDir::toNativeSeparators(temp.path()) + QStringLiteral("\\a folder with a long name\\");
    ASSERT_TRUE(QDir().mkpath(longName));
    const QString shortName = tarlo::makeShortPath(longName);
    EXPECT_TRUE(shortName.endsWith(QLatin1Char('\\')));
    EXPECT_TRUE(QFileInfo(shortName).isDir());
    EXPECT_NE(shortName, longName);
    wchar_t expanded[MAX_PATH];
    const DWORD n = ::GetLongPathNameW(shortName.toStdWString().c_str(), expanded, MAX_PATH);
    EXPECT_EQ(QString::fromWCharArray(expanded, int(n)).toStdString(), longName.toStdString());
    // A folder that is not there keeps its long form.
    EXPECT_EQ(tarlo::makeShortPath(QStringLiteral("C:\\no such folder\\")), QStringLiteral("C:\\no such folder\\"));
}

TEST(SingleInstance, TheMutexOfTheSessionIsHeldOnceAndFreedWithItsThread) {
    const QString name = QStringLiteral("_tarlo_test_%1").arg(::GetCurrentProcessId());
    EXPECT_EQ(tarlo::SingleInstanceGuard::defaultLockPath(QStringLiteral("_tarlo")), QStringLiteral("_tarlo"));
    std::optional<tarlo::SingleInstanceGuard> first;
    first.emplace(name);
    EXPECT_EQ(first->state(), tarlo::SingleInstanceGuard::State::Acquired);
    // The owner is a thread: another one is a second instance.
    tarlo::SingleInstanceGuard::State second{};
    std::thread([&] { second = tarlo::SingleInstanceGuard(name).state(); }).join();
    EXPECT_EQ(second, tarlo::SingleInstanceGuard::State::HeldElsewhere);
    // An owner that ends without releasing abandons the mutex, which the next start takes.
    std::thread([&] { tarlo::SingleInstanceGuard held(QStringLiteral("%1_x").arg(name)); }).join();
    tarlo::SingleInstanceGuard after(QStringLiteral("%1_x").arg(name));
    EXPECT_EQ(after.state(), tarlo::SingleInstanceGuard::State::Acquired);
}

TEST(FileSaves, ReadOnlyRefusedOthersReplacedWithNoLeftOvers) {
    TempFolder folder;
    folder.write("q~a.txt", "old");
    tarlo::writeFileAtomically(folder.file("q~a.txt"), "new text");
    EXPECT_EQ(folder.read("q~a.txt"), QByteArray("new text"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    const std::wstring readOnly = QDir::toNativeSeparators(folder.file("q~ro.txt")).toStdWString();
    folder.write("q~ro.txt", "kept");
    ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_THROW(tarlo::writeFileAtomically(folder.file("q~ro.txt"), "lost"), tarlo::FileError);
    EXPECT_EQ(folder.read("q~ro.txt"), QByteArray("kept"));
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);

    EXPECT_THROW(tarlo::writeFileAtomically(folder.path(), "x"), tarlo::FileError) << "a folder";
    try {
        tarlo::readFileBytes(folder.file("missing.csv"));
        FAIL();
    } catch (const tarlo::FileError& e) {
        EXPECT_EQ(e.code(), ENOENT) << "callers test errno values on every system";
    }
}

TEST(FileSaves, UnfinishedSavesAreRemovedUnlessStillOpen) {
    TempFolder folder;
    folder.write("q~a.txt.tarlo-save-123456", "killed");
    folder.write("q~b.txt.tarlo-save-654321", "under way");
    folder.write("report.tarlo-backup", "the user's");
    const std::wstring busy = QDir::toNativeSeparators(folder.file("q~b.txt.tarlo-save-654321")).toStdWString();
    const HANDLE open = ::CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    EXPECT_EQ(tarlo::removeUnfinishedSaves(folder.path()), 1);
    ::CloseHandle(open);
    EXPECT_FALSE(QFileInfo::exists(folder.file("q~a.txt.tarlo-save-123456")));
    EXPECT_TRUE(QFileInfo::exists(folder.file("q~b.txt.tarlo-save-654321")));
    EXPECT_TRUE(QFileInfo::exists(folder.file("report.tarlo-backup")));
}

TEST(IniFile, TheShortcutIsWrittenWithCrLf) {
    TempFolder folder;
    tarlo::writeIniValue(folder.file("PRODUCTS.url"), "InternetShortcut", "URL", "https://x.jp/");
    EXPECT_EQ(folder.read("PRODUCTS.url"), QByteArray("[InternetShortcut]\r\nURL=https://x.jp/\r\n"));
}

TEST(Bell, ABeepReturnsWhenItHasSounded) {
    const DWORD start = ::GetTickCount();
    tarlo::ringBell(8000, 45);
    EXPECT_LT(::GetTickCount() - start, 5000u) << "no hang where there is no sound device";
}
