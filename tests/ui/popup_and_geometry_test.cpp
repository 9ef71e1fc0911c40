#include "ui/accelerator_text.h"
#include "ui/app_icon.h"
#include "ui/fitting_label.h"
#include "ui/window_layout.h"
#include "window_fixture.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>

TEST(NotePopupLayout, PlacedByTheMainWindowsLowerRightCorner) {
    EXPECT_EQ(layout::notePopupPosition(QRect(44, 14, 899, 610), 4), QPoint(713, 522));
    EXPECT_EQ(layout::notePopupPosition(QRect(1500, 900, 899, 610), 8), QPoint(2169, 1404)) << "never kept on screen";
}

TEST(NotePopupLayout, AmpersandIsAnAcceleratorMarker) {
    EXPECT_EQ(acceleratorDisplayText("&File && Edit"), QStringLiteral("File & Edit"));
    EXPECT_EQ(acceleratorDisplayText("end&"), QStringLiteral("end"));
    // What the label shows of its rich text: blanks kept, markup as written, "&" the only marker.
    const auto shown = [](const QString& note) {
        QTextDocument document;
        document.setHtml(acceleratorRichText(note));
        return document.toPlainText();
    };
    EXPECT_EQ(shown("&File && <b>x</b>"), QStringLiteral("File & <b>x</b>"));
    EXPECT_EQ(shown("a    b  \tc"), QStringLiteral("a    b  \tc"));
    EXPECT_EQ(shown("  lead\nnext line"), QStringLiteral("  lead\nnext line"));
}

// A count wider than the label is drawn smaller, never cut.
TEST(CountLabel, AWholeCountFitsInASmallerSize) {
    QFont font(QStringLiteral("Migu 1P"));
    font.setPixelSize(27);
    const QString count = QStringLiteral("1,234,567 件");
    const QFont fitted = fontToFit(font, count, 145);
    EXPECT_LE(QFontMetrics(fitted).horizontalAdvance(count), 145);
    EXPECT_EQ(fontToFit(font, QStringLiteral("3 件"), 145).pixelSize(), 27) << "a short count keeps the design's size";

    FittingLabel label;
    label.setFont(font);
    label.setAlignment(Qt::AlignCenter);
    label.setAutoFillBackground(true);
    label.setStyleSheet(QStringLiteral("background: white; color: black;"));
    label.resize(145, 40);
    for (const QString& text : {count, QStringLiteral("1,000,000 行"), QStringLiteral("12 列")}) {
        label.setText(text);
        const QImage image = label.grab().toImage();
        bool inked = false, edgeInked = false;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) inked = inked || image.pixelColor(x, y).lightness() < 128;
            edgeInked = edgeInked || image.pixelColor(0, y).lightness() < 128 ||
                        image.pixelColor(image.width() - 1, y).lightness() < 128;
        }
        EXPECT_TRUE(inked) << text.toStdString();
        EXPECT_FALSE(edgeInked) << "no glyph touches the label's edges: " << text.toStdString();
    }
}

TEST(WindowLayout, WidthsFollowTheOuterWidth) {
    EXPECT_EQ(layout::editorWidth(899), 787);
    EXPECT_EQ(layout::tabStripWidth(899), 749);
    EXPECT_EQ(layout::editorWidth(700), 588);
    EXPECT_EQ(layout::tabStripWidth(700), 550);
    EXPECT_EQ(layout::rightColumnShift(4), 0);
    EXPECT_EQ(layout::rightColumnShift(3), 0);
    EXPECT_EQ(layout::rightColumnShift(8), 6);
}

namespace {

class Popup : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        folder.writeText("q~n.txt", "select 1;\nnote=only a note\n");
        folder.writeText("q~c.txt", "select 1;\ncaption=only a caption\n");
        folder.writeText("q~x.txt", "select 1;\n");
        open();
    }
};

}  // namespace

TEST_F(Popup, HasItsDesignedLook) {
    EXPECT_EQ(popup->size(), QSize(342, 116));
    EXPECT_TRUE(popup->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(popup->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_NEAR(popup->windowOpacity(), 225.0 / 255.0, 0.01);
    EXPECT_EQ(popup->Label1->geometry(), QRect(0, 0, 342, 22));
    EXPECT_EQ(popup->Label2->geometry(), QRect(10, 22, 322, 94));
    EXPECT_EQ(popup->palette().color(QPalette::Window), QColor(203, 203, 235));
    EXPECT_EQ(popup->Label1->palette().color(QPalette::Window), QColor(223, 223, 255));
    EXPECT_EQ(popup->pos(), layout::notePopupPosition(window->outerBounds(), 4));
}

TEST_F(Popup, ShowsForACaptionOrANoteAndKeepsItsPlace) {
    choose(0);  // c: caption only
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->caption(), QStringLiteral("only a caption"));
    popup->move(100, 100);  // dropped there by the user
    choose(1);              // n: note only
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->caption(), QString());
    EXPECT_EQ(popup->note(), QStringLiteral("only a note"));
    EXPECT_EQ(popup->pos(), QPoint(100, 100));
    choose(2);
    EXPECT_FALSE(popup->isVisible());
    choose(0);
    EXPECT_EQ(popup->pos(), QPoint(100, 100)) << "showing does not re-place it";
}

TEST_F(Popup, RightButtonStartsNoDrag) {
    EXPECT_FALSE(popup->Label1MouseDown(Qt::RightButton, QPointF(5, 5)));
    EXPECT_TRUE(popup->Label1MouseDown(Qt::LeftButton, QPointF(5, 5)));
}

// Once shown, the window is measured with the frame the window system reports
// (this platform's, here), not the one assumed before.
TEST_F(Popup, AShownWindowIsMeasuredWithItsRealFrame) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    choose(2);
    window->WMExitSizeMove();
    const QRect outer = window->frameGeometry();
    EXPECT_EQ(window->outerBounds(), outer);
    EXPECT_EQ(window->minimumSize() + (outer.size() - window->size()), QSize(700, 550));
    EXPECT_EQ(popup->pos(), layout::notePopupPosition(outer, window->frameWidth()));
}

TEST_F(Popup, HiddenPopupFollowsTheMainWindowAfterAMove) {
    choose(0);
    popup->move(100, 100);
    window->setFrameWidthForTesting(4);
    window->WMExitSizeMove();
    EXPECT_EQ(popup->pos(), QPoint(100, 100)) << "a visible popup stays";
    choose(2);
    window->move(200, 50);
    window->WMExitSizeMove();
    EXPECT_EQ(popup->pos(), layout::notePopupPosition(window->outerBounds(), 4));
}

namespace {
class Geometry : public WindowTest {};
}

TEST_F(Geometry, DesignLayoutAndResizeRule) {
    open();
    window->show();
    EXPECT_EQ(window->Memo2->geometry(), QRect(50, 0, 787, 170));
    EXPECT_EQ(window->tbc1->geometry(), QRect(80, 2, 749, 26));
    EXPECT_EQ(window->BitBtn1->geometry(), QRect(428, 146, 52, 22));
    EXPECT_EQ(window->ListBox1->geometry(), QRect(738, 10, 145, 201));
    EXPECT_EQ(window->Memo1->geometry(), QRect(0, 0, 726, 385));
    window->resize(700 - 8, 600);
    EXPECT_EQ(window->Memo2->width(), 588);
    EXPECT_EQ(window->tbc1->width(), 550);
    EXPECT_EQ(window->ListBox1->x(), 692 - 153);
    EXPECT_EQ(window->BitBtn4->x(), 692 - (891 - 587));
    EXPECT_EQ(window->Memo1->height(), 600 - 196);
}

TEST_F(Geometry, RightColumnShiftsOnlyForWideFrames) {
    open();
    window->applyStartupGeometry(8);
    for (QWidget* w : {static_cast<QWidget*>(window->ListBox1), static_cast<QWidget*>(window->ListBox2),
                       static_cast<QWidget*>(window->Button1), static_cast<QWidget*>(window->LblKENSUU)})
        EXPECT_EQ(w->x(), 732) << w->objectName().toStdString();
    EXPECT_EQ(window->LblKENSUU->palette().color(QPalette::Window), QColor(183, 225, 185));
    EXPECT_EQ(window->LblKENSUU->palette().color(QPalette::WindowText), QColor(43, 65, 35));
}

TEST_F(Geometry, MarginsStayAfterAResize) {
    open();
    window->show();
    window->resize(1000, 700);
    struct Exposed : QPlainTextEdit {
        using QPlainTextEdit::viewportMargins;
    };
    EXPECT_EQ(static_cast<Exposed*>(window->Memo2)->viewportMargins(), QMargins(8, 6, 53, 2));
    EXPECT_EQ(window->Memo1->textMargins(), QMargins(2, 3, 3, 2));
}

TEST_F(Geometry, CopyButtonsCopyTheirOwnPane) {
    open();
    window->Memo2->setPlainText("sql\nline");
    window->Memo1->setPlainText("result");
    QClipboard* clipboard = QGuiApplication::clipboard();
    window->BitBtn3Click(window->BitBtn3);
    EXPECT_EQ(clipboard->text(), QStringLiteral("sql\r\nline"));
    window->BitBtn3Click(window->BitBtn4);
    EXPECT_EQ(clipboard->text(), QStringLiteral("result"));
    window->Memo1->clear();
    window->BitBtn3Click(window->BitBtn4);
    EXPECT_EQ(clipboard->text(), QString());
    window->BitBtn3Click(window->BitBtn5);  // any other button copies nothing
    EXPECT_EQ(clipboard->text(), QString());
}

TEST_F(Geometry, HoverOverRunButtonTakesTheFocus) {
    open();
    window->show();
    QApplication::setActiveWindow(window.get());
    window->Memo2->setFocus();
    ASSERT_TRUE(window->Memo2->hasFocus());
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), QPointF(3, 3), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window->BitBtn1, &move);
    EXPECT_TRUE(window->BitBtn1->hasFocus());
}

TEST_F(Geometry, RightClickOnTheTitleBarMinimises) {
    open();
    window->show();
    EXPECT_FALSE(window->WMNCRButtonDown(17));  // the sizing frame: nothing
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->WMNCRButtonDown(2));
    EXPECT_TRUE(window->isMinimized());
}

// Minimised, the program leaves no popup alone on the screen; restored, the
// popup stands where the user had put it, and a hidden one stays hidden.
TEST_F(Popup, GoesAndComesBackWithTheMinimisedWindow) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    choose(0);
    ASSERT_TRUE(popup->isVisible());
    popup->move(120, 130);
    EXPECT_TRUE(window->WMNCRButtonDown(2));
    EXPECT_FALSE(popup->isVisible());
    window->showNormal();
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->pos(), QPoint(120, 130));

    choose(2);  // no caption, no note
    window->showMinimized();
    window->showNormal();
    EXPECT_FALSE(popup->isVisible());
}

// The icon file the Windows build puts into tarlo.exe: every size the
// window's icon has, each a PNG of the same drawing.
TEST(AppIcon, TheIconFileHoldsTheWindowsDrawingAtEverySize) {
    const QByteArray file = tarloIconFile();
    auto u16 = [&](qsizetype at) { return int(uchar(file[at])) | int(uchar(file[at + 1])) << 8; };
    auto u32 = [&](qsizetype at) { return qint64(u16(at)) | qint64(u16(at + 2)) << 16; };
    ASSERT_GE(file.size(), 6);
    EXPECT_EQ(u16(0), 0);
    EXPECT_EQ(u16(2), 1) << "an icon, not a cursor";
    const int count = u16(4);
    EXPECT_EQ(count, 7);
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = 6 + 16 * i;
        const int size = uchar(file[entry]) == 0 ? 256 : uchar(file[entry]);
        const qint64 length = u32(entry + 8), offset = u32(entry + 12);
        ASSERT_LE(offset + length, file.size());
        QImage image;
        ASSERT_TRUE(image.loadFromData(file.mid(offset, length), "PNG")) << size;
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(image.convertToFormat(QImage::Format_ARGB32), tarloIconImage(size).convertToFormat(QImage::Format_ARGB32))
            << size;
    }
}
