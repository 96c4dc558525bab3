#include "ostraui/brandlogo.h"

#include <QGuiApplication>
#include <QImage>

#include <cmath>

#include "ostraui/theme.h"

namespace ostra {

namespace {

// Wider than the icons window managers show, which are square.
constexpr int WindowIconWidth = 128;

} // namespace

QPixmap brandLogoPixmap(int width, bool markOnly)
{
    QImage image(QStringLiteral(":/images/qorvant-logo.png"));
    if (image.isNull())
        return QPixmap();
    image = image.convertToFormat(QImage::Format_ARGB32);

    // Grey parts take the theme's ink; the red mark keeps its colour and gives the crop.
    const QColor ink = ThemeColors::ink;
    QRect mark;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x];
            const int alpha = qAlpha(pixel);
            if (alpha == 0)
                continue;
            const QColor color = QColor::fromRgb(pixel);
            if (color.hsvSaturationF() < 0.3f) {
                line[x] = qRgba(ink.red(), ink.green(), ink.blue(), alpha);
                continue;
            }
            const int hue = color.hsvHue();
            if (alpha > 160 && (hue < 20 || hue >= 341))
                mark |= QRect(x, y, 1, 1);
        }
    }
    if (markOnly && !mark.isEmpty())
        image = image.copy(mark.adjusted(-1, -1, 1, 1));

    const double ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap pixmap = QPixmap::fromImage(
        image.scaledToWidth(int(std::lround(width * ratio)), Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QIcon brandWindowIcon()
{
    const QPixmap logo(QStringLiteral(":/images/qorvant-logo.png"));
    return QIcon(logo.width() > WindowIconWidth ? logo.scaledToWidth(WindowIconWidth, Qt::SmoothTransformation) : logo);
}

} // namespace ostra
