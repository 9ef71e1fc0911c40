#include "ui/tab_strip.h"

#include <QMouseEvent>
#include <QStyleOptionTab>
#include <QStylePainter>

namespace {
constexpr int kScrollButtonWidth = 16;
}

TabStrip::TabStrip(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TabStrip::setTabs(const QStringList& texts) {
    tabs_ = texts;
    current_ = tabs_.isEmpty() ? -1 : 0;
    firstVisible_ = 0;
    update();
}

void TabStrip::clear() {
    setTabs({});
}

void TabStrip::setCurrentIndex(int index) {
    if (index >= count() || index < -1) return;
    current_ = index;
    ensureVisible(index);
    update();
}

void TabStrip::setTabSize(QSize size) {
    tabSize_ = size;
    update();
}

bool TabStrip::overflows() const {
    return count() * tabSize_.width() > width();
}

int TabStrip::visibleTabCount() const {
    const int room = width() - (overflows() ? 2 * kScrollButtonWidth : 0);
    return std::max(1, room / tabSize_.width());
}

void TabStrip::ensureVisible(int index) {
    if (index < 0) return;
    if (index < firstVisible_) firstVisible_ = index;
    else if (index >= firstVisible_ + visibleTabCount()) firstVisible_ = index - visibleTabCount() + 1;
    firstVisible_ = std::clamp(firstVisible_, 0, std::max(0, count() - visibleTabCount()));
}

QRect TabStrip::tabRect(int index) const {
    return QRect((index - firstVisible_) * tabSize_.width(), 0, tabSize_.width(), tabSize_.height());
}

QRect TabStrip::scrollButtonRect(int direction) const {
    const int x = width() - (direction < 0 ? 2 : 1) * kScrollButtonWidth;
    return QRect(x, 0, kScrollButtonWidth, std::min(height(), tabSize_.height()));
}

int TabStrip::tabAt(QPoint pos) const {
    if (overflows() && pos.x() >= width() - 2 * kScrollButtonWidth) return -1;
    if (pos.y() < 0 || pos.y() >= tabSize_.height() || pos.x() < 0) return -1;
    const int index = firstVisible_ + pos.x() / tabSize_.width();
    return index < count() ? index : -1;
}

void TabStrip::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    const int last = std::min(count(), firstVisible_ + visibleTabCount());
    for (int i = firstVisible_; i < last; ++i) {
        QStyleOptionTab option;
        option.initFrom(this);
        option.rect = tabRect(i);
        option.shape = QTabBar::RoundedNorth;
        option.position = count() == 1 ? QStyleOptionTab::OnlyOneTab
                          : i == 0     ? QStyleOptionTab::Beginning
                          : i == count() - 1 ? QStyleOptionTab::End
                                             : QStyleOptionTab::Middle;
        if (i == current_) option.state |= QStyle::State_Selected;
        painter.drawControl(QStyle::CE_TabBarTabShape, option);
        // The style's own label padding leaves nothing of a 30-pixel tab.
        const QRect textRect = option.rect.adjusted(2, 2, -2, 0);
        painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine,
                         fontMetrics().elidedText(tabs_[i], Qt::ElideRight, textRect.width()));
    }
    if (overflows()) {
        for (const int direction : {-1, 1}) {
            QStyleOption option;
            option.initFrom(this);
            option.rect = scrollButtonRect(direction);
            painter.drawPrimitive(QStyle::PE_PanelButtonTool, option);
            painter.drawPrimitive(direction < 0 ? QStyle::PE_IndicatorArrowLeft : QStyle::PE_IndicatorArrowRight,
                                  option);
        }
    }
}

void TabStrip::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() != Qt::LeftButton) return;
    if (overflows()) {
        for (const int direction : {-1, 1}) {
            if (!scrollButtonRect(direction).contains(pos)) continue;
            firstVisible_ = std::clamp(firstVisible_ + direction, 0, std::max(0, count() - visibleTabCount()));
            update();
            return;
        }
    }
    const int index = tabAt(pos);
    if (index < 0 || index == current_) return;
    current_ = index;
    update();
    emit tabChanged();
}

void TabStrip::mouseReleaseEvent(QMouseEvent* event) {
    emit mouseReleased(event->button(), event->position().toPoint());
}

void TabStrip::resizeEvent(QResizeEvent*) {
    ensureVisible(current_);
}
