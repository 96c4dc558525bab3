#include "motion/pages/previewgball.h"

#include "motion/pages/previewdrawing.h"
#include "ostraui/theme.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace corvane {

PreviewGBall::PreviewGBall(QWidget *parent)
    : QWidget(parent)
{
}

void PreviewGBall::setValues(float lateral, float longitudinal, float heave, bool live)
{
    m_lateral = lateral;
    m_longitudinal = longitudinal;
    m_heave = heave;
    m_live = live;
}

QString PreviewGBall::valueText() const
{
    if (!m_live)
        return tr("no data");
    return tr("%1 g").arg(std::hypot(double(m_lateral), double(m_longitudinal)), 0, 'f', 2);
}

void PreviewGBall::paintEvent(QPaintEvent *)
{
    using namespace ostra;
    QPainter p(this);
    drawPreviewCard(p, *this);
    // A wrapped title pushes the ball down by its second line.
    const int extra = drawPreviewHeader(p, rect(), tr("Push you feel"), valueText());
    const double r = std::min(height() - 44 - extra, width() - 60) / 2.0;
    const QPointF b = QRectF(rect()).center() + QPointF(-12, 12 + extra / 2.0);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ThemeColors::borderLight, 1.5, Qt::SolidLine, Qt::SquareCap));
    p.drawEllipse(b, r, r);
    p.drawEllipse(b, r / 1.5, r / 1.5);
    p.drawLine(b - QPointF(r, 0), b + QPointF(r, 0));
    p.drawLine(b - QPointF(0, r), b + QPointF(0, r));

    // Each axis is limited by itself: the push can reach the corners of the square.
    const QPointF dot = b + QPointF(std::clamp(-m_lateral / 1.5, -1.0, 1.0) * r, std::clamp(m_longitudinal / 1.5, -1.0, 1.0) * r);
    p.setPen(Qt::NoPen);
    p.setBrush(m_live ? ThemeColors::dangerAccent : ThemeColors::textDisabled);
    p.drawEllipse(dot, 7, 7);

    const QRectF track(rect().right() - 26, b.y() - r, 10, 2 * r);
    p.setBrush(ThemeColors::hairline);
    p.drawRoundedRect(track, 5, 5);
    const double v = std::clamp(double(m_heave), -1.0, 1.0) * r;
    const double mid = track.center().y();
    p.setBrush(m_live ? ThemeColors::accent : ThemeColors::textDisabled);
    if (v > 0)
        p.drawRoundedRect(QRectF(track.left(), mid - v, 10, v), 4, 4);
    else
        p.drawRoundedRect(QRectF(track.left(), mid, 10, -v), 4, 4);
}

} // namespace corvane
