#include "ui/win32_application_window.h"

#include <QWidget>

#include <algorithm>
#include <string>
#include <vector>

#include <windows.h>

namespace win32 {

namespace {

constexpr UINT kActivateMain = WM_APP + 1;
const wchar_t kClassName[] = L"TarloApplication";

}  // namespace

struct ApplicationWindow::State {
    Handlers handlers;
    HWND hwnd = nullptr;
    bool minimized = false;
    std::vector<HWND> owned;   // the windows own() gave it
    std::vector<HWND> hidden;  // those minimize() took off the screen, to show again

    // Windows hides the windows a minimised window owns; Wine leaves one
    // that is no popup on the screen. The program hides and shows them
    // itself, which is the same on both.
    void hideOwned() {
        for (HWND w : owned)
            if (::IsWindowVisible(w)) {
                ::ShowWindow(w, SW_HIDE);
                hidden.push_back(w);
            }
    }
    void showHidden() {
        for (HWND w : hidden)
            if (::IsWindow(w)) ::ShowWindow(w, SW_SHOWNA);
        hidden.clear();
    }

    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<State*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
        switch (message) {
        case WM_SIZE:
            if (wParam == SIZE_MINIMIZED) {
                self->minimized = true;
            } else if (self->minimized) {
                self->minimized = false;
                self->showHidden();
                if (self->handlers.restored) self->handlers.restored();
            }
            return 0;
        case WM_ACTIVATE:
            // Posted: the activation must not change hands inside its own message.
            if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam)) ::PostMessageW(hwnd, kActivateMain, 0, 0);
            break;
        case WM_SYSCOMMAND:
            // A minimise from the right click and one from the task bar's button take the same way.
            if ((wParam & 0xFFF0) == SC_MINIMIZE && !self->minimized) {
                if (self->handlers.minimizing) self->handlers.minimizing();
                self->hideOwned();
            }
            break;
        case kActivateMain:
            if (!self->minimized && self->handlers.activated) self->handlers.activated();
            return 0;
        case WM_CLOSE:
            if (self->handlers.closeRequested) self->handlers.closeRequested();
            return 0;
        default:
            break;
        }
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
};

ApplicationWindow::ApplicationWindow(const QString& title, Handlers handlers) : state_(new State) {
    state_->handlers = std::move(handlers);
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &State::proc;
    windowClass.hInstance = instance;
    // The icon the executable carries (resource 1), at both of the task bar's sizes.
    windowClass.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                         ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
    windowClass.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                           ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.lpszClassName = kClassName;
    ::RegisterClassExW(&windowClass);  // fails harmlessly when registered before

    // A captioned popup with no size, in the middle of the screen: it has a
    // button and a window menu but nothing to see.
    const int x = ::GetSystemMetrics(SM_CXSCREEN) / 2;
    const int y = ::GetSystemMetrics(SM_CYSCREEN) / 2;
    const std::wstring text = title.toStdWString();
    state_->hwnd = ::CreateWindowExW(0, kClassName, text.c_str(),
                                     WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, x, y, 0, 0,
                                     nullptr, nullptr, instance, nullptr);
    if (state_->hwnd) ::SetWindowLongPtrW(state_->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state_));
}

ApplicationWindow::~ApplicationWindow() {
    if (state_->hwnd) {
        ::SetWindowLongPtrW(state_->hwnd, GWLP_USERDATA, 0);
        ::DestroyWindow(state_->hwnd);
    }
    delete state_;
}

void ApplicationWindow::show() {
    if (state_->hwnd && !::IsWindowVisible(state_->hwnd)) ::ShowWindow(state_->hwnd, SW_SHOWNOACTIVATE);
}

void ApplicationWindow::own(QWidget* window) {
    if (!state_->hwnd) return;
    const HWND owned = reinterpret_cast<HWND>(window->winId());
    const LONG_PTR style = ::GetWindowLongPtrW(owned, GWL_EXSTYLE);
    ::SetWindowLongPtrW(owned, GWL_EXSTYLE, style & ~LONG_PTR(WS_EX_APPWINDOW));
    ::SetWindowLongPtrW(owned, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(state_->hwnd));
    if (std::find(state_->owned.begin(), state_->owned.end(), owned) == state_->owned.end())
        state_->owned.push_back(owned);
}

void ApplicationWindow::minimize() {
    if (state_->hwnd) ::SendMessageW(state_->hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

bool ApplicationWindow::isMinimized() const {
    return state_->hwnd && ::IsIconic(state_->hwnd);
}

}  // namespace win32
