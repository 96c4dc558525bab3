#include "receiver/carposewidget.h"

#include <QPainter>
#include <QPainterPath>

#include "ostraui/theme.h"

namespace corvane {

CarPoseWidget::CarPoseWidget(QWidget *parent)
    : QWidget(parent)
{
    setFixedHeight(130);
}

void CarPoseWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double cx = width() / 2.0;
    const double groundY = height() - 18.0;

    p.setPen(QPen(ostra::ThemeColors::borderLight, 2));
    p.drawLine(QPointF(cx - 150, groundY), QPointF(cx + 150, groundY));

    p.save();
    // Pivot on the rear wheel, so a positive pitch lifts the front (to the right).
    p.translate(cx - 60, groundY - 13);
    p.rotate(-m_pitch);
    const QColor body = m_done ? ostra::ThemeColors::successAccent : ostra::ThemeColors::ink;
    QPainterPath chassis;
    chassis.addRoundedRect(QRectF(-34, -34, 150, 26), 9, 9);
    QPainterPath cabin;
    cabin.addRoundedRect(QRectF(8, -52, 64, 24), 8, 8);
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawPath(chassis.united(cabin));
    p.setPen(QPen(body, 4));
    p.setBrush(ostra::ThemeColors::surface);
    p.drawEllipse(QPointF(0, 0), 11, 11);
    p.drawEllipse(QPointF(84, 0), 11, 11);
    p.setPen(QPen(ostra::ThemeColors::textMuted, 2));
    p.drawLine(QPointF(124, -21), QPointF(144, -21));
    p.drawLine(QPointF(144, -21), QPointF(137, -27));
    p.drawLine(QPointF(144, -21), QPointF(137, -15));
    p.restore();

    if (m_pitch > 0) {
        p.setPen(ostra::ThemeColors::textSecondary);
        p.setFont(ostra::uiFont(12, 600));
        p.drawText(QRectF(cx + 50, 4, 120, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("~30°"));
    }
}

} // namespace corvane
