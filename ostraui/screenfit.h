#pragma once

#include <QRect>

class QWidget;

namespace ostra {

// The available area (the screen without panels and docks) of the screen a window opens on:
// the screen of `anchor`'s window when there is one, else the screen under the pointer.
QRect availableArea(const QWidget *anchor);

// A window of `size`, no larger than `area`, centred over `over` and kept inside `area`.
QRect centredIn(QSize size, const QRect &over, const QRect &area);

// True on the headless platforms (offscreen, minimal), whose screen is fixed and seen by no user.
bool headlessPlatform();

} // namespace ostra
