#include "ui/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap drawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    // The sheet: the count label's green, its dark green ink for the edge.
    const QColor paper(183, 225, 185), ink(43, 65, 35), navy(0, 0, 128);
    p.setPen(QPen(ink, 3));
    p.setBrush(paper);
    p.drawRoundedRect(QRectF(4, 6, 50, 52), 7, 7);
    // Its rows: a header and three lines of values.
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRect(QRectF(10, 14, 38, 6));
    p.setBrush(Qt::white);
    for (int row = 0; row < 3; ++row) p.drawRect(QRectF(10, 25 + row * 9, 26, 5));

    // The run mark, over the sheet's lower right corner.
    p.setBrush(navy);
    QPainterPath bar;
    bar.addRoundedRect(QRectF(44, 18, 10, 28), 4, 4);
    p.drawPath(bar);
    p.drawEllipse(QRectF(43.5, 49, 11, 11));
    return pixmap;
}

}  // namespace

QIcon tarloIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(drawIcon(size));
    return icon;
}
