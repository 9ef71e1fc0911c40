#include "ui/result_view.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>

ResultView::ResultView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
}

void ResultView::setLines(tarlo::ResultLines lines) {
    lines_ = std::move(lines);
    anchor_ = cursor_ = {};
    // The width of the longest line (by bytes) stands for all: measuring a
    // million lines would cost what this view exists to avoid.
    contentWidth_ = lines_.empty() ? 0 : lineWidth(qsizetype(lines_.longestLine()));
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

void ResultView::setPlainText(const QString& text) {
    tarlo::ResultLines lines;
    if (!text.isEmpty())
        for (const QString& line : text.split(QLatin1Char('\n'))) lines.appendLine(line.toStdString());
    setLines(std::move(lines));
}

QString ResultView::toPlainText() const {
    QString out = lines_.joinedText();
    return out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

void ResultView::setTabStopDistance(qreal distance) {
    tabStop_ = distance;
    viewport()->update();
}

void ResultView::setTextMargins(const QMargins& margins) {
    margins_ = margins;
    updateScrollBars();
    viewport()->update();
}

int ResultView::lineHeight() const {
    return fontMetrics().lineSpacing();
}

int ResultView::visibleLineCount() const {
    return std::max(1, (viewport()->height() - margins_.top() - margins_.bottom()) / lineHeight());
}

int ResultView::firstVisibleLine() const {
    return verticalScrollBar()->value();
}

QTextOption ResultView::textOption() const {
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(tabStop_);
    return option;
}

qreal ResultView::lineWidth(qsizetype line) const {
    QTextLayout layout(lines_.lineText(size_t(line)), font());
    layout.setTextOption(textOption());
    layout.beginLayout();
    QTextLine l = layout.createLine();
    layout.endLayout();
    return l.isValid() ? l.naturalTextWidth() : 0;
}

void ResultView::updateScrollBars() {
    const int lines = int(std::min<size_t>(lines_.lineCount(), size_t(INT_MAX)));
    verticalScrollBar()->setRange(0, std::max(0, lines - visibleLineCount()));
    verticalScrollBar()->setPageStep(visibleLineCount());
    verticalScrollBar()->setSingleStep(1);
    const int room = viewport()->width() - margins_.left() - margins_.right();
    horizontalScrollBar()->setRange(0, std::max(0, int(contentWidth_) + 4 - room));
    horizontalScrollBar()->setPageStep(std::max(1, room));
    horizontalScrollBar()->setSingleStep(std::max(1, fontMetrics().averageCharWidth()));
}

void ResultView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ResultView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        contentWidth_ = lines_.empty() ? 0 : lineWidth(qsizetype(lines_.longestLine()));
        updateScrollBars();
    }
}

void ResultView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.setClipRect(viewport()->rect().marginsRemoved(margins_));
    const int first = firstVisibleLine();
    const int height = lineHeight();
    const qreal x0 = margins_.left() - horizontalScrollBar()->value();
    const Position from = std::min(anchor_, cursor_), to = std::max(anchor_, cursor_);
    const QPalette& pal = palette();
    for (int i = 0; i <= visibleLineCount() && size_t(first + i) < lines_.lineCount(); ++i) {
        const qsizetype line = first + i;
        const qreal y = margins_.top() + i * height;
        QTextLayout layout(lines_.lineText(size_t(line)), font());
        layout.setTextOption(textOption());
        layout.beginLayout();
        QTextLine l = layout.createLine();
        layout.endLayout();
        if (!l.isValid()) continue;
        QList<QTextLayout::FormatRange> selection;
        if (!(from == to) && line >= from.line && line <= to.line) {
            const qsizetype start = line == from.line ? from.column : 0;
            const qsizetype end = line == to.line ? to.column : layout.text().size();
            QTextLayout::FormatRange range;
            range.start = int(start);
            range.length = int(end - start);
            range.format.setBackground(pal.brush(QPalette::Highlight));
            range.format.setForeground(pal.brush(QPalette::HighlightedText));
            selection.append(range);
            if (line != to.line) {  // the line break of a selected line shows as a little block
                const qreal endX = x0 + l.naturalTextWidth();
                painter.fillRect(QRectF(endX, y, fontMetrics().averageCharWidth(), height), pal.brush(QPalette::Highlight));
            }
        }
        painter.setPen(pal.color(QPalette::Text));
        layout.draw(&painter, QPointF(x0, y), selection);
        if (hasFocus() && line == cursor_.line) layout.drawCursor(&painter, QPointF(x0, y), int(cursor_.column));
    }
}

ResultView::Position ResultView::positionAt(QPoint pos) const {
    Position p;
    if (lines_.empty()) return p;
    const qsizetype line = firstVisibleLine() + std::max(0, pos.y() - margins_.top()) / lineHeight();
    p.line = std::min<qsizetype>(line, qsizetype(lines_.lineCount()) - 1);
    QTextLayout layout(lines_.lineText(size_t(p.line)), font());
    layout.setTextOption(textOption());
    layout.beginLayout();
    QTextLine l = layout.createLine();
    layout.endLayout();
    const qreal x = pos.x() - margins_.left() + horizontalScrollBar()->value();
    p.column = l.isValid() ? l.xToCursor(x) : 0;
    return p;
}

void ResultView::moveCursorTo(Position p, bool extend) {
    cursor_ = p;
    if (!extend) anchor_ = p;
    ensureVisible(p);
    viewport()->update();
}

void ResultView::ensureVisible(Position p) {
    QScrollBar* v = verticalScrollBar();
    if (p.line < v->value()) v->setValue(int(p.line));
    else if (p.line >= v->value() + visibleLineCount()) v->setValue(int(p.line) - visibleLineCount() + 1);
}

void ResultView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    moveCursorTo(positionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void ResultView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) moveCursorTo(positionAt(event->position().toPoint()), true);
}

void ResultView::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click takes the field under the pointer: the text between TABs.
    const Position p = positionAt(event->position().toPoint());
    const QString text = lines_.empty() ? QString() : lines_.lineText(size_t(p.line));
    qsizetype start = p.column, end = p.column;
    while (start > 0 && text[start - 1] != QLatin1Char('\t')) --start;
    while (end < text.size() && text[end] != QLatin1Char('\t')) ++end;
    anchor_ = {p.line, start};
    moveCursorTo({p.line, end}, true);
}

void ResultView::selectAll() {
    if (lines_.empty()) return;
    anchor_ = {};
    const qsizetype last = qsizetype(lines_.lineCount()) - 1;
    cursor_ = {last, lines_.lineText(size_t(last)).size()};
    viewport()->update();
}

QString ResultView::selectedText() const {
    const Position from = std::min(anchor_, cursor_), to = std::max(anchor_, cursor_);
    if (from == to || lines_.empty()) return {};
    QString out;
    for (qsizetype line = from.line; line <= to.line; ++line) {
        const QString text = lines_.lineText(size_t(line));
        const qsizetype start = line == from.line ? from.column : 0;
        const qsizetype end = line == to.line ? to.column : text.size();
        out += text.mid(start, end - start);
        if (line != to.line) out += QStringLiteral("\r\n");
    }
    return out;
}

void ResultView::copy() const {
    const QString text = selectedText();
    if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

void ResultView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::SelectAll) return selectAll();
    if (event == QKeySequence::Copy) return copy();
    if (lines_.empty()) return QAbstractScrollArea::keyPressEvent(event);
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const bool control = event->modifiers() & Qt::ControlModifier;
    const qsizetype last = qsizetype(lines_.lineCount()) - 1;
    auto lengthOf = [&](qsizetype line) { return lines_.lineText(size_t(line)).size(); };
    Position p = cursor_;
    switch (event->key()) {
    case Qt::Key_Up: p.line = std::max<qsizetype>(0, p.line - 1); break;
    case Qt::Key_Down: p.line = std::min(last, p.line + 1); break;
    case Qt::Key_PageUp: p.line = std::max<qsizetype>(0, p.line - visibleLineCount()); break;
    case Qt::Key_PageDown: p.line = std::min(last, p.line + visibleLineCount()); break;
    case Qt::Key_Left:
        if (p.column > 0) --p.column;
        else if (p.line > 0) p = {p.line - 1, lengthOf(p.line - 1)};
        break;
    case Qt::Key_Right:
        if (p.column < lengthOf(p.line)) ++p.column;
        else if (p.line < last) p = {p.line + 1, 0};
        break;
    case Qt::Key_Home: p = control ? Position{} : Position{p.line, 0}; break;
    case Qt::Key_End: p = control ? Position{last, lengthOf(last)} : Position{p.line, lengthOf(p.line)}; break;
    default: return QAbstractScrollArea::keyPressEvent(event);
    }
    p.column = std::min(p.column, lengthOf(p.line));
    moveCursorTo(p, extend);
}

void ResultView::wheelEvent(QWheelEvent* event) {
    event->ignore();  // the window turns tabs with the wheel; nothing scrolls
}
