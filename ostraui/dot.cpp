#include "ostraui/dot.h"

#include <QPainter>
#include <QVariantAnimation>

#include <cmath>

#include "ostraui/alphacolor.h"
#include "ostraui/theme.h"

namespace ostra {

namespace {

// A pulse or ripple is a slow change: 25 steps a second look smooth and cost less than 60.
constexpr int StepMs = 40;

} // namespace

Dot::Dot(QWidget *parent, int size)
    : QWidget(parent)
    , m_color(ThemeColors::successAccent)
    , m_size(size)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Dot::setColor(const QColor &color)
{
    m_color = color;
    updatePulse();
    update();
}

void Dot::setPulsing(bool on, int periodMs)
{
    m_pulsing = on;
    m_pulsePeriod = periodMs;
    updatePulse();
    update();
}

void Dot::setRipple(bool on, int periodMs)
{
    m_ripple = on;
    m_ripplePeriod = periodMs;
    updatePulse();
    update();
}

void Dot::updatePulse()
{
    const bool run = (m_pulsing || m_ripple) && isVisible() && animationsEnabled();
    driveLoop(m_animation, this, run, m_ripple ? m_ripplePeriod : m_pulsePeriod, [this](double t) {
        if (m_step.isValid() && m_step.elapsed() < StepMs)
            return;
        m_step.start();
        m_phase = t;
        update();
    });
    if (!run)
        m_phase = 0;
}

void Dot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QPointF centre = QRectF(rect()).center();
    const bool running = m_animation && m_animation->state() == QAbstractAnimation::Running;
    const double ringBase = m_size * 22.0 / 52.0 * 0.5;

    if (m_ripple && running) {
        painter.setBrush(withAlpha(m_color, (1 - m_phase) * 0.55));
        const double r = (0.6 + 1.8 * m_phase) * ringBase;
        painter.drawEllipse(centre, r, r);
    }

    QColor fill = m_color;
    if (m_pulsing && running)
        fill.setAlphaF(float(1 - std::sin(M_PI * m_phase) * 0.65));
    painter.setBrush(fill);
    const double r = (m_ripple || m_size >= 30) ? ringBase : m_size * 0.5;
    painter.drawEllipse(centre, r, r);
}

void Dot::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updatePulse();
}

void Dot::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updatePulse();
}

} // namespace ostra
