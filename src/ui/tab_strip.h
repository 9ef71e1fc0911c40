// The query tab strip: fixed-width tabs, and unlike QTabBar it can stand
// with no tab selected. Only the user's choice of another tab emits
// tabChanged; setting the index or the list from code is silent.
#pragma once

#include <QStringList>
#include <QWidget>

class TabStrip : public QWidget {
    Q_OBJECT
public:
    explicit TabStrip(QWidget* parent = nullptr);

    // Removes every tab, then adds these; the first ends up selected.
    void setTabs(const QStringList& texts);
    void clear();
    const QStringList& tabs() const { return tabs_; }
    int count() const { return static_cast<int>(tabs_.size()); }
    QString tabText(int index) const { return tabs_.value(index); }

    int currentIndex() const { return current_; }
    // -1 clears the selection; an index past the last tab changes nothing.
    void setCurrentIndex(int index);

    void setTabSize(QSize size);
    int tabAt(QPoint pos) const;
    QRect tabRect(int index) const;

signals:
    void tabChanged();
    void mouseReleased(Qt::MouseButton button, QPoint pos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool overflows() const;
    QRect scrollButtonRect(int direction) const;  // -1 left, +1 right
    int visibleTabCount() const;
    void ensureVisible(int index);

    QStringList tabs_;
    int current_ = -1;
    int firstVisible_ = 0;
    QSize tabSize_{30, 26};
};
