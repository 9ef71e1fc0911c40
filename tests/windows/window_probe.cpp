// What the Windows suite asks of tarlo.exe's windows from outside, as the
// task bar and the window manager see them: each top-level window of the
// program with its role, state, outer bounds and text; a click on the task
// bar's button; a resize and a move as a user's drag ends them.
//   window_probe list | restore | minimize | resize W H | move X Y
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Window {
    HWND hwnd;
    std::string role;  // app (the task bar's), main, popup or other
};

bool isTarlo(HWND hwnd) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return false;
    wchar_t path[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    const bool named = ::QueryFullProcessImageNameW(process, 0, path, &size);
    ::CloseHandle(process);
    if (!named) return false;
    const std::wstring name(path, size);
    const std::wstring tail = L"\\tarlo.exe";
    return name.size() >= tail.size() &&
           ::CompareStringOrdinal(name.c_str() + name.size() - tail.size(), -1, tail.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::string roleOf(HWND hwnd) {
    wchar_t className[256] = {};
    ::GetClassNameW(hwnd, className, 256);
    if (std::wstring(className) == L"TarloApplication") return "app";
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
    const LONG_PTR exStyle = ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    if (exStyle & WS_EX_LAYERED) return "popup";
    if (style & WS_THICKFRAME) return "main";
    return "other";
}

BOOL CALLBACK collect(HWND hwnd, LPARAM into) {
    if (isTarlo(hwnd)) reinterpret_cast<std::vector<Window>*>(into)->push_back({hwnd, roleOf(hwnd)});
    return TRUE;
}

std::vector<Window> windows() {
    std::vector<Window> found;
    ::EnumWindows(collect, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND find(const char* role) {
    for (const Window& w : windows())
        if (w.role == role) return w.hwnd;
    return nullptr;
}

// The task bar's rule: a visible window that no window owns and that is no
// tool window has a button; so does any visible window that asks for one.
bool hasButton(HWND hwnd) {
    const LONG_PTR exStyle = ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    if (!::IsWindowVisible(hwnd)) return false;
    if (exStyle & WS_EX_APPWINDOW) return true;
    return !::GetWindow(hwnd, GW_OWNER) && !(exStyle & WS_EX_TOOLWINDOW);
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

void list() {
    for (const Window& w : windows()) {
        RECT r{};
        ::GetWindowRect(w.hwnd, &r);
        wchar_t text[512] = {};
        ::GetWindowTextW(w.hwnd, text, 512);
        std::printf("role=%s visible=%d iconic=%d taskbar=%d x=%ld y=%ld w=%ld h=%ld frame=%d text=%s\n",
                    w.role.c_str(), ::IsWindowVisible(w.hwnd) ? 1 : 0, ::IsIconic(w.hwnd) ? 1 : 0,
                    hasButton(w.hwnd) ? 1 : 0, r.left, r.top, r.right - r.left, r.bottom - r.top,
                    ::GetSystemMetrics(SM_CXFRAME), utf8(text).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "list";
    if (command == "list") {
        list();
        return 0;
    }
    if (command == "restore" || command == "minimize") {
        // A click on the program's button: a minimised program comes back, a shown one goes.
        const WPARAM what = command == "restore" ? SC_RESTORE : SC_MINIMIZE;
        for (const Window& w : windows())
            if (hasButton(w.hwnd)) return ::PostMessageW(w.hwnd, WM_SYSCOMMAND, what, 0) ? 0 : 1;
        return 1;
    }
    const HWND main = find("main");
    if (!main || argc < 4) return 2;
    const int a = std::atoi(argv[2]);
    const int b = std::atoi(argv[3]);
    if (command == "resize")
        return ::SetWindowPos(main, nullptr, 0, 0, a, b, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) ? 0 : 1;
    if (command == "move") {
        if (!::SetWindowPos(main, nullptr, a, b, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE)) return 1;
        ::SendMessageW(main, WM_EXITSIZEMOVE, 0, 0);  // as a drag of the title bar ends
        return 0;
    }
    return 2;
}
