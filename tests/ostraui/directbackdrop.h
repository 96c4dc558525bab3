#pragma once

#include <QEasingCurve>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdlib>

#include "ostraui/theme.h"

// The window's backdrop painted the plain way, as the reference for what the backdrop widget
// shows: the fill, three drifting lights as full-size radial gradients and the two dashed
// curves, at drift time t seconds.
inline QImage directBackdrop(const QSize &size, double t)
{
    struct Key
    {
        double t, dx, dy, scale;
    };
    struct Light
    {
        QColor color;
        double alpha, diameter, period;
        QPointF topLeft;
        QList<Key> keys;
    };
    const double w = size.width();
    const double h = size.height();
    const QColor blue(0x4C, 0xC2, 0xFF);
    const QList<Light> lights = {
        {blue, 0.48, 620, 16, {w + 140 - 620, -180}, {{0, 0, 0, 1}, {0.33, -260, 160, 1.25}, {0.66, -80, 260, 0.95}, {1, 0, 0, 1}}},
        {blue, 0.32, 520, 20, {180, h + 220 - 520}, {{0, 0, 0, 1}, {0.5, 320, -180, 1.2}, {1, 0, 0, 1}}},
        {QColor(0xFF, 0x2F, 0x2C), 0.16, 380, 13, {w - 0.22 * w - 380, h - 0.08 * h - 380},
         {{0, 0, 0, 1}, {0.5, -220, -160, 1.3}, {1, 0, 0, 1}}},
    };
    QImage image(size, QImage::Format_RGB32);
    image.fill(ostra::ThemeColors::windowBg);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (const Light &light : lights) {
        const double progress = std::fmod(t, light.period) / light.period;
        Key at{0, 0, 0, 1};
        for (int i = 0; i + 1 < light.keys.size(); ++i) {
            const Key &a = light.keys[i];
            const Key &b = light.keys[i + 1];
            if (a.t <= progress && progress <= b.t) {
                const double u = QEasingCurve(QEasingCurve::InOutSine).valueForProgress((progress - a.t) / (b.t - a.t));
                at = {0, a.dx + (b.dx - a.dx) * u, a.dy + (b.dy - a.dy) * u, a.scale + (b.scale - a.scale) * u};
                break;
            }
        }
        const double radius = light.diameter / 2 * at.scale;
        const QPointF centre = light.topLeft + QPointF(light.diameter / 2 + at.dx, light.diameter / 2 + at.dy);
        QRadialGradient gradient(centre, radius);
        QColor peak = light.color;
        peak.setAlphaF(float(light.alpha));
        QColor edge = light.color;
        edge.setAlphaF(0);
        gradient.setColorAt(0, peak);
        gradient.setColorAt(1, edge);
        p.setBrush(gradient);
        p.drawEllipse(centre, radius, radius);
    }
    QPainterPath curve1({-40, 760});
    curve1.cubicTo({300, 640}, {520, 900}, {820, 720});
    curve1.cubicTo({1120, 540}, {1300, 420}, {1660, 560});
    QPainterPath curve2({-40, 820});
    curve2.cubicTo({340, 700}, {560, 960}, {860, 780});
    curve2.cubicTo({1160, 600}, {1320, 500}, {1660, 640});
    const auto dashed = [](const QColor &color, double width, double dash, double gap, double offset) {
        QPen pen(color, width);
        pen.setCapStyle(Qt::FlatCap);
        pen.setDashPattern({dash, gap});
        pen.setDashOffset(offset);
        return pen;
    };
    p.scale(w / 1600, h / 1000);
    p.setOpacity(0.9);
    p.setBrush(Qt::NoBrush);
    p.setPen(dashed(QColor(0x9F, 0xC4, 0xE3), 1.4, 6 / 1.4, 10, std::fmod(t, 40) / 40 * 2400 / 1.4));
    p.drawPath(curve1);
    p.setPen(dashed(QColor(0xBC, 0xD0, 0xE2), 1.2, 2 / 1.2, 15, -std::fmod(t, 60) / 60 * 2400 / 1.2));
    p.drawPath(curve2);
    return image;
}

// How far two pictures of one size lie apart: the mean and the largest difference of a colour
// channel, in steps of 1/255.
struct PictureDistance
{
    double mean = 0;
    int largest = 0;
};

inline PictureDistance pictureDistance(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    PictureDistance d;
    qint64 sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            for (int channel : {std::abs(qRed(p[col]) - qRed(q[col])), std::abs(qGreen(p[col]) - qGreen(q[col])),
                                std::abs(qBlue(p[col]) - qBlue(q[col]))}) {
                sum += channel;
                d.largest = std::max(d.largest, channel);
            }
        }
    }
    d.mean = double(sum) / (3.0 * x.width() * x.height());
    return d;
}
