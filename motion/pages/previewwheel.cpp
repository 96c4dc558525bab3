#include "motion/pages/previewwheel.h"

#include "motion/pages/previewdrawing.h"
#include "ostraui/theme.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace corvane {

PreviewWheel::PreviewWheel(QWidget *parent)
    : QWidget(parent)
{
}

void PreviewWheel::setValues(float angle, float ffb, float force, bool live)
{
    m_angle = angle;
    m_ffb = ffb;
    m_force = force;
    m_live = live;
}

QString PreviewWheel::valueText() const
{
    if (std::abs(m_angle) < 1.0f)
        return tr("centred");
    return tr("%1\u00b0 %2").arg(std::lround(std::abs(m_angle))).arg(m_angle > 0 ? tr("right") : tr("left"));
}

void PreviewWheel::paintEvent(QPaintEvent *)
{
    using namespace ostra;
    QPainter p(this);
    drawPreviewCard(p, *this);
    drawPreviewHeader(p, rect(), tr("Wheel"), valueText());

    const QPointF m(width() / 2.0, height() / 2.0 + 14);
    const double r = (std::min(height() - 30, width()) - 24) / 2.0;
    const QRectF circle(m.x() - r, m.y() - r, 2 * r, 2 * r);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ThemeColors::hairline, 8, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(circle, 30 * 16, 120 * 16);
    if (std::abs(m_ffb) > 0.005f) {
        p.setPen(QPen(m_live ? ThemeColors::dangerAccent : ThemeColors::textMuted, 8, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(circle, 90 * 16, int(-std::clamp(m_ffb, -1.0f, 1.0f) * 60.0f * 16.0f));
    }

    p.save();
    p.translate(m);
    p.rotate(m_angle);
    const double r0 = r - 18;
    p.setPen(QPen(ThemeColors::ink, 14, Qt::SolidLine, Qt::SquareCap));
    p.drawEllipse(QPointF(0, 0), r0, r0);
    p.setPen(QPen(ThemeColors::ink, 10, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(-r0, 0), QPointF(-0.3 * r0, 0));
    p.drawLine(QPointF(r0, 0), QPointF(0.3 * r0, 0));
    p.drawLine(QPointF(0, 0.3 * r0), QPointF(0, r0));
    p.setPen(Qt::NoPen);
    p.setBrush(ThemeColors::ink);
    p.drawEllipse(QPointF(0, 0), 0.32 * r0, 0.32 * r0);
    p.setBrush(ThemeColors::dangerAccent);
    p.drawRoundedRect(QRectF(-5, -r0 - 7, 10, 14), 3, 3);
    p.restore();

    p.setPen(ThemeColors::inverseText);
    p.setFont(monoFont(13, 600));
    p.drawText(QRectF(m.x() - 40, m.y() - 12, 80, 24), Qt::AlignCenter,
               QStringLiteral("%1%").arg(std::lround(m_force * 100.0f)));
}

} // namespace corvane
