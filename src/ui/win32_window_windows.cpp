#include "ui/win32_window.h"

#include <QWidget>

#include <windows.h>

namespace win32 {

void makeSizeableToolWindow(QWidget* window) {
    const HWND hwnd = reinterpret_cast<HWND>(window->winId());
    // The tool window's thin caption; the task-bar button is the
    // application window's (win32_application_window.h).
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    ::SetWindowLongPtrW(hwnd, GWL_EXSTYLE, (style | WS_EX_TOOLWINDOW) & ~LONG_PTR(WS_EX_APPWINDOW));
    ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void setCaption(QWidget* window, const QString& caption) {
    window->setWindowTitle(caption);
    if (caption.isEmpty()) ::SetWindowTextW(reinterpret_cast<HWND>(window->winId()), L"");
}

int sizingFrameWidth() {
    return ::GetSystemMetrics(SM_CXFRAME);
}

QRect outerBounds(const QWidget* window) {
    RECT rect{};
    ::GetWindowRect(reinterpret_cast<HWND>(window->winId()), &rect);
    return QRect(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1));
}

void moveOuterTo(QWidget* window, QPoint topLeft) {
    const HWND hwnd = reinterpret_cast<HWND>(window->winId());
    RECT outer{};
    ::GetWindowRect(hwnd, &outer);
    POINT client{0, 0};
    ::ClientToScreen(hwnd, &client);
    // Through Qt, so that its idea of the window's place is the one Windows has.
    const QPoint clientOffset(client.x - outer.left, client.y - outer.top);
    window->setGeometry(QRect(topLeft + clientOffset, window->size()));
    ::GetWindowRect(hwnd, &outer);
    if (outer.left != topLeft.x() || outer.top != topLeft.y())
        ::SetWindowPos(hwnd, nullptr, topLeft.x(), topLeft.y(), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool answerMinimumSize(const void* message, QSize minimumOuter) {
    const auto* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_GETMINMAXINFO) return false;
    auto* info = reinterpret_cast<MINMAXINFO*>(msg->lParam);
    info->ptMinTrackSize.x = minimumOuter.width();
    info->ptMinTrackSize.y = minimumOuter.height();
    return true;
}

}  // namespace win32
