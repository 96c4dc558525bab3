#include "receiver/colorwheelwidget.h"

#include <QConicalGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

const QColor kOutline(40, 51, 66);

QPen markerPen(const QColor &color, double width)
{
    return QPen(color, width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

} // namespace

ColorWheelWidget::ColorWheelWidget(QWidget *parent)
    : QWidget(parent)
{
    setMinimumSize(200, 200);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QColor ColorWheelWidget::reduced(const QColor &color)
{
    const int r = color.red() >> 5;
    const int g = color.green() >> 5;
    const int b = color.blue() >> 6;
    return QColor((r * 255 + 3) / 7, (g * 255 + 3) / 7, (b * 255 + 1) / 3);
}

void ColorWheelWidget::storeColor(const QColor &color)
{
    m_color = reduced(color);
    m_redLevel = color.red() >> 5;
    m_greenLevel = color.green() >> 5;
    m_blueLevel = color.blue() >> 6;
}

void ColorWheelWidget::setColor(const QColor &color)
{
    storeColor(color);
    const double hue = m_color.hsvHueF();
    m_hue = hue < 0 ? 0.0 : hue;
    m_saturation = m_color.hsvSaturationF();
    m_value = m_color.valueF();
    m_squareStale = true;
    update();
}

void ColorWheelWidget::resizeEvent(QResizeEvent *)
{
    const int side = std::min(width(), height());
    m_centre = QPointF(side * 0.5, side * 0.5);
    m_outerRadius = side * 0.5 - m_margin;
    m_innerRadius = m_outerRadius - m_ringWidth;
    const double q = m_innerRadius * 1.2;
    m_square = QRectF(m_centre.x() - q / 2, m_centre.y() - q / 2, q, q);
    // Drawn when painted: a layout may resize the wheel several times before it is shown.
    m_ringStale = true;
    m_squareStale = true;
}

void ColorWheelWidget::drawRing(int side)
{
    if (side < 1)
        return;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QConicalGradient gradient(m_centre, 0);
    for (int i = 0; i <= 360; i += 10)
        gradient.setColorAt(i / 360.0, QColor::fromHsvF(std::min(i / 360.0, 1.0), 1.0, 1.0, 1.0));
    QPainterPath ring;
    ring.addEllipse(m_centre, m_outerRadius, m_outerRadius);
    ring.addEllipse(m_centre, m_innerRadius, m_innerRadius);
    p.setPen(Qt::NoPen);
    p.fillPath(ring, gradient);
    p.setPen(markerPen(kOutline, 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(m_centre, m_outerRadius, m_outerRadius);
    p.drawEllipse(m_centre, m_innerRadius, m_innerRadius);
    m_ringImage = image;
}

void ColorWheelWidget::drawSquare()
{
    const int w = int(m_square.width());
    const int h = int(m_square.height());
    if (m_square.isEmpty() || w < 1 || h < 1)
        return;
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const double value = h > 1 ? 1.0 - double(y) / (h - 1) : 1.0;
        for (int x = 0; x < w; ++x) {
            const double saturation = w > 1 ? double(x) / (w - 1) : 0.0;
            line[x] = QColor::fromHsvF(m_hue, saturation, value, 1.0).rgba();
        }
    }
    m_squareImage = image;
}

void ColorWheelWidget::paintEvent(QPaintEvent *)
{
    if (m_ringStale) {
        drawRing(std::min(width(), height()));
        m_ringStale = false;
    }
    if (m_squareStale) {
        drawSquare();
        m_squareStale = false;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!m_ringImage.isNull())
        p.drawImage(QPointF(0, 0), m_ringImage);
    if (!m_squareImage.isNull())
        p.drawImage(m_square.topLeft(), m_squareImage);

    p.setBrush(m_color);
    p.setPen(markerPen(kOutline, 2));
    const double swatch = m_innerRadius * 0.6;
    p.drawRoundedRect(QRectF(m_centre.x() - swatch / 2, m_centre.y() - swatch / 2, swatch, swatch), 4, 4);

    p.setBrush(Qt::NoBrush);
    const double angle = -2.0 * M_PI * m_hue;
    const double middle = (m_outerRadius + m_innerRadius) / 2;
    const QPointF hueMark(m_centre.x() + middle * std::cos(angle), m_centre.y() + middle * std::sin(angle));
    p.setPen(markerPen(Qt::white, 2));
    p.drawEllipse(hueMark, 7, 7);
    p.setPen(markerPen(Qt::black, 1));
    p.drawEllipse(hueMark, 8, 8);

    const QPointF squareMark(m_square.left() + m_square.width() * m_saturation,
                             m_square.top() + (1.0 - m_value) * m_square.height());
    p.setPen(markerPen(Qt::white, 2));
    p.drawEllipse(squareMark, 6, 6);
    p.setPen(markerPen(Qt::black, 1));
    p.drawEllipse(squareMark, 7, 7);
}

void ColorWheelWidget::pickHueAt(const QPointF &point)
{
    double hue = -std::atan2(point.y() - m_centre.y(), point.x() - m_centre.x()) / (2.0 * M_PI);
    if (hue < 0)
        hue += 1.0;
    m_hue = hue;
    m_squareStale = true;
    emitCurrentColor();
    update();
}

void ColorWheelWidget::pickAt(const QPointF &point)
{
    const double dx = std::clamp(point.x() - m_square.left(), 0.0, m_square.width());
    const double dy = std::clamp(point.y() - m_square.top(), 0.0, m_square.height());
    m_saturation = m_square.width() > 0 ? dx / m_square.width() : 0.0;
    m_value = m_square.height() > 0 ? 1.0 - dy / m_square.height() : 1.0;
    emitCurrentColor();
    update();
}

void ColorWheelWidget::emitCurrentColor()
{
    storeColor(QColor::fromHsvF(m_hue, m_saturation, m_value, 1.0));
    emit colorChanged(m_color);
}

void ColorWheelWidget::mousePressEvent(QMouseEvent *event)
{
    const QPointF point = event->position();
    const double d = std::hypot(point.x() - m_centre.x(), point.y() - m_centre.y());
    if (d >= m_innerRadius && d <= m_outerRadius) {
        m_draggingRing = true;
        pickHueAt(point);
    } else if (point.x() >= m_square.left() && point.x() <= m_square.right() && point.y() >= m_square.top()
               && point.y() <= m_square.bottom()) {
        m_draggingSquare = true;
        pickAt(point);
    }
}

void ColorWheelWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (m_draggingRing)
        pickHueAt(event->position());
    else if (m_draggingSquare)
        pickAt(event->position());
}

void ColorWheelWidget::mouseReleaseEvent(QMouseEvent *)
{
    m_draggingRing = false;
    m_draggingSquare = false;
}

} // namespace corvane
