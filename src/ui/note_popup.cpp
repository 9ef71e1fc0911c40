#include "ui/note_popup.h"

#include "ui/accelerator_text.h"
#include "ui/window_layout.h"

#include <QLabel>
#include <QMouseEvent>
#include <QWindow>

namespace {

QFont popupFont(int pixelSize, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma Bold"), QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QLabel* makeLabel(QWidget* parent, const QRect& bounds, int pixelSize, bool bold, Qt::Alignment align) {
    auto* label = new QLabel(parent);
    label->setGeometry(bounds);
    label->setFont(popupFont(pixelSize, bold));
    label->setAlignment(align);
    label->setWordWrap(true);
    label->setTextFormat(Qt::RichText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 128));
    label->setPalette(palette);
    return label;
}

}  // namespace

Ttarlo2::Ttarlo2(const QRect& mainOuter, int frameWidth) : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("tarlo2"));
    setFixedSize(342, 116);
    setWindowOpacity(225.0 / 255.0);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(203, 203, 235));
    setPalette(palette);

    Label1 = makeLabel(this, QRect(0, 0, 342, 22), 15, true, Qt::AlignCenter);
    Label1->setAutoFillBackground(true);
    QPalette strip = Label1->palette();
    strip.setColor(QPalette::Window, QColor(223, 223, 255));
    Label1->setPalette(strip);
    // The body stands 10 pixels in from both sides; the margins start no drag.
    Label2 = makeLabel(this, QRect(10, 22, 322, 94), 13, false, Qt::AlignLeft | Qt::AlignVCenter);
    for (QLabel* label : {Label1, Label2}) label->installEventFilter(this);

    PlaceNotePopup(mainOuter, frameWidth);
}

void Ttarlo2::PlaceNotePopup(const QRect& mainOuter, int frameWidth) {
    move(layout::notePopupPosition(mainOuter, frameWidth));
}

void Ttarlo2::showTexts(const QString& caption, const QString& note) {
    caption_ = caption;
    note_ = note;
    Label1->setText(acceleratorRichText(caption));
    Label2->setText(acceleratorRichText(note));
    if ((caption + note).isEmpty()) {
        hide();
    } else if (!isVisible()) {
        show();
        raise();
        activateWindow();
    }
}

void Ttarlo2::showAgain() {
    const QPoint place = pos();
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    show();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    move(place);
}

bool Ttarlo2::Label1MouseDown(Qt::MouseButton button, QPointF globalPos) {
    if (button == Qt::RightButton) return false;
    // The window manager moves the popup where it can; without one (or
    // without the protocol) the popup follows the mouse itself.
    if (windowHandle() && windowHandle()->startSystemMove()) return true;
    manualDrag_ = true;
    dragOffset_ = globalPos.toPoint() - pos();  // the pressed label keeps the mouse until release
    return true;
}

bool Ttarlo2::eventFilter(QObject* watched, QEvent* event) {
    if (watched != Label1 && watched != Label2) return QWidget::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        Label1MouseDown(mouse->button(), mouse->globalPosition());
        return true;
    case QEvent::MouseMove:
        if (!manualDrag_) break;
        move(mouse->globalPosition().toPoint() - dragOffset_);
        return true;
    case QEvent::MouseButtonRelease:
        if (!manualDrag_) break;
        manualDrag_ = false;
        return true;
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}
