#include "ostraui/meter.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ostraui/theme.h"

namespace ostra {

Meter::Meter(QWidget *parent, const QColor &color)
    : QWidget(parent)
    , m_color(color.isValid() ? color : ThemeColors::accent)
    , m_centerLineColor(ThemeColors::textDisabled)
{
    setFixedHeight(m_thickness);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Meter::setColor(const QColor &color)
{
    m_color = color;
    update();
}

void Meter::setValue(double value)
{
    const double clamped = m_bipolar ? std::clamp(value, -1.0, 1.0) : std::clamp(value, 0.0, 1.0);
    if (qFuzzyCompare(clamped + 2, m_value + 2))
        return;
    m_value = clamped;
    update();
}

void Meter::setBipolar(bool bipolar)
{
    m_bipolar = bipolar;
    update();
}

void Meter::setCenterLine(bool on, const QColor &color)
{
    m_centerLine = on;
    m_centerLineColor = color;
    update();
}

void Meter::setThickness(int px)
{
    m_thickness = px;
    setFixedHeight(px);
    update();
}

QSize Meter::sizeHint() const
{
    return QSize(120, m_thickness);
}

void Meter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const double w = width();
    const double h = height();
    const double r = h / 2;

    painter.setBrush(ThemeColors::hairline);
    painter.drawRoundedRect(QRectF(rect()), r, r);

    painter.setBrush(isEnabled() ? m_color : ThemeColors::textDisabled);
    const double c = w / 2;
    if (m_bipolar) {
        const double bar = w / 2 * std::abs(m_value);
        if (bar > 0.5) {
            const QRectF rect = m_value > 0 ? QRectF(c, 0, bar, h) : QRectF(c - bar, 0, bar, h);
            painter.drawRoundedRect(rect, r, r);
        }
    } else if (w * m_value > 0.5) {
        painter.drawRoundedRect(QRectF(0, 0, std::max(h, w * m_value), h), r, r);
    }

    if (m_centerLine || m_bipolar) {
        painter.setPen(QPen(m_centerLineColor, 2));
        const double x = std::round(c) + 0.5;
        painter.drawLine(QPointF(x, 0), QPointF(x, h));
    }
}

} // namespace ostra
