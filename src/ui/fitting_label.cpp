#include "ui/fitting_label.h"

#include <QPainter>

QFont fontToFit(const QFont& font, const QString& text, int width) {
    QFont fitted = font;
    int pixels = font.pixelSize() > 0 ? font.pixelSize() : QFontMetrics(font).height();
    fitted.setPixelSize(pixels);
    while (pixels > 6 && QFontMetrics(fitted).horizontalAdvance(text) > width) fitted.setPixelSize(--pixels);
    return fitted;
}

void FittingLabel::paintEvent(QPaintEvent* event) {
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const int room = area.width() - 4;  // two pixels of the label's colour either side
    if (QFontMetrics(font()).horizontalAdvance(text()) <= room) return QLabel::paintEvent(event);
    QPainter painter(this);
    painter.setFont(fontToFit(font(), text(), room));
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(area, int(alignment()), text());
}
