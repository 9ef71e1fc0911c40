#include "ui/x11_window.h"

#include <QGuiApplication>
#include <QHash>
#include <QWidget>
#include <QWindow>

#if __has_include(<xcb/xcb.h>) && QT_CONFIG(xcb)
#define TARLO_X11 1
#include <xcb/xcb.h>
#endif

namespace x11 {

#ifdef TARLO_X11

namespace {

xcb_connection_t* connection() {
    auto* x = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x ? x->connection() : nullptr;
}

// Interned once each: the pointer over "！" asks on every move.
xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    static QHash<QByteArray, xcb_atom_t> known;
    const QByteArray key(name);
    if (const auto it = known.constFind(key); it != known.cend()) return *it;
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(c, 0, uint16_t(key.size()), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    if (a != XCB_ATOM_NONE) known.insert(key, a);
    return a;
}

void setText(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type, const QByteArray& text) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, 8, uint32_t(text.size()), text.constData());
}

// A window property of the root window: the one value of a WINDOW list, or none.
xcb_window_t rootWindowProperty(xcb_connection_t* c, const char* name) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_get_property_cookie_t cookie = xcb_get_property(c, 0, screen->root, atom(c, name), XCB_ATOM_WINDOW, 0, 1);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    xcb_window_t value = XCB_NONE;
    if (reply && xcb_get_property_value_length(reply) == 4) value = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
    free(reply);
    return value;
}

}  // namespace

void setCaption(QWidget* window, const QString& caption, const QString& taskbarName) {
    window->setWindowTitle(caption);
    xcb_connection_t* c = connection();
    if (!c || !window->testAttribute(Qt::WA_WState_Created)) return;
    const auto w = xcb_window_t(window->winId());
    const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
    if (caption.isEmpty()) {
        setText(c, w, atom(c, "_NET_WM_NAME"), utf8, {});
        setText(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, {});
    }
    setText(c, w, atom(c, "_NET_WM_ICON_NAME"), utf8, taskbarName.toUtf8());
    setText(c, w, XCB_ATOM_WM_ICON_NAME, XCB_ATOM_STRING, taskbarName.toLatin1());
    xcb_flush(c);
}

bool isActive(QWidget* window) {
    xcb_connection_t* c = connection();
    if (!c || !window->testAttribute(Qt::WA_WState_Created)) return window->isActiveWindow();
    // Without a window manager nobody keeps the property: Qt's view is all there is.
    if (rootWindowProperty(c, "_NET_SUPPORTING_WM_CHECK") == XCB_NONE) return window->isActiveWindow();
    return rootWindowProperty(c, "_NET_ACTIVE_WINDOW") == xcb_window_t(window->winId());
}

void activate(QWidget* window, unsigned long userTime) {
    xcb_connection_t* c = connection();
    // Without a window manager Qt gives the window the input focus itself.
    if (!c || !window->testAttribute(Qt::WA_WState_Created) || rootWindowProperty(c, "_NET_SUPPORTING_WM_CHECK") == XCB_NONE)
        return window->activateWindow();
    const auto w = xcb_window_t(window->winId());
    const auto time = uint32_t(userTime);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_USER_TIME"), XCB_ATOM_CARDINAL, 32, 1, &time);
    // Source 2: the request stands for the user's own action (the pointer
    // on the button), which a window manager's focus-stealing prevention
    // grants, unlike a program's wish to be in front (source 1).
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = w;
    event.type = atom(c, "_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 2;
    event.data.data32[1] = time;
    QWindow* focused = QGuiApplication::focusWindow();
    event.data.data32[2] = focused ? uint32_t(focused->winId()) : XCB_NONE;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(c);
}

#else

void setCaption(QWidget* window, const QString& caption, const QString&) {
    window->setWindowTitle(caption);
}

bool isActive(QWidget* window) {
    return window->isActiveWindow();
}

void activate(QWidget* window, unsigned long) {
    window->activateWindow();
}

#endif

}  // namespace x11
