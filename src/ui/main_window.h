// The main window: result pane, SQL editor, tab strip of query files, the
// column and table lists, the count label and the six buttons. Handlers
// keep the names of the events they serve; the work is done in the core.
#pragma once

#include "platform/local_clock.h"
#include "engine/run_job.h"
#include "workspace/from_clause.h"

#include <QTimer>
#include <QWidget>
#include <memory>

class QLabel;
class QListWidget;
class QMenu;
class QAction;
class QPlainTextEdit;
class QPushButton;
class QFrame;
class TabStrip;
class ResultView;
class RunController;
class Ttarlo2;
namespace win32 {
class ApplicationWindow;
}

class Ttarlo1 : public QWidget {
    Q_OBJECT
public:
    struct Environment {
        QString programFolder;                 // ends in "/"
        std::shared_ptr<tarlo::Clock> clock;   // the local time for copy names
    };
    explicit Ttarlo1(Environment environment);
    ~Ttarlo1() override;

    // The popup hears Esc too: it holds the activation after a tab with a caption.
    void setNotePopup(Ttarlo2* popup);
    const QString& programFolder() const { return programFolder_; }

    // Controls, with the names they are known by.
    ResultView* Memo1 = nullptr;        // result pane
    QFrame* Panel1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;    // SQL editor
    QListWidget* ListBox1 = nullptr;    // column list
    QFrame* Panel2 = nullptr;
    TabStrip* tbc1 = nullptr;           // query tabs
    QLabel* LblKENSUU = nullptr;        // count label
    QMenu* PopupMenu1 = nullptr;
    QAction* n1 = nullptr;              // "全＊"
    QAction* n2 = nullptr;              // "！"
    QListWidget* ListBox2 = nullptr;    // table list
    QPushButton* BitBtn1 = nullptr;     // "！"
    QPushButton* BitBtn2 = nullptr;     // "全＊"
    QPushButton* BitBtn3 = nullptr;     // "下ｺﾋﾟ"
    QPushButton* BitBtn4 = nullptr;     // "上ｺﾋﾟ"
    QPushButton* BitBtn5 = nullptr;     // "上書"
    QPushButton* BitBtn6 = nullptr;     // "別保存"
    QTimer* Timer1 = nullptr;
    QPushButton* Button1 = nullptr;     // "列名ｺﾋﾟｰ"

    // What the hints of the editor and the count label hold.
    const QString& currentQueryPath() const { return memo2Hint_; }
    const QString& countLabelHint() const { return countLabelHint_; }
    const tarlo::RecentTables& recentTables() const { return recentTables_; }
    const QString& lastErrorText() const { return lastErrorText_; }
    QString GetStatementText() const;
    bool isRunning() const;
    // A run that would not stop is still going on its own thread: the
    // process must end without waiting for it.
    bool leftARunBehind() const;
    // Cancels the running statement: the pane, title and count stay as they were.
    void cancelRun();
    void setProgressDelayForTesting(int ms);
    void setResultMemoryBudgetForTesting(size_t bytes);
    int restorePosition() const { return tbc1Tag_; }

    // The frame width the window system gives (4 until the window is mapped).
    int frameWidth() const;
    void setFrameWidthForTesting(int width) { frameWidthOverride_ = width; }
    // Outer bounds, frame included (client bounds grown by the frame before mapping).
    QRect outerBounds() const;
    void setVisible(bool visible) override;

    void ScanQueryFiles(const QString& folder);
    QString LoadQueryFile();
    bool FieldListKousin();
    void ReadTableHeader(const QString& tableName);
    void SetResultTabStops();
    void SetMemoMargins(QWidget* memo, int top, int left, int right);
    void applyStartupGeometry(int frameWidth);
    void FormResize();
    bool WMNCRButtonDown(int hitTestCode);
    void WMExitSizeMove();

public slots:
    void tbc1Change();
    void FormMouseWheel(int wheelDelta, QPointF globalPos);
    void BitBtn3Click(QObject* sender);
    void BitBtn5Click(QObject* sender);
    void Timer1Timer();
    void ListBox1MouseUp();
    void Button1Click();
    void BitBtn1MouseMove(unsigned long userTime = 0);
    void setCaption(const QString& caption);
    void tbc1MouseUp(Qt::MouseButton button, QPoint pos);
    void n2Click(QObject* sender);
    void n1Click();
    void LblKENSUUClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
    void createControls();
    void FormCreate();
    void layoutAnchored();
    void applyOuterMinimumSize();
    void settleSizeMove();
    // The program leaves the screen as a whole and comes back: the popup goes and returns with it.
    void popupLeavesWithTheWindow();
    void popupReturnsWithTheWindow();
    static constexpr QSize kMinimumOuter{700, 550};
    void FormCloseQuery();
    void finishRun(std::shared_ptr<tarlo::RunOutcome> outcome);
    void showRunProgress(tarlo::RunJob::Progress progress);

    QString programFolder_;
    std::shared_ptr<tarlo::Clock> clock_;
    Ttarlo2* tarlo2_ = nullptr;
    QString memo2Hint_;
    QString countLabelHint_;
    tarlo::RecentTables recentTables_;
    int tbc1Tag_ = 0;
    int rightColumnLeft_ = 738;  // design left of the right column, less the start-up shift
    int frameWidthOverride_ = -1;
    QTimer* sizeMoveSettled_ = nullptr;  // the end of a move or resize, which X11 does not report
    QString lastErrorText_;
    int resultFieldCount_ = 0;
    RunController* runs_ = nullptr;  // the running statement, off the window thread
    QString labelBeforeRun_;
    bool popupHiddenWhileMinimized_ = false;  // shown again when the window is restored
#ifdef Q_OS_WIN
    std::unique_ptr<win32::ApplicationWindow> applicationWindow_;  // the task-bar button
#endif
};
