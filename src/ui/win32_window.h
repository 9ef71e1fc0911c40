// What Tarlo asks of Windows itself, where Qt has no call for it: the main
// window as a sizeable tool window (a thin title bar with only a close box),
// a title bar left empty (Qt puts the program's name into an empty title),
// and the window's outer bounds as Windows has them: the frame Windows draws
// is the one its position, minimum size and the popup's place are taken
// from, not the one Qt assumed before the style changed. Built on Windows only.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QString;
class QWidget;

namespace win32 {

void makeSizeableToolWindow(QWidget* window);

void setCaption(QWidget* window, const QString& caption);

// GetSystemMetrics(SM_CXFRAME): the horizontal sizing frame's width.
int sizingFrameWidth();

// The window's outer bounds, frame included, on the screen.
QRect outerBounds(const QWidget* window);

// Moves the window so that its outer top-left corner is at topLeft.
void moveOuterTo(QWidget* window, QPoint topLeft);

// Answers WM_GETMINMAXINFO with the smallest outer size; true when message was one.
bool answerMinimumSize(const void* message, QSize minimumOuter);

}  // namespace win32
