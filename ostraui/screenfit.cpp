#include "ostraui/screenfit.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace ostra {

QRect availableArea(const QWidget *anchor)
{
    QScreen *screen = anchor ? anchor->window()->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

QRect centredIn(QSize size, const QRect &over, const QRect &area)
{
    if (area.isEmpty())
        return QRect(over.center() - QPoint(size.width() / 2, size.height() / 2), size);
    size = size.boundedTo(area.size());
    QRect rect(QPoint(), size);
    rect.moveCenter(over.isEmpty() ? area.center() : over.center());
    rect.moveLeft(std::clamp(rect.left(), area.left(), area.right() - size.width() + 1));
    rect.moveTop(std::clamp(rect.top(), area.top(), area.bottom() - size.height() + 1));
    return rect;
}

bool headlessPlatform()
{
    static const bool headless = [] {
        const QString platform = QGuiApplication::platformName();
        return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
    }();
    return headless;
}

} // namespace ostra
