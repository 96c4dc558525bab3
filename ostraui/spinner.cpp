#include "ostraui/spinner.h"

#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>

#include "ostraui/alphacolor.h"
#include "ostraui/theme.h"

namespace ostra {

Spinner::Spinner(QWidget *parent, int size)
    : QWidget(parent)
    , m_size(size)
    , m_color(ThemeColors::textSecondary)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QSize Spinner::sizeHint() const
{
    return QSize(m_size, m_size);
}

void Spinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!animationsEnabled())
        return;
    if (!m_rotation) {
        m_rotation = new QVariantAnimation(this);
        m_rotation->setStartValue(0.0);
        m_rotation->setEndValue(360.0);
        m_rotation->setDuration(700);
        m_rotation->setLoopCount(-1);
        connect(m_rotation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            m_angle = value.toDouble();
            update();
        });
    }
    m_rotation->start();
}

void Spinner::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (m_rotation)
        m_rotation->stop();
}

void Spinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double pen = std::max(m_size / 7.0, 1.5);
    const QRectF circle = QRectF(rect()).adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2);
    painter.setPen(QPen(withAlpha(m_color, 0.22), pen));
    painter.drawEllipse(circle);
    painter.setPen(QPen(m_color, pen, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(circle, int((90 - m_angle) * 16), -90 * 16);
}

} // namespace ostra
