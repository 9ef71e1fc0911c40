#include <QElapsedTimer>
#include <sys/stat.h>
#include "window_fixture.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

class QueryTabs : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        folder.writeText("q~a.txt", "select * from t#csv;\r\ncaption=Title\r\n");
        folder.writeText("q~b.txt", "select * from t#csv;\r\n");
        folder.writeText("q~c.txt", "select * from u#csv;\r\ncaption=\r\nnote=\r\n");
        folder.writeText("t.csv", "id,name\r\n1,x\r\n");
        folder.writeText("u.csv", "k\r\n");
    }

    // Turns the wheel with the pointer at (x, y) relative to the tab panel.
    void wheel(int delta, int x, int y, QWidget* over = nullptr) {
        const QPoint outer = window->outerBounds().topLeft();
        const QPointF global(outer.x() + window->Panel2->x() + x, outer.y() + window->Panel2->y() + y);
        QWidget* target = over ? over : window->Memo1;
        QWheelEvent event(target->mapFromGlobal(global), global, QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    }
};

}  // namespace

TEST_F(QueryTabs, StartsWithNoTabSelectedAndNothingLoaded) {
    open();
    EXPECT_EQ(window->tbc1->tabs(), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(window->tbc1->currentIndex(), -1);
    EXPECT_TRUE(window->Memo2->toPlainText().isEmpty());
    EXPECT_TRUE(window->currentQueryPath().isEmpty());
    EXPECT_TRUE(window->windowTitle().isEmpty());
    EXPECT_FALSE(window->Button1->isEnabled());
    EXPECT_TRUE(window->LblKENSUU->isHidden());
    EXPECT_EQ(window->ListBox1->count() + window->ListBox2->count(), 0);
    EXPECT_FALSE(popup->isVisible());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(QueryTabs, ChoosingATabLoadsTheFileAndSetsThePopup) {
    open();
    choose(0);
    EXPECT_EQ(window->currentQueryPath(), folder.file("q~a.txt"));
    EXPECT_EQ(window->Memo2->toPlainText(), QStringLiteral("select * from t#csv;\ncaption=Title\n"));
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->caption(), QStringLiteral("Title"));
    EXPECT_EQ(popup->note(), QString());

    choose(2);  // both values empty
    EXPECT_FALSE(popup->isVisible());
    choose(1);  // neither line
    EXPECT_FALSE(popup->isVisible());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(QueryTabs, MissingFileEmptiesTheEditorAndKeepsThePopup) {
    open();
    choose(0);
    QFile::remove(folder.file("q~b.txt"));
    choose(1);
    EXPECT_EQ(window->currentQueryPath(), folder.file("q~b.txt"));
    EXPECT_TRUE(window->Memo2->toPlainText().isEmpty());
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->caption(), QStringLiteral("Title"));
    EXPECT_EQ(window->recentTables().entries(), QStringList{"t.csv"});
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(QueryTabs, UnreadableFileIsReportedAndChangesNothingElse) {
    QFile::link(QString::fromLatin1(unreadableFilePath()), folder.file("q~bad.txt"));
    open();
    choose(0);
    choose(window->tbc1->tabs().indexOf("bad"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("ファイル \"%1\". ").arg(folder.file("q~bad.txt"))));
    EXPECT_TRUE(errors[0].endsWith(QStringLiteral(" は開けません."))) << errors[0].toStdString();
    EXPECT_EQ(window->currentQueryPath(), folder.file("q~bad.txt"));
    EXPECT_TRUE(window->Memo2->toPlainText().startsWith(QStringLiteral("select * from t#csv;")));
}

TEST_F(QueryTabs, AFifoOrAHugeQueryFileIsRefusedAtOnce) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.file("q~pipe.txt")).constData(), 0600), 0);
    const QString huge = folder.write("q~huge.txt", "select 1;");
    ASSERT_TRUE(QFile::resize(huge, qint64(1) << 30));  // sparse: a gigabyte of NULs to read
    open();
    QElapsedTimer clock;
    clock.start();
    choose(window->tbc1->tabs().indexOf("pipe"));
    choose(window->tbc1->tabs().indexOf("huge"));
    EXPECT_LT(clock.elapsed(), 2000);
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("通常のファイルではありません"))) << errors[0].toStdString();
    EXPECT_TRUE(errors[1].contains(QStringLiteral("ファイルが大きすぎます (16 MB まで) は開けません"))) << errors[1].toStdString();
}

TEST_F(QueryTabs, WheelMovesOneTabNeverWrapsAndNeverScrolls) {
    QString many;
    for (int i = 0; i < 200; ++i) many += QStringLiteral("line %1\n").arg(i);
    open();
    window->Memo1->setPlainText(many);
    QScrollBar* bar = window->Memo1->verticalScrollBar();

    wheel(120, 10, 150);  // no tab selected: the second, whichever way
    EXPECT_EQ(window->tbc1->currentIndex(), 1);
    EXPECT_EQ(window->currentQueryPath(), folder.file("q~b.txt"));
    wheel(-1200, 10, 150);
    EXPECT_EQ(window->tbc1->currentIndex(), 0);
    wheel(-120, 10, 150);  // already first
    EXPECT_EQ(window->tbc1->currentIndex(), 0);
    wheel(120, 10, 10);  // upper part, inside the tab panel
    EXPECT_EQ(window->tbc1->currentIndex(), 1);
    wheel(120, 10, -100);  // upper part, outside the tab panel
    EXPECT_EQ(window->tbc1->currentIndex(), 1);
    wheel(0, 10, 150);  // zero counts as towards the end
    EXPECT_EQ(window->tbc1->currentIndex(), 2);
    wheel(120, 5000, 150, window->Memo2);  // last tab, any x below the buttons' top
    EXPECT_EQ(window->tbc1->currentIndex(), 2);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(QueryTabs, WheelWithOneTabAndNoneSelectedDoesNothing) {
    TempFolder single;
    single.writeText("q~only.txt", "select 1;");
    window = std::make_unique<Ttarlo1>(Ttarlo1::Environment{single.path(), clock});
    wheel(-120, 10, 150);
    EXPECT_EQ(window->tbc1->currentIndex(), -1);
    EXPECT_TRUE(window->Memo2->toPlainText().isEmpty());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(QueryTabs, ClosingWritesTheShortcutAndAlwaysCloses) {
    open();
    QCloseEvent close;
    QApplication::sendEvent(window.get(), &close);
    EXPECT_TRUE(close.isAccepted());
    EXPECT_EQ(folder.read("PRODUCTS.url"),
              QByteArray("[InternetShortcut]\r\nURL=" TARLO_TEST_PRODUCT_URL "\r\n"));

    window = std::make_unique<Ttarlo1>(Ttarlo1::Environment{unwritableFolder(), clock});
    QCloseEvent refused;
    QApplication::sendEvent(window.get(), &refused);
    EXPECT_TRUE(refused.isAccepted());
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], unwritableFolder() + QStringLiteral("PRODUCTS.url に書き込めません."));
}
