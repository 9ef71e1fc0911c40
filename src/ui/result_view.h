// The result pane: a read-only, non-wrapping view of many lines that lays
// out and paints only the visible ones, so a million rows open at once.
// Mouse and keyboard selection, Ctrl+A and Ctrl+C (plain text, CR LF); tab
// stops and text margins as the window sets them. The wheel is the window's.
#pragma once

#include "engine/result_lines.h"

#include <QAbstractScrollArea>

class ResultView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ResultView(QWidget* parent = nullptr);

    // Replaces the content in one assignment.
    void setLines(tarlo::ResultLines lines);
    void setPlainText(const QString& text);  // for small texts
    void clear() { setLines({}); }
    const tarlo::ResultLines& lines() const { return lines_; }
    QString toPlainText() const;       // lines joined by LF
    QString selectedText() const;      // CR LF between lines

    void setTabStopDistance(qreal distance);
    qreal tabStopDistance() const { return tabStop_; }
    void setTextMargins(const QMargins& margins);
    QMargins textMargins() const { return margins_; }
    void selectAll();
    void copy() const;
    int firstVisibleLine() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Position {
        qsizetype line = 0;
        qsizetype column = 0;  // in UTF-16 units of the line's text
        bool operator<(const Position& o) const { return line < o.line || (line == o.line && column < o.column); }
        bool operator==(const Position& o) const { return line == o.line && column == o.column; }
    };

    int lineHeight() const;
    int visibleLineCount() const;
    QTextOption textOption() const;
    qreal lineWidth(qsizetype line) const;
    Position positionAt(QPoint viewportPos) const;
    void moveCursorTo(Position p, bool extend);
    void ensureVisible(Position p);
    void updateScrollBars();

    tarlo::ResultLines lines_;
    qreal tabStop_ = 32;
    QMargins margins_;
    qreal contentWidth_ = 0;
    Position anchor_;
    Position cursor_;
};
