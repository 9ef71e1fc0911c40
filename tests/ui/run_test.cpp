#include "platform/bell.h"
#include "window_fixture.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

class Run : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        setWarningSink([this](const QString& text) { warnings.append(text); });
        tarlo::setBellHandler([this](int hz, int ms) { bells.append(QString("%1/%2").arg(hz).arg(ms)); });
        folder.writeText("t.csv", "id,name,note\n1,a,x\n2,,y\n3,c,z\n");
        folder.writeText("wide.csv", "a,b,c,d,e,f,g\n1,2,3,4,5,6,7\n");
        folder.writeText("q~t.txt", "SELECT id, name, note FROM t#csv ORDER BY id;\ncaption=never sent\n");
        folder.writeText("q~w.txt", "select * from wide#csv");
        open();
    }
    void TearDown() override {
        setWarningSink(nullptr);
        tarlo::setBellHandler(nullptr);
        WindowTest::TearDown();
    }
    void runEditor(const QString& sql) {
        window->Memo2->setPlainText(sql);
        guarded([&] { window->n2Click(window->BitBtn1); });
        waitForRun();
    }
    QStringList warnings;
    QStringList bells;
};

}  // namespace

TEST_F(Run, NothingHappensWhileTheTableListIsEmpty) {
    window->Memo2->setPlainText("SELECT 1;");
    window->n2Click(window->BitBtn1);
    window->n1Click();
    EXPECT_FALSE(window->isRunning());
    EXPECT_TRUE(window->LblKENSUU->isHidden());
    EXPECT_TRUE(window->Memo1->lines().empty());
    EXPECT_TRUE(window->windowTitle().isEmpty());
    EXPECT_TRUE(bells.isEmpty());
    EXPECT_TRUE(warnings.isEmpty());
}

TEST_F(Run, RunsTheStatementUpToItsSemicolon) {
    choose(0);
    guarded([&] { window->n2Click(window->BitBtn1); });
    waitForRun();
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
    EXPECT_EQ(window->Memo1->toPlainText(), QStringLiteral("1\ta\tx\n2\t\ty\n3\tc\tz")) << "a null gives two TABs";
    EXPECT_EQ(window->LblKENSUU->text(), QStringLiteral("3 件"));
    EXPECT_TRUE(window->LblKENSUU->isVisible() || !window->LblKENSUU->isHidden());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("id name note"));
    EXPECT_EQ(window->countLabelHint(), QStringLiteral("3"));

    runEditor("SELECT name FROM t#csv WHERE id = 3");  // no ";": the whole text
    EXPECT_EQ(window->Memo1->toPlainText(), QStringLiteral("c"));
}

TEST_F(Run, RunAllTakesTheTopTable) {
    choose(1);
    guarded([&] { window->n1Click(); });
    waitForRun();
    EXPECT_EQ(window->Memo1->toPlainText(), QStringLiteral("1\t2\t3\t4\t5\t6\t7"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("a b c d e f g"));
    window->LblKENSUUClick();
    EXPECT_EQ(window->LblKENSUU->text(), QStringLiteral("7 列"));
}

TEST_F(Run, FieldsWithoutRowsAndNamelessFields) {
    choose(0);
    runEditor("SELECT id, name FROM t#csv WHERE id > 99;");
    EXPECT_EQ(window->LblKENSUU->text(), QStringLiteral("0 件"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("id name"));
    EXPECT_TRUE(window->Memo1->lines().empty());
    runEditor("SELECT id AS NoName, id AS NoName1, id AS \"\" FROM t#csv LIMIT 1;");
    EXPECT_EQ(window->windowTitle(), QStringLiteral("_0 1 _0"));
}

TEST_F(Run, AFailureBeepsWarnsAndKeepsTheCount) {
    choose(0);
    runEditor("SELECT id FROM t#csv;");
    ASSERT_EQ(window->LblKENSUU->text(), QStringLiteral("3 件"));
    runEditor("SELECT nope FROM t#csv;");
    EXPECT_EQ(bells, QStringList{"8000/45"});
    EXPECT_EQ(warnings, QStringList{"列 \"nope\" が見つかりません (SQL 文の 1 行目 8 文字目)  "})
        << "cut at the first 。, the place before it, two blanks after";
    EXPECT_EQ(window->lastErrorText(), QStringLiteral("列 \"nope\" が見つかりません (SQL 文の 1 行目 8 文字目)"));
    EXPECT_EQ(window->LblKENSUU->text(), QStringLiteral("3 件"));
    EXPECT_TRUE(window->windowTitle().isEmpty());
    EXPECT_TRUE(window->Memo1->lines().empty());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    runEditor("");  // an empty statement fails too
    EXPECT_EQ(warnings.size(), 2);
}

TEST_F(Run, RowsReadBeforeAFailureStayInThePane) {
    choose(0);
    runEditor("SELECT CASE WHEN id < 3 THEN id ELSE abs(-9223372036854775807 - 1) END FROM t#csv ORDER BY id;");
    EXPECT_EQ(warnings.size(), 1);
    EXPECT_EQ(window->Memo1->toPlainText(), QStringLiteral("1\n2"));
    EXPECT_TRUE(window->windowTitle().isEmpty());
}

TEST_F(Run, AResultTooLargeForMemoryStopsAndTheWindowKeepsWhatItShowed) {
    choose(0);
    runEditor("SELECT id, name FROM t#csv ORDER BY id;");
    window->setResultMemoryBudgetForTesting(1024);
    const QString editor = "SELECT a.id, b.note, c.name FROM t#csv a, t#csv b, t#csv c, t#csv d, t#csv e;";
    runEditor(editor);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith(QStringLiteral("結果が大きすぎます: "))) << warnings[0].toStdString();
    EXPECT_EQ(window->Memo1->toPlainText(), QStringLiteral("1\ta\n2\t\n3\tc"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("id name"));
    EXPECT_EQ(window->LblKENSUU->text(), QStringLiteral("3 件"));
    EXPECT_EQ(window->Memo2->toPlainText(), editor);
}

TEST_F(Run, TypedAnswersAndRefusalsReachTheWindow) {
    folder.writeText("amt.csv", "id,amt\n1,500\n2,1500\n3,N/A\n4,\"20,000\"\n");
    folder.writeText("c.csv", "id,code\n1,10\n2,x7\n");
    choose(0);
    runEditor("SELECT id, amt > 1000 FROM amt#csv WHERE amt > 1000 ORDER BY id;");
    EXPECT_EQ(window->Memo1->toPlainText(), QStringLiteral("2\t-1\n4\t-1"));
    runEditor("SELECT id FROM c#csv WHERE code > 5;");
    // The warning shows the first sentence: it must hold the column, the value, its line and the way out.
    ASSERT_EQ(warnings.size(), 1);
    for (const char* fact : {"\"code\"", "\"x7\"", "3 行目", "Val()"})
        EXPECT_TRUE(warnings[0].contains(QString::fromUtf8(fact))) << warnings[0].toStdString();
}

namespace {

// A large table made once for the long-run tests.
class LongRun : public Run {
protected:
    void SetUp() override {
        Run::SetUp();
        QString text = QStringLiteral("id,name,n\n");
        text.reserve(40 << 20);
        for (int i = 0; i < 1500000; ++i) text += QStringLiteral("%1,name%2,%3\n").arg(i).arg(i % 977).arg(i % 13);
        folder.writeText("huge.csv", text);
        folder.writeText("q~h.txt", "SELECT count(*)\nFROM huge#csv\n;");
        window.reset();
        popup.reset();
        open();
    }
};

}  // namespace

TEST_F(LongRun, ReportsProgressCancelsAndKeepsThePreviousResult) {
    choose(window->tbc1->tabs().indexOf("t"));
    runEditor("SELECT id FROM t#csv;");
    ASSERT_EQ(window->Memo1->toPlainText(), QStringLiteral("1\n2\n3"));
    const QString title = window->windowTitle();

    choose(window->tbc1->tabs().indexOf("h"));  // huge.csv on top
    window->setProgressDelayForTesting(0);
    guarded([&] { window->n1Click(); });
    ASSERT_TRUE(window->isRunning());
    QElapsedTimer clock;
    clock.start();
    bool sawProgress = false;
    while (window->isRunning() && clock.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const QString label = window->LblKENSUU->text();
        sawProgress = sawProgress || label.startsWith(QStringLiteral("読込")) || label.endsWith(QStringLiteral(" 行"));
        if (sawProgress) break;
    }
    EXPECT_TRUE(sawProgress) << "a long run shows how far it is";
    window->n1Click();  // a second press cancels, never starts a second run
    waitForRun();
    EXPECT_EQ(window->Memo1->toPlainText(), QStringLiteral("1\n2\n3"));
    EXPECT_EQ(window->windowTitle(), title);
    EXPECT_EQ(window->LblKENSUU->text(), QStringLiteral("3 件"));
    EXPECT_TRUE(warnings.isEmpty());
    EXPECT_TRUE(bells.isEmpty());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// A total gathers no row until its end: the label tells the share read,
// then the rows gone through, and never "0 行", which reads as no rows.
// (Max of an expression keeps the total on SQLite's row by row way.)
TEST_F(LongRun, ATotalShowsTheRowsItGoesThrough) {
    choose(window->tbc1->tabs().indexOf("t"));
    window->setProgressDelayForTesting(0);
    window->Memo2->setPlainText("SELECT Left(name, 5), Max(Len(name)) FROM huge#csv GROUP BY Left(name, 5);");
    guarded([&] { window->n2Click(window->BitBtn1); });
    QStringList shown;
    QElapsedTimer clock;
    clock.start();
    while (window->isRunning() && clock.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (shown.isEmpty() || shown.last() != window->LblKENSUU->text()) shown << window->LblKENSUU->text();
    }
    ASSERT_FALSE(window->isRunning());
    EXPECT_FALSE(shown.contains(QStringLiteral("0 行"))) << shown.join(" | ").toStdString();
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](const QString& t) { return t.startsWith("処理 "); }))
        << shown.join(" | ").toStdString();
    EXPECT_EQ(window->LblKENSUU->text(), QStringLiteral("10 件"));
}

TEST_F(LongRun, ACancelRequestedLateNeverPaintsTheRows) {
    choose(window->tbc1->tabs().indexOf("t"));
    guarded([&] { window->n2Click(window->BitBtn1); });
    window->cancelRun();  // whether or not the run had already ended
    waitForRun();
    EXPECT_TRUE(window->Memo1->lines().empty());
    EXPECT_TRUE(window->windowTitle().isEmpty());
}

TEST_F(LongRun, EscEndsEvenARunBusyInOneLongCall) {
    choose(window->tbc1->tabs().indexOf("t"));
    runEditor("SELECT id FROM t#csv;");
    // Most of this run is spent inside single calls that cannot look at the cancel.
    window->Memo2->setPlainText("SELECT Len(Replace(Space(20000000), ' ', 'ab')) FROM t#csv;");
    guarded([&] { window->n2Click(window->BitBtn1); });
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 100) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(window->isRunning());
    clock.restart();
    window->cancelRun();
    EXPECT_LT(clock.elapsed(), 100);
    EXPECT_FALSE(window->isRunning());
    EXPECT_EQ(window->Memo1->toPlainText(), QStringLiteral("1\n2\n3"));
    runEditor("SELECT name FROM t#csv WHERE id = 3;");  // the next run does not wait for the old one
    EXPECT_EQ(window->Memo1->toPlainText(), QStringLiteral("c"));
}

// A tab with a caption leaves the activation with the note popup; Esc there
// still ends the run, as it does in the main window.
TEST_F(LongRun, EscInTheNotePopupEndsTheRun) {
    choose(window->tbc1->tabs().indexOf("t"));
    ASSERT_TRUE(popup->isVisible());
    runEditor("SELECT id FROM t#csv;");
    window->Memo2->setPlainText("SELECT Len(Replace(Space(20000000), ' ', 'ab')) FROM t#csv;");
    guarded([&] { window->n2Click(window->BitBtn1); });
    ASSERT_TRUE(window->isRunning());
    popup->activateWindow();
    QApplication::setActiveWindow(popup.get());
    QTest::keyClick(popup.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isRunning());
    waitForRun();
    EXPECT_EQ(window->Memo1->toPlainText(), QStringLiteral("1\n2\n3"));
}

TEST_F(LongRun, AStoppedRunsLateOutcomeNeverPassesForTheNextRun) {
    choose(window->tbc1->tabs().indexOf("t"));
    for (int i = 0; i < 20; ++i) {
        window->Memo2->setPlainText("SELECT id FROM t#csv WHERE id = 1;");
        guarded([&] { window->n2Click(window->BitBtn1); });
        std::this_thread::sleep_for(std::chrono::milliseconds(30));  // it ends; its outcome waits in the queue
        window->cancelRun();
        runEditor("SELECT name FROM t#csv WHERE id = 3;");
        ASSERT_EQ(window->Memo1->toPlainText(), QStringLiteral("c")) << "round " << i;
    }
}

TEST_F(LongRun, ClosingDuringARunEndsItAtOnce) {
    choose(window->tbc1->tabs().indexOf("h"));
    guarded([&] { window->n1Click(); });
    ASSERT_TRUE(window->isRunning());
    QElapsedTimer clock;
    clock.start();
    window->close();
    EXPECT_FALSE(window->isRunning());
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(QFile::exists(folder.file("PRODUCTS.url")));
    window.reset();  // and no thread outlives the window: the destructor would hang or crash
}
