// The real program: a second start while one runs exits 0 at once.
#include "support/temp_folder.h"

#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

TEST(Program, SecondStartEndsAtOnceWithExitCodeZero) {
    TempFolder folder;
    ASSERT_TRUE(QFile::copy(TARLO_BINARY, folder.file("tarlo")));
    QFile::setPermissions(folder.file("tarlo"), QFileDevice::ExeOwner | QFileDevice::ReadOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", folder.path());  // a lock of this test's own

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(folder.file("tarlo"), {});
    ASSERT_TRUE(first.waitForStarted());
    QTest::qWait(700);
    ASSERT_EQ(first.state(), QProcess::Running);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(folder.file("tarlo"), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill();  // killed, not closed: the lock must still be dropped
    first.waitForFinished();
    QProcess third;
    third.setProcessEnvironment(env);
    third.start(folder.file("tarlo"), {});
    ASSERT_TRUE(third.waitForStarted());
    QTest::qWait(700);
    EXPECT_EQ(third.state(), QProcess::Running) << "a start after a killed instance runs normally";
    third.terminate();
    third.waitForFinished();
    EXPECT_TRUE(QFile::exists(folder.file("PRODUCTS.url"))) << "closed by the system: the shortcut is written";
}
