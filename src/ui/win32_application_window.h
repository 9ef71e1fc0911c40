// The program's own window as the Windows task bar sees it: hidden from the
// screen (no size), its text the application title, its button the program's
// button. The main window is owned by it, so the task bar shows "tarlo"
// while the main window's caption holds the field names, and minimising it
// takes the main window off the screen with it. Built on Windows only.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace win32 {

class ApplicationWindow {
public:
    struct Handlers {
        std::function<void()> minimizing;      // the program is about to leave the screen
        std::function<void()> restored;        // the button brought the program back
        std::function<void()> activated;       // the button was clicked: the main window takes over
        std::function<void()> closeRequested;  // "close" on the button's menu
    };
    ApplicationWindow(const QString& title, Handlers handlers);
    ~ApplicationWindow();
    ApplicationWindow(const ApplicationWindow&) = delete;
    ApplicationWindow& operator=(const ApplicationWindow&) = delete;

    // Gives the program its task-bar button.
    void show();
    // The window becomes owned: it keeps no button of its own. Qt clears an
    // owner it did not set whenever it shows a window, so this follows a show.
    void own(QWidget* window);
    // Minimises the program: the button stays, the owned windows leave the screen.
    void minimize();
    bool isMinimized() const;

private:
    struct State;
    State* state_;
};

}  // namespace win32
