#include "ostraui/toggle.h"

#include <QPainter>
#include <QVariantAnimation>

#include "ostraui/alphacolor.h"
#include "ostraui/focusring.h"
#include "ostraui/theme.h"

namespace ostra {

Toggle::Toggle(QWidget *parent)
    : QAbstractButton(parent)
    , m_animation(new QVariantAnimation(this))
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(34, 20);
    m_animation->setEasingCurve(motionCurve());
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_knob = value.toDouble();
        update();
    });
}

QSize Toggle::sizeHint() const
{
    return QSize(34, 20);
}

void Toggle::checkStateSet()
{
    QAbstractButton::checkStateSet();
    animateKnob(isChecked());
}

void Toggle::nextCheckState()
{
    QAbstractButton::nextCheckState();
    animateKnob(isChecked());
}

void Toggle::animateKnob(bool on)
{
    m_animation->stop();
    const int duration = animDuration(220);
    m_animation->setDuration(duration);
    const double end = on ? 1.0 : 0.0;
    if (duration != 0 && isVisible()) {
        m_animation->setStartValue(m_knob);
        m_animation->setEndValue(end);
        m_animation->start();
    } else {
        m_knob = end;
        update();
    }
}

void Toggle::paintEvent(QPaintEvent *)
{
    const QColor off = ThemeColors::controlBorder;
    const QColor on = ThemeColors::toggleOn;
    const auto mix = [this](int a, int b) { return int(a + (b - a) * m_knob); };
    QColor track(mix(off.red(), on.red()), mix(off.green(), on.green()), mix(off.blue(), on.blue()));
    if (!isEnabled())
        track.setAlphaF(0.45f);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(track);
    painter.drawRoundedRect(QRectF(0, 0, 34, 20), 10, 10);

    const double x = m_knob * 14 + 2;
    painter.setBrush(withAlpha(ThemeColors::shadow, 0.18));
    painter.drawEllipse(QRectF(x, 2.6, 16, 16));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, 2.0, 16, 16));
    if (showsFocusRing(this))
        paintFocusRing(&painter, rect(), 10);
}

} // namespace ostra
