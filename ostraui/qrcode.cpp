#include "ostraui/qrcode.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QImage>
#include <QLabel>
#include <QPainter>

#include <qrcodegen.hpp>

#include <algorithm>
#include <exception>

#include "ostraui/theme.h"

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

bool reachableFromPhone(const QString &host)
{
    return !QHostAddress(host).isLoopback();
}

QLabel *makeNoNetworkNote(QWidget *parent)
{
    QLabel *note = makeRoleLabel(QCoreApplication::translate("ostra::PhoneAddress",
                                                             "This PC is on no network a phone can reach. Connect it "
                                                             "to the Wi-Fi your phone is on, then open this again."),
                                 "muted", parent);
    note->setObjectName(QStringLiteral("noNetworkNote"));
    note->setAlignment(Qt::AlignCenter);
    note->setWordWrap(true);
    return note;
}

} // namespace ostra
