#include "ui/main_window.h"

#include "ui/fitting_label.h"
#include "ui/x11_window.h"

#include "ui/error_report.h"
#include "ui/note_popup.h"
#include "ui/result_view.h"
#include "ui/run_controller.h"
#include "platform/bell.h"
#include "ui/run_texts.h"
#include "workspace/statement_text.h"
#include "ui/tab_strip.h"
#include "ui/window_layout.h"
#include "workspace/products_shortcut.h"
#include "workspace/query_file.h"
#include "workspace/query_save.h"
#include "csv/table_file.h"
#include "workspace/table_header.h"
#include "platform/text_lines.h"
#include "platform/file_io.h"
#include "platform/program_folder.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QShortcut>
#include <QWheelEvent>

#ifdef Q_OS_WIN
#include "ui/win32_application_window.h"
#include "ui/win32_window.h"

#include <windows.h>
#endif

namespace {

// Design families first, then faces that Debian has, so the Japanese
// captions render everywhere.
QFont designFont(std::initializer_list<const char*> families, int pixelSize, bool bold = false) {
    QStringList names;
    for (const char* f : families) names << QString::fromUtf8(f);
    names << QStringLiteral("IPAPGothic") << QStringLiteral("Noto Sans CJK JP");
    QFont font;
    font.setFamilies(names);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

const QFont& windowFont() {
    static const QFont font = designFont({"ＭＳ Ｐゴシック", "MS PGothic"}, 12);
    return font;
}

void setColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

// Draws list items with their TABs expanded to tab stops, as a Windows list
// box does, so column names line up after their ordinals.
class TabStopDelegate : public QStyledItemDelegate {
public:
    TabStopDelegate(qreal tabDistance, QObject* parent) : QStyledItemDelegate(parent), tabDistance_(tabDistance) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        opt.widget->style()->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        QTextOption textOption(Qt::AlignLeft | Qt::AlignVCenter);
        textOption.setTabStopDistance(tabDistance_);
        textOption.setWrapMode(QTextOption::NoWrap);
        painter->save();
        painter->setPen(opt.palette.color(opt.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                            : QPalette::Text));
        painter->drawText(QRectF(opt.rect.adjusted(2, 0, 0, 0)), text, textOption);
        painter->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), 12};
    }

private:
    qreal tabDistance_;
};

// A dialog unit is a quarter of the font's average character width.
qreal dialogUnits(const QFontMetricsF& metrics, int units) {
    const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const qreal average = metrics.horizontalAdvance(sample) / sample.size();
    return units * average / 4.0;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFont(designFont({"ＭＳ Ｐゴシック", "MS PGothic"}, 13, true));
    button->setFocusPolicy(Qt::StrongFocus);
    button->setAutoDefault(false);
    return button;
}

QListWidget* makeList(QWidget* parent, const char* name) {
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setFont(windowFont());
    list->setFocusPolicy(Qt::ClickFocus);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setUniformItemSizes(true);
    return list;
}

}  // namespace

Ttarlo1::Ttarlo1(Environment environment)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      programFolder_(std::move(environment.programFolder)),
      clock_(environment.clock ? environment.clock : std::make_shared<tarlo::SystemClock>()) {
    setObjectName(QStringLiteral("tarlo1"));
    setFont(windowFont());
    resize(layout::kDesignClientWidth, layout::kDesignClientHeight);
#ifdef Q_OS_WIN
    // The outer corner at (44, 14) under the frame Windows draws for the
    // tool window, known once the style is set.
    win32::makeSizeableToolWindow(this);
    win32::moveOuterTo(this, QPoint(44, 14));
    applicationWindow_ = std::make_unique<win32::ApplicationWindow>(
        tarlo::applicationTitle(tarlo::executablePath()),
        win32::ApplicationWindow::Handlers{[this] { popupLeavesWithTheWindow(); },
                                           [this] { popupReturnsWithTheWindow(); },
                                           [this] {
                                               if (isVisible()) activateWindow();
                                           },
                                           [this] { close(); }});
#else
    move(44, 14);
#endif
    applyOuterMinimumSize();
    setCaption(QString());
    createControls();
    qApp->installEventFilter(this);
    FormCreate();
}

Ttarlo1::~Ttarlo1() {
    runs_->stop();
    qApp->removeEventFilter(this);
}

void Ttarlo1::createControls() {
    LblKENSUU = new FittingLabel(this);  // counts of millions in the fallback face
    LblKENSUU->setObjectName(QStringLiteral("LblKENSUU"));
    LblKENSUU->setFont(designFont({"Migu 1P"}, 27));
    LblKENSUU->setAlignment(Qt::AlignCenter);
    LblKENSUU->setAutoFillBackground(true);
    LblKENSUU->hide();

    Memo1 = new ResultView(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setFont(designFont({"ＭＳ ゴシック", "MS Gothic", "IPAGothic", "Noto Sans Mono CJK JP"}, 12));
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setAutoFillBackground(true);
    setColour(Panel1, QPalette::Window, QColor(160, 160, 164));

    Memo2 = new QPlainTextEdit(Panel1);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setFont(designFont({"Tahoma Bold", "Tahoma", "DejaVu Sans"}, 16));
    Memo2->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo2->setFocusPolicy(Qt::ClickFocus);
    Memo2->setAutoFillBackground(true);
    for (QWidget* w : {static_cast<QWidget*>(Memo2), Memo2->viewport()}) {
        setColour(w, QPalette::Base, QColor(255, 251, 240));
        setColour(w, QPalette::Window, QColor(255, 251, 240));
    }
    Memo2->setGeometry(0, 0, layout::kDesignClientWidth, 170);

    BitBtn5 = makeButton(Panel1, "BitBtn5", "上書");
    BitBtn6 = makeButton(Panel1, "BitBtn6", "別保存");
    BitBtn1 = makeButton(Panel1, "BitBtn1", "！");
    BitBtn2 = makeButton(Panel1, "BitBtn2", "全＊");
    BitBtn3 = makeButton(Panel1, "BitBtn3", "下ｺﾋﾟ");
    BitBtn4 = makeButton(Panel1, "BitBtn4", "上ｺﾋﾟ");
    BitBtn1->setMouseTracking(true);
    setTabOrder(BitBtn1, BitBtn2);
    setTabOrder(BitBtn2, BitBtn3);
    setTabOrder(BitBtn3, BitBtn4);
    setTabOrder(BitBtn4, BitBtn5);
    setTabOrder(BitBtn5, BitBtn6);

    ListBox1 = makeList(this, "ListBox1");
    ListBox1->setItemDelegate(new TabStopDelegate(dialogUnits(QFontMetricsF(windowFont()), 5), ListBox1));

    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setAutoFillBackground(true);
    setColour(Panel2, QPalette::Window, QColor(160, 160, 164));

    tbc1 = new TabStrip(Panel2);
    tbc1->setObjectName(QStringLiteral("tbc1"));
    QFont tabFont = designFont({"Georgia", "DejaVu Serif"}, 11);
    tbc1->setFont(tabFont);
    setColour(tbc1, QPalette::WindowText, Qt::black);
    tbc1->setGeometry(0, 0, 892, 26);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    n1 = PopupMenu1->addAction(QStringLiteral("全＊"));
    n1->setObjectName(QStringLiteral("n1"));
    n2 = PopupMenu1->addAction(QStringLiteral("！"));
    n2->setObjectName(QStringLiteral("n2"));

    ListBox2 = makeList(this, "ListBox2");
    ListBox2->setItemDelegate(new TabStopDelegate(dialogUnits(QFontMetricsF(windowFont()), 8), ListBox2));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    Timer1->setInterval(250);

    Button1 = new QPushButton(QStringLiteral("列名ｺﾋﾟｰ"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFont(windowFont());
    Button1->setFocusPolicy(Qt::NoFocus);
    Button1->setEnabled(false);

    runs_ = new RunController(this);
    connect(runs_, &RunController::progressed, this, &Ttarlo1::showRunProgress);
    connect(runs_, &RunController::finished, this, &Ttarlo1::finishRun);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &Ttarlo1::cancelRun);

    sizeMoveSettled_ = new QTimer(this);
    sizeMoveSettled_->setSingleShot(true);
    sizeMoveSettled_->setInterval(200);

    // Every handler runs under the application's error report.
    auto on = [this](auto* source, auto signal, auto handler) {
        connect(source, signal, this, [handler] { guarded(handler); });
    };
    on(tbc1, &TabStrip::tabChanged, [this] { tbc1Change(); });
    connect(tbc1, &TabStrip::mouseReleased, this,
            [this](Qt::MouseButton b, QPoint p) { guarded([&] { tbc1MouseUp(b, p); }); });
    on(BitBtn1, &QPushButton::clicked, [this] { n2Click(BitBtn1); });
    on(n2, &QAction::triggered, [this] { n2Click(n2); });
    on(BitBtn2, &QPushButton::clicked, [this] { n1Click(); });
    on(n1, &QAction::triggered, [this] { n1Click(); });
    for (QPushButton* b : {BitBtn3, BitBtn4}) on(b, &QPushButton::clicked, [this, b] { BitBtn3Click(b); });
    for (QPushButton* b : {BitBtn5, BitBtn6}) on(b, &QPushButton::clicked, [this, b] { BitBtn5Click(b); });
    on(Timer1, &QTimer::timeout, [this] { Timer1Timer(); });
    on(Button1, &QPushButton::clicked, [this] { Button1Click(); });
    on(sizeMoveSettled_, &QTimer::timeout, [this] { WMExitSizeMove(); });

    layoutAnchored();
    BitBtn1->setFocus();
}

void Ttarlo1::FormCreate() {
    // A failure skips the rest of the sequence; the window opens all the same.
    guarded([this] {
        SetResultTabStops();
        applyStartupGeometry(frameWidth());
        ScanQueryFiles(programFolder_);
        tbc1->setCurrentIndex(-1);
    });
    FormResize();
}

// ---- geometry ------------------------------------------------------------

int Ttarlo1::frameWidth() const {
    if (frameWidthOverride_ >= 0) return frameWidthOverride_;
#ifdef Q_OS_WIN
    return win32::sizingFrameWidth();
#endif
    if (!testAttribute(Qt::WA_Mapped)) return layout::kDefaultFrameWidth;
    return (frameGeometry().width() - width()) / 2;
}

QRect Ttarlo1::outerBounds() const {
#ifdef Q_OS_WIN
    return win32::outerBounds(this);
#endif
    // Once shown, the frame the window system reports, and none where it draws none.
    if (testAttribute(Qt::WA_Mapped)) return frameGeometry();
    // Not shown yet: the design's frame of 4 and a title bar of 25.
    const int f = layout::kDefaultFrameWidth;
    return QRect(frameGeometry().topLeft(), size() + QSize(2 * f, 2 * f + 21));
}

void Ttarlo1::applyStartupGeometry(int frame) {
    rightColumnLeft_ = 738 - layout::rightColumnShift(frame);
    LblKENSUU->setAutoFillBackground(true);
    setColour(LblKENSUU, QPalette::Window, QColor(183, 225, 185));
    setColour(LblKENSUU, QPalette::WindowText, QColor(43, 65, 35));
    // The editor leaves its client layout at left 50; the tab strip takes
    // the tab panel's width at left 80, 2 pixels down.
    Memo2->setGeometry(50, 0, Memo2->width(), 170);
    tbc1->setGeometry(80, 2, Panel2->width(), 26);
    layoutAnchored();
}

// The design's alignment and anchors: bottom panels, a result pane that
// fills the height above them, a right column that keeps its distance to
// the right edge, buttons anchored right and bottom.
void Ttarlo1::layoutAnchored() {
    const int w = width();
    const int h = height();
    Panel1->setGeometry(0, h - 170, w, 170);
    Panel2->setGeometry(0, h - 196, w, 26);
    Memo1->setGeometry(0, 0, w - (layout::kDesignClientWidth - 726), h - 196);
    const int column = w - (layout::kDesignClientWidth - rightColumnLeft_);
    ListBox1->setGeometry(column, 10, 145, 201);
    Button1->setGeometry(column, 195, 145, 20);
    ListBox2->setGeometry(column, 225, 145, 61);
    LblKENSUU->setGeometry(column, 295, 145, 40);
    const std::pair<QPushButton*, int> buttons[] = {{BitBtn5, 322}, {BitBtn6, 375}, {BitBtn1, 428},
                                                    {BitBtn2, 481}, {BitBtn3, 534}, {BitBtn4, 587}};
    for (const auto& [button, designLeft] : buttons)
        button->setGeometry(w - (layout::kDesignClientWidth - designLeft), 146, 52, 22);
}

void Ttarlo1::FormResize() {
    const int outerWidth = outerBounds().width();
    Memo2->resize(layout::editorWidth(outerWidth), Memo2->height());
    tbc1->resize(layout::tabStripWidth(outerWidth), tbc1->height());
    SetMemoMargins(Memo1, 3, 2, 0);
    SetMemoMargins(Memo2, 6, 8, 50);
}

void Ttarlo1::SetResultTabStops() {
    Memo1->setTabStopDistance(dialogUnits(QFontMetricsF(Memo1->font()), 8));
}

void Ttarlo1::SetMemoMargins(QWidget* memo, int top, int left, int right) {
    const QMargins margins(left, top, right + 3, 2);
    if (auto* pane = qobject_cast<ResultView*>(memo)) return pane->setTextMargins(margins);
    auto* editor = qobject_cast<QPlainTextEdit*>(memo);
    editor->document()->setDocumentMargin(0);
    // Viewport margins are inside the memo's border and scroll bars, like
    // the formatting rectangle they stand for.
    struct Exposed : QPlainTextEdit {
        using QPlainTextEdit::setViewportMargins;
    };
    static_cast<Exposed*>(editor)->setViewportMargins(margins);
}

// The smallest window is 700 x 550 outside, whatever frame the window system draws.
void Ttarlo1::applyOuterMinimumSize() {
#ifdef Q_OS_WIN
    return;  // Windows asks for it (WM_GETMINMAXINFO), outer size and all
#endif
    const QRect outer = outerBounds();
    setMinimumSize(kMinimumOuter - (outer.size() - size()));
}

void Ttarlo1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Making the native window (on Windows, at a high DPI) can resize it
    // before the controls exist; they are laid out once made.
    if (!Panel1) return;
    layoutAnchored();
    FormResize();
    if (isVisible()) settleSizeMove();
}

void Ttarlo1::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (isVisible()) settleSizeMove();
}

// X11 does not report the end of a move or resize: a pause of 200 ms stands
// for it. Windows sends WM_EXITSIZEMOVE, handled in nativeEvent.
void Ttarlo1::settleSizeMove() {
#ifndef Q_OS_WIN
    sizeMoveSettled_->start();
#endif
}

void Ttarlo1::WMExitSizeMove() {
    applyOuterMinimumSize();
    if (tarlo2_ && !tarlo2_->isVisible()) tarlo2_->PlaceNotePopup(outerBounds(), frameWidth());
}

bool Ttarlo1::WMNCRButtonDown(int hitTestCode) {
    constexpr int kCaption = 2;
    if (hitTestCode != kCaption) return false;
#ifdef Q_OS_WIN
    // The application window is what minimises; the windows it owns leave
    // the screen with it and its button stays on the task bar.
    if (!applicationWindow_->isMinimized()) applicationWindow_->minimize();
#else
    if (!isMinimized()) showMinimized();  // the popup goes with it (changeEvent)
#endif
    return true;
}

#ifdef Q_OS_WIN
bool Ttarlo1::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    auto* msg = static_cast<MSG*>(message);
    if (eventType == "windows_generic_MSG" && msg->message == WM_NCRBUTTONDOWN) {
        WMNCRButtonDown(static_cast<int>(msg->wParam));
        *result = 0;
        return true;
    }
    if (eventType == "windows_generic_MSG" && msg->message == WM_EXITSIZEMOVE) WMExitSizeMove();
    if (eventType == "windows_generic_MSG" && win32::answerMinimumSize(message, kMinimumOuter)) {
        *result = 0;
        return true;
    }
    return QWidget::nativeEvent(eventType, message, result);
}
#endif

// ---- query tabs ----------------------------------------------------------

void Ttarlo1::ScanQueryFiles(const QString& folder) {
    if (const std::optional<QStringList> names = tarlo::scanQueryFiles(folder)) tbc1->setTabs(*names);
}

QString Ttarlo1::LoadQueryFile() {
    memo2Hint_ = tarlo::queryFilePath(programFolder_, tbc1->tabText(tbc1->currentIndex()));
    const tarlo::QueryFile file = tarlo::readQueryFile(memo2Hint_);
    if (!file.exists) return {};
    Memo2->setPlainText(file.lines.join(QLatin1Char('\n')));
    if (tarlo2_) tarlo2_->showTexts(file.caption, file.note);
    return tarlo::joinLinesCrLf(file.lines);
}

void Ttarlo1::tbc1Change() {
    if (tbc1->currentIndex() < 0) return;
    const QString text = LoadQueryFile();
    Memo2->setPlainText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    if (tarlo::trimControl(text).isEmpty()) return;
    if (!FieldListKousin()) return;
    ListBox1->clear();
    ReadTableHeader(recentTables_.top());
}

bool Ttarlo1::FieldListKousin() {
    const QString name = tarlo::tableNameFromQuery(tarlo::withCrLf(Memo2->toPlainText()));
    const bool changed = recentTables_.touch(name);
    ListBox2->clear();
    ListBox2->addItems(recentTables_.entries());
    return changed;
}

void Ttarlo1::ReadTableHeader(const QString& tableName) {
    const QString path = tarlo::resolveTableFile(programFolder_, tableName);
    ListBox1->addItems(tarlo::readTableHeader(path));
}

void Ttarlo1::FormMouseWheel(int wheelDelta, QPointF globalPos) {
    const int n = tbc1->count();
    if (n == 0) return;
    const QPoint outer = outerBounds().topLeft();
    const int x = qRound(globalPos.x()) - outer.x() - Panel2->x();
    const int y = qRound(globalPos.y()) - outer.y() - Panel2->y();
    if (y < BitBtn1->y() && !Panel2->rect().contains(x, y)) return;
    BitBtn1->setFocus();
    const int i = tbc1->currentIndex();
    int next;
    if (i == -1) next = 1;  // the second tab, whichever way the wheel turns
    else if (wheelDelta < 0) next = i - 1;
    else next = i + 1;
    if (next < 0 || next >= n) return;
    tbc1->setCurrentIndex(next);
    tbc1Change();
}

// ---- column list ---------------------------------------------------------

void Ttarlo1::ListBox1MouseUp() {
    Button1->setEnabled(ListBox1->currentRow() >= 0 && ListBox1->currentItem()->isSelected());
}

void Ttarlo1::Button1Click() {
    QListWidgetItem* item = ListBox1->currentItem();
    const QString text = item && item->isSelected() ? tarlo::columnNameForCopy(item->text()) : QString();
    QGuiApplication::clipboard()->setText(text);
}

// ---- clipboard, focus, menu ---------------------------------------------

void Ttarlo1::BitBtn3Click(QObject* sender) {
    const QString name = sender ? sender->objectName() : QString();
    const QChar which = name.size() >= 7 ? name.at(6) : QChar();
    QString text;
    if (which == QLatin1Char('3')) text = tarlo::withCrLf(Memo2->toPlainText());
    else if (which == QLatin1Char('4')) text = Memo1->lines().joinedText();
    else return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(text);
    if (clipboard->text() != text) throw tarlo::Error(QStringLiteral("クリップボードを開くことができません"));
}

void Ttarlo1::BitBtn1MouseMove(unsigned long userTime) {
    if (!x11::isActive(this)) x11::activate(this, userTime);
    BitBtn1->setFocus(Qt::MouseFocusReason);
}

// The title bar shows caption, an empty one empty; the task bar always the program's name.
void Ttarlo1::setCaption(const QString& caption) {
#ifdef Q_OS_WIN
    win32::setCaption(this, caption);
#else
    x11::setCaption(this, caption, tarlo::applicationTitle(tarlo::executablePath()));
#endif
}

void Ttarlo1::setNotePopup(Ttarlo2* popup) {
    tarlo2_ = popup;
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), popup);
    connect(escape, &QShortcut::activated, this, &Ttarlo1::cancelRun);
}

// The program is minimised as a whole: the popup leaves the screen with the
// window and comes back where it stood, without taking the activation.
void Ttarlo1::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    if (isMinimized()) popupLeavesWithTheWindow();
    else popupReturnsWithTheWindow();
}

void Ttarlo1::popupLeavesWithTheWindow() {
    if (tarlo2_ && tarlo2_->isVisible()) {
        popupHiddenWhileMinimized_ = true;
        tarlo2_->hide();
    }
}

void Ttarlo1::popupReturnsWithTheWindow() {
    if (tarlo2_ && popupHiddenWhileMinimized_) {
        popupHiddenWhileMinimized_ = false;
        tarlo2_->showAgain();
    }
}

void Ttarlo1::setVisible(bool visible) {
#ifdef Q_OS_WIN
    if (visible) applicationWindow_->show();
#endif
    QWidget::setVisible(visible);
#ifdef Q_OS_WIN
    if (visible) applicationWindow_->own(this);
#endif
}

void Ttarlo1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setCaption(windowTitle());  // the window now exists on the window system
}

void Ttarlo1::tbc1MouseUp(Qt::MouseButton, QPoint) {
    PopupMenu1->popup(QCursor::pos() - QPoint(40, 55));
}

void Ttarlo1::n1Click() {
    n2Click(nullptr);
}

QString Ttarlo1::GetStatementText() const {
    return tarlo::statementOf(tarlo::withCrLf(Memo2->toPlainText()));
}

void Ttarlo1::n2Click(QObject* sender) {
    if (runs_->isRunning()) return cancelRun();  // one run at a time: a second press stops the first
    if (recentTables_.isEmpty()) return;
    const QString statement = sender ? GetStatementText() : QStringLiteral("SELECT * FROM ") + recentTables_.top();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    labelBeforeRun_ = LblKENSUU->text();
    runs_->start(programFolder_, statement + QStringLiteral("\r\n"));
}

void Ttarlo1::cancelRun() {
    runs_->cancel();
}

bool Ttarlo1::isRunning() const {
    return runs_->isRunning();
}

bool Ttarlo1::leftARunBehind() const {
    return runs_->hasLooseRuns();
}

void Ttarlo1::setProgressDelayForTesting(int ms) {
    runs_->setProgressDelay(ms);
}

void Ttarlo1::setResultMemoryBudgetForTesting(size_t bytes) {
    runs_->setMemoryBudget(bytes);
}

// While a run takes long the count label tells how far it is.
void Ttarlo1::showRunProgress(tarlo::RunJob::Progress p) {
    LblKENSUU->setText(tarlo::progressText(p, QLocale::system().groupSeparator()));
    LblKENSUU->show();
}

void Ttarlo1::finishRun(std::shared_ptr<tarlo::RunOutcome> outcome) {
    using Status = tarlo::RunOutcome::Status;
    QGuiApplication::restoreOverrideCursor();
    LblKENSUU->setText(labelBeforeRun_);
    if (outcome->status == Status::Cancelled) {
        if (labelBeforeRun_.isEmpty() && countLabelHint_.isEmpty()) LblKENSUU->hide();  // no run had shown it
        return;
    }
    if (outcome->status == Status::Failed) {
        lastErrorText_ = outcome->error;
        tarlo::ringBell(8000, 45);
        const qsizetype stop = lastErrorText_.indexOf(QStringLiteral("。"));
        if (stop >= 0) lastErrorText_.truncate(stop);
        showWarningBox(lastErrorText_ + QStringLiteral("  "));
    }
    if (outcome->keepsPreviousResult) {
        // Too large to show: what the window showed before stays, as after a cancel.
        if (labelBeforeRun_.isEmpty() && countLabelHint_.isEmpty()) LblKENSUU->hide();
        return;
    }
    if (outcome->opened) {
        resultFieldCount_ = outcome->fieldCount;
        countLabelHint_ = QString::number(resultFieldCount_);
    }
    if (outcome->status != Status::Failed) {
        LblKENSUU->setText(tarlo::groupedNumber(outcome->rowCount, QLocale::system().groupSeparator()) +
                           QStringLiteral(" 件"));
    }
    LblKENSUU->show();
    setCaption(tarlo::titleOfFields(outcome->fieldNames));
    Memo1->setLines(std::move(outcome->rows));
}

void Ttarlo1::LblKENSUUClick() {
    LblKENSUU->setText(countLabelHint_ + QStringLiteral(" 列"));
}

// ---- saving --------------------------------------------------------------

void Ttarlo1::BitBtn5Click(QObject* sender) {
    if (!tarlo::isExistingFile(memo2Hint_)) return;
    const QString name = sender ? sender->objectName() : QString();
    const QChar which = name.size() >= 7 ? name.at(6) : QChar();
    const QString text = tarlo::withCrLf(Memo2->toPlainText());
    const tarlo::TextSpelling spelling = tarlo::spellingOfFile(memo2Hint_);
    if (which == QLatin1Char('5')) {
        tarlo::saveQueryText(memo2Hint_, text, spelling);
    } else if (which == QLatin1Char('6')) {
        const QDateTime first = clock_->now();
        const QDateTime second = clock_->now();
        tarlo::saveQueryText(tarlo::queryCopyPath(memo2Hint_, first, second), text, spelling);
        tbc1Tag_ = tbc1->currentIndex();
        if (!Timer1->isActive()) Timer1->start();
    }
}

void Ttarlo1::Timer1Timer() {
    Timer1->stop();
    tbc1->clear();
    ScanQueryFiles(programFolder_);
    if (tbc1Tag_ < tbc1->count()) tbc1->setCurrentIndex(tbc1Tag_);
}

// ---- events --------------------------------------------------------------

bool Ttarlo1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this) {
            auto* wheel = static_cast<QWheelEvent*>(event);
            const QPoint delta = wheel->angleDelta();
            // Touchpads open and close a scroll with empty events: no turn at all.
            if (!delta.isNull() || wheel->phase() == Qt::NoScrollPhase)
                guarded([&] { FormMouseWheel(delta.y() != 0 ? delta.y() : delta.x(), wheel->globalPosition()); });
            return true;
        }
    } else if (watched == BitBtn1 && event->type() == QEvent::MouseMove) {
        const auto time = static_cast<QMouseEvent*>(event)->timestamp();
        guarded([this, time] { BitBtn1MouseMove(time); });
    } else if (watched == ListBox1->viewport() && event->type() == QEvent::MouseButtonRelease) {
        ListBox1MouseUp();
    } else if (watched == LblKENSUU && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && LblKENSUU->rect().contains(mouse->position().toPoint()))
            guarded([this] { LblKENSUUClick(); });
    }
    return QWidget::eventFilter(watched, event);
}

void Ttarlo1::FormCloseQuery() {
    tarlo::writeProductsShortcut(programFolder_);
}

void Ttarlo1::closeEvent(QCloseEvent* event) {
    // Closing during a run cancels it. A run deaf to the cancel (one long
    // call inside the engine) may not hold the close up: it is left behind,
    // and the program ends without waiting for it.
    if (runs_->isRunning()) {
        runs_->stop(std::chrono::milliseconds(500));
        QGuiApplication::restoreOverrideCursor();
    }
    // A window that cannot be closed would be worse than a missing shortcut.
    guarded([this] { FormCloseQuery(); });
    event->accept();
}
