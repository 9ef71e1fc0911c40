// The main window's geometry rules as plain arithmetic, so they can be
// checked without a screen: the note popup's corner, the right column's
// start-up shift, the widths that follow the window's outer width.
#pragma once

#include <QPoint>
#include <QRect>

namespace layout {

constexpr int kDesignClientWidth = 891;
constexpr int kDesignClientHeight = 581;
constexpr int kDefaultFrameWidth = 4;  // before the window system tells us

// The popup's top-left from the main window's outer bounds: 112 of its 342
// pixels reach past the main window's right edge.
inline QPoint notePopupPosition(const QRect& mainOuter, int frameWidth) {
    return {mainOuter.left() + mainOuter.width() - 230, mainOuter.top() + mainOuter.height() - 98 - frameWidth};
}

// How far the right column moves left at start-up: frame - 4 + 2 when the
// frame is wider than 4, else nothing.
inline int rightColumnShift(int frameWidth) {
    const int allowance = frameWidth - 4;
    return allowance > 0 ? allowance + 2 : 0;
}

inline int editorWidth(int outerWidth) { return outerWidth - 112; }
inline int tabStripWidth(int outerWidth) { return outerWidth - 150; }

}  // namespace layout
