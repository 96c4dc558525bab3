#pragma once

struct xcb_connection_t;

namespace ostra {

// Qt's own connection to the X server; null on every other platform.
xcb_connection_t *x11Connection();

// No window holds the X server's keyboard focus: it is none, the pointer root or a root window,
// where a closed window's focus goes when no window manager passes it on.
bool x11KeyboardWithNobody();

} // namespace ostra
