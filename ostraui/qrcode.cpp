#include "ostraui/qrcode.h"

#include <QImage>
#include <QPainter>

#include <qrcodegen.hpp>

#include <algorithm>
#include <exception>

namespace ostra {

QPixmap renderQrCode(const QString &text, int targetSize)
{
    try {
        const QByteArray utf8 = text.toUtf8();
        const qrcodegen::QrCode code = qrcodegen::QrCode::encodeText(utf8.constData(), qrcodegen::QrCode::Ecc::MEDIUM);
        const int modules = code.getSize();
        const int moduleSize = std::max(targetSize / modules, 1);
        const int side = modules * moduleSize;
        // No quiet zone: the label's white padding around the image is the margin.
        QImage image(side, side, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        for (int y = 0; y < modules; ++y) {
            for (int x = 0; x < modules; ++x) {
                if (code.getModule(x, y))
                    painter.drawRect(x * moduleSize, y * moduleSize, moduleSize, moduleSize);
            }
        }
        painter.end();
        return QPixmap::fromImage(image);
    } catch (const std::exception &) {
        // Too long for the largest code: the caller says so in place of the code.
        return QPixmap();
    }
}

} // namespace ostra
