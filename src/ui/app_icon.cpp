#include "ui/app_icon.h"

#include <QBuffer>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kSizes[] = {16, 24, 32, 48, 64, 128, 256};

}  // namespace

QImage tarloIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
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
    return image;
}

QIcon tarloIcon() {
    QIcon icon;
    for (const int size : kSizes) icon.addPixmap(QPixmap::fromImage(tarloIconImage(size)));
    return icon;
}

// ICONDIR, then an ICONDIRENTRY per image (a size of 256 is written as 0),
// then the images, each a whole PNG file.
QByteArray tarloIconFile() {
    QList<QByteArray> pngs;
    for (const int size : kSizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        tarloIconImage(size).save(&buffer, "PNG");
        pngs << png;
    }
    QByteArray out;
    auto put16 = [&](quint16 v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto put32 = [&](quint32 v) { put16(quint16(v & 0xFFFF)), put16(quint16(v >> 16)); };
    put16(0), put16(1), put16(quint16(pngs.size()));
    quint32 offset = quint32(6 + 16 * pngs.size());
    for (qsizetype i = 0; i < pngs.size(); ++i) {
        const int size = kSizes[i];
        out.append(char(size >= 256 ? 0 : size)).append(char(size >= 256 ? 0 : size));
        out.append(char(0)).append(char(0));  // no palette, reserved
        put16(1), put16(32);                   // planes, bits per pixel
        put32(quint32(pngs[i].size())), put32(offset);
        offset += quint32(pngs[i].size());
    }
    for (const QByteArray& png : pngs) out += png;
    return out;
}
