// The note popup: a small borderless, stay-on-top, slightly transparent
// window by the main window's lower right corner showing the loaded query's
// caption (title strip) and note (body). A press on either text drags it.
#pragma once

#include <QWidget>

class QLabel;

class Ttarlo2 : public QWidget {
    Q_OBJECT
public:
    // Placed against the main window's outer bounds and frame width at creation.
    Ttarlo2(const QRect& mainOuter, int frameWidth);

    // Sets both texts; shows the popup when either is non-empty, hides it
    // otherwise. Showing brings it up where it last was, activated.
    void showTexts(const QString& caption, const QString& note);
    // Shows the popup where it last stood, leaving the activation where it is.
    void showAgain();
    const QString& caption() const { return caption_; }
    const QString& note() const { return note_; }

    // Places the popup against the main window's outer bounds.
    void PlaceNotePopup(const QRect& mainOuter, int frameWidth);

    QLabel* Label1 = nullptr;  // title strip: the caption
    QLabel* Label2 = nullptr;  // body: the note

    // Starts the drag for a press of button; the right button does nothing.
    // True when a drag started.
    bool Label1MouseDown(Qt::MouseButton button, QPointF globalPos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString caption_;
    QString note_;
    bool manualDrag_ = false;
    QPoint dragOffset_;
};
