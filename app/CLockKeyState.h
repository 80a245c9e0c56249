#pragma once
// Whether Caps Lock, Num Lock and Scroll Lock are on, as the X server's keyboard
// indicators say. Qt offers no such query; on X11 the Xkb extension answers it. Where
// the state cannot be known (no X11 connection: Wayland, offscreen), the answer is empty.
#include <optional>

class CLockKeyState
{
public:
    enum Key
    {
        CapsLock,
        NumLock,
        ScrollLock
    };

    static std::optional<bool> IsOn(Key key);
};
