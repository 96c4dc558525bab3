#pragma once

#include <QBuffer>
#include <QColor>
#include <QImage>

#include "support/httpserver.h"

namespace ostratest {

// The HTTP server of the map tests: answers every tile GET with a red tile unless told otherwise.
class TileServer : public HttpServer
{
public:
    TileServer() { handler = [](const QString &) { return ok(png(QColor(220, 40, 40))); }; }

    static QByteArray png(const QColor &color)
    {
        QImage image(256, 256, QImage::Format_RGB32);
        image.fill(color);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        image.save(&buffer, "PNG");
        return bytes;
    }
};

} // namespace ostratest
