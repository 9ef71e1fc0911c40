#include "ui/win32_window.h"

#include <QWidget>

#include <windows.h>

namespace win32 {

void makeSizeableToolWindow(QWidget* window) {
    const HWND hwnd = reinterpret_cast<HWND>(window->winId());
    // The tool window's thin caption; WS_EX_APPWINDOW keeps the task-bar
    // button a plain tool window would lose.
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    ::SetWindowLongPtrW(hwnd, GWL_EXSTYLE, style | WS_EX_TOOLWINDOW | WS_EX_APPWINDOW);
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

}  // namespace win32
