#pragma once

#include <QIcon>
#include <QPixmap>

namespace ostra {

// The brand logo recoloured for the theme, `width` logical pixels wide; with markOnly just the
// red mark. A null pixmap when the logo resource is missing.
QPixmap brandLogoPixmap(int width, bool markOnly);

// The logo as the windows' icon, as it is but no larger than a window manager shows an icon:
// every window made, each dialog as it opens, hands its icon to the window system, and the window
// manager reads it back as it takes the window in while the program waits. The logo at its full
// size made that 320 KB a window.
QIcon brandWindowIcon();

} // namespace ostra
