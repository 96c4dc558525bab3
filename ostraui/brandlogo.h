#pragma once

#include <QPixmap>

namespace ostra {

// The brand logo recoloured for the theme, `width` logical pixels wide; with markOnly just the
// red mark. A null pixmap when the logo resource is missing.
QPixmap brandLogoPixmap(int width, bool markOnly);

} // namespace ostra
