// What Tarlo asks of Windows itself, where Qt has no call for it: the main
// window as a sizeable tool window (a thin title bar with only a close box)
// that still has its button on the task bar, a title bar left empty (Qt
// puts the program's name into an empty title), and the width of the
// sizing frame that the layout allows for. Built on Windows only.
#pragma once

class QString;
class QWidget;

namespace win32 {

void makeSizeableToolWindow(QWidget* window);

void setCaption(QWidget* window, const QString& caption);

// GetSystemMetrics(SM_CXFRAME): the horizontal sizing frame's width.
int sizingFrameWidth();

}  // namespace win32
