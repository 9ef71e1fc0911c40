#include "window_fixture.h"

#include <QApplication>
#include <QClipboard>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

namespace {

class Lists : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        folder.writeText("q~1.txt", "select * from [a#csv];\r\n");
        folder.writeText("q~2.txt", "SELECT x\r\nFROM b#csv, a#csv;\r\n");
        folder.writeText("q~3.txt", "select * from A#CSV;\r\n");
        folder.writeText("q~4.txt", "select * from missing#csv;\r\n");
        folder.writeText("q~5.txt", "select * from a#csv;\r\n");
        folder.writeText("a.csv", "id,\"say \"\"hi\"\"\",名前\r\n1,2,3\r\n");
        folder.write("b.csv", "\x8e\x81\x96\xbc,x\r\n");
        open();
    }
    void clickColumn(int row) {
        window->ListBox1->setCurrentRow(row);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(window->ListBox1->viewport(), &release);
    }
};

}  // namespace

TEST_F(Lists, TheListsFollowEveryLoadedQuery) {
    choose(0);
    EXPECT_EQ(items(window->ListBox2), QStringList{"a.csv"});
    EXPECT_EQ(items(window->ListBox1), (QStringList{"F01\tid", "F02\t\"say \"\"hi\"\"\"", "F03\t名前"}));
    choose(1);
    EXPECT_EQ(items(window->ListBox2), (QStringList{"b.csv", "a.csv"}));
    EXPECT_EQ(items(window->ListBox1), (QStringList{"F01\t氏名", "F02\tx"}));
    clickColumn(0);
    EXPECT_TRUE(window->Button1->isEnabled());

    // The top changes back: the column list is read again, the button stays as it was.
    choose(4);
    EXPECT_EQ(items(window->ListBox2), (QStringList{"a.csv", "b.csv"}));
    EXPECT_EQ(window->ListBox1->count(), 3);
    EXPECT_TRUE(window->Button1->isEnabled());

    // The same table on top (a different spelling): the column list is left alone.
    window->ListBox1->addItem("marker");
    choose(2);
    EXPECT_EQ(items(window->ListBox2), (QStringList{"a.csv", "b.csv"}));
    EXPECT_EQ(window->ListBox1->count(), 4);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(Lists, AMissingTableIsReportedWithItsNameOnTopAndNoColumns) {
    choose(0);
    choose(3);
    EXPECT_EQ(errors, QStringList{"ファイルが見つかりません."});
    EXPECT_EQ(window->recentTables().top(), QStringLiteral("missing.csv"));
    EXPECT_EQ(window->ListBox1->count(), 0);
}

TEST_F(Lists, ColumnCopyTakesTheNameWithoutQuotes) {
    choose(0);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("before");
    window->Button1Click();
    EXPECT_EQ(clipboard->text(), QString()) << "nothing selected empties the clipboard";
    clickColumn(1);
    window->Button1Click();
    EXPECT_EQ(clipboard->text(), QStringLiteral("say \"hi\""));
    window->ListBox1->clearSelection();
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(1, 1), QPointF(1, 1), Qt::RightButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(window->ListBox1->viewport(), &release);
    EXPECT_FALSE(window->Button1->isEnabled());
}

namespace {

class Saving : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        folder.writeText("q~b.txt", "select 1;\n");
        folder.writeText("q~sales.txt", "select 2;\n");
        folder.writeText("q~z.txt", "select 3;\n");
        open();
    }
};

}  // namespace

TEST_F(Saving, OverwriteRewritesTheCurrentFileOnly) {
    choose(1);
    window->Memo2->setPlainText("select 22;\ncaption=x");
    window->BitBtn5Click(window->BitBtn5);
    EXPECT_EQ(folder.read("q~sales.txt"), QByteArray("select 22;\r\ncaption=x"));
    EXPECT_FALSE(popup->isVisible()) << "the popup shows what was loaded, not what was saved";
    EXPECT_FALSE(window->Timer1->isActive());
}

TEST_F(Saving, CopyRebuildsTheTabsOnceAQuarterSecondLater) {
    choose(2);
    window->Memo2->setPlainText("select 33;");
    window->BitBtn5Click(window->BitBtn6);
    window->BitBtn5Click(window->BitBtn6);  // same second: the same file, and no second rebuild
    EXPECT_EQ(folder.read("q~z_Dec07_2335_47.txt"), QByteArray("select 33;"));
    EXPECT_EQ(window->tbc1->count(), 3) << "the old list stands until the tick";
    EXPECT_TRUE(window->Timer1->isActive());
    EXPECT_EQ(window->Timer1->interval(), 250);

    int rebuilds = 0;
    QObject::connect(window->Timer1, &QTimer::timeout, [&] { ++rebuilds; });
    QTest::qWait(400);
    EXPECT_EQ(rebuilds, 1);
    EXPECT_EQ(window->tbc1->tabs(), (QStringList{"b", "sales", "z", "z_Dec07_2335_47"}));
    EXPECT_EQ(window->tbc1->currentIndex(), 2);
    EXPECT_EQ(window->currentQueryPath(), folder.file("q~z.txt")) << "nothing reloaded";
    EXPECT_EQ(window->Memo2->toPlainText(), QStringLiteral("select 33;"));
}

TEST_F(Saving, NothingHappensWithoutAnExistingCurrentFile) {
    window->BitBtn5Click(window->BitBtn6);  // nothing loaded yet
    choose(0);
    QFile::remove(folder.file("q~b.txt"));
    window->BitBtn5Click(window->BitBtn5);
    window->BitBtn5Click(window->BitBtn6);
    EXPECT_FALSE(QFile::exists(folder.file("q~b.txt")));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 2);
    EXPECT_FALSE(window->Timer1->isActive());
}

TEST_F(Saving, AFailedCopyIsReportedAndRebuildsNothing) {
    choose(0);
    errors.clear();  // these queries name no table file
    window->Memo2->setPlainText("select 11;");
    QFile::setPermissions(folder.file("q~b.txt"), QFileDevice::ReadOwner);
    guarded([&] { window->BitBtn5Click(window->BitBtn5); });
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].endsWith(QStringLiteral(" を作成できません."))) << errors[0].toStdString();
    EXPECT_EQ(folder.read("q~b.txt"), QByteArray("select 1;\n"));

    window->Memo2->setPlainText(QString::fromUtf8("select '\u00e9';"));
    guarded([&] { window->BitBtn5Click(window->BitBtn6); });  // the copy is CP932 like its source
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[1].contains(QStringLiteral("Shift_JIS で保存できません"))) << errors[1].toStdString();
    EXPECT_FALSE(window->Timer1->isActive());
}
