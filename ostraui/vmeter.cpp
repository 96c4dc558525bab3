#include "ostraui/vmeter.h"

#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>

#include "ostraui/theme.h"

namespace ostra {

VMeter::VMeter(QWidget *parent, int width)
    : QWidget(parent)
    , m_color(ThemeColors::accent)
    , m_trackColor(ThemeColors::borderLight)
    , m_radius(width / 2)
{
    if (width > 0)
        setFixedWidth(width);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
}

void VMeter::setColor(const QColor &color)
{
    m_color = color;
    update();
}

void VMeter::setValue(double value)
{
    const double v = std::clamp(value, 0.0, 1.0);
    if (qFuzzyCompare(v + 1, m_target + 1))
        return;
    m_target = v;
    if (!m_animated || !animationsEnabled() || !isVisible()) {
        m_shown = v;
        update();
        return;
    }
    if (!m_animation) {
        m_animation = new QVariantAnimation(this);
        m_animation->setDuration(300);
        m_animation->setEasingCurve(QEasingCurve::OutCubic);
        connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &shown) {
            m_shown = shown.toDouble();
            update();
        });
    }
    m_animation->stop();
    m_animation->setStartValue(m_shown);
    m_animation->setEndValue(v);
    m_animation->start();
}

void VMeter::setTrackColor(const QColor &color)
{
    m_trackColor = color;
    update();
}

void VMeter::setRadius(int px)
{
    m_radius = px;
    update();
}

void VMeter::setPadding(int px)
{
    m_padding = px;
    update();
}

void VMeter::setMarker(double position, const QColor &color)
{
    m_marker = position;
    m_markerColor = color;
    update();
}

void VMeter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF whole(rect());
    painter.setBrush(m_trackColor);
    painter.drawRoundedRect(whole, m_radius, m_radius);

    const QRectF inner = whole.adjusted(m_padding, m_padding, -m_padding, -m_padding);
    const double h = inner.height() * m_shown;
    if (h > 0.5) {
        int innerRadius = m_radius - m_padding;
        if (innerRadius < 1)
            innerRadius = 0;
        const double r = std::min<double>(innerRadius, h / 2);
        painter.setBrush(isEnabled() ? m_color : ThemeColors::textDisabled);
        painter.drawRoundedRect(QRectF(inner.left(), inner.bottom() - h, inner.width(), h), r, r);
    }

    if (m_marker >= 0) {
        painter.setPen(QPen(m_markerColor, 1.5));
        const double y = inner.bottom() - inner.height() * m_marker;
        painter.drawLine(QPointF(whole.left(), y), QPointF(whole.right(), y));
    }
}

} // namespace ostra
