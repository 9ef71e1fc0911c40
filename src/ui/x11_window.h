// What Tarlo asks of an X11 window manager itself, where Qt has no call for
// it: a title bar left empty (Qt puts the program's name into an empty
// title) with the name still given to the task bar, and an activation the
// window manager accepts because it carries the time of the user's action.
// Elsewhere each call does what Qt does.
#pragma once

#include <QString>

class QWidget;

namespace x11 {

// Sets the window's title; an empty one stays empty on the title bar, and
// taskbarName names the window for the task bar and when iconified.
void setCaption(QWidget* window, const QString& caption, const QString& taskbarName);

// Whether the window system has the window active. On X11 the note popup
// may hold the activation while Qt still counts the main window active.
bool isActive(QWidget* window);

// Activates the window on behalf of a user action at userTime (the X
// server time of the event that prompted it).
void activate(QWidget* window, unsigned long userTime);

}  // namespace x11
