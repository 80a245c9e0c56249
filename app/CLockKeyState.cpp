#include "CLockKeyState.h"

#include <QGuiApplication>

// Xlib's headers define macros (Bool, None, Status, ...) that clash with Qt's names, so
// they come after Qt's and stay in this file.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

std::optional<bool> CLockKeyState::IsOn(Key key)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display)
        return std::nullopt;
    // Named indicators, because which state bit belongs to which lock depends on the
    // keymap.
    const char* name = key == CapsLock ? "Caps Lock" : key == NumLock ? "Num Lock" : "Scroll Lock";
    const Atom atom = XInternAtom(display, name, True);
    if (atom == 0)
        return std::nullopt;
    int on = 0;
    if (!XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr))
        return std::nullopt;
    return on != 0;
}
