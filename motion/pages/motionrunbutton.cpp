#include "motion/pages/motionrunbutton.h"

#include "ostraui/theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace corvane {

MotionRunButton::MotionRunButton(const QString &text, QWidget *parent)
    : QPushButton(text, parent)
{
}

void MotionRunButton::setProgress(double progress)
{
    const double clamped = std::clamp(progress, 0.0, 1.0);
    if (qFuzzyCompare(clamped + 1, m_progress + 1))
        return;
    m_progress = clamped;
    update();
}

void MotionRunButton::paintEvent(QPaintEvent *event)
{
    QPushButton::paintEvent(event);
    if (m_progress <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor fill = ostra::levelAccentColor(ostra::LevelInfo);
    fill.setAlphaF(0.35f);
    painter.setBrush(fill);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 12, 12);
    painter.setClipPath(clip);
    painter.drawRect(QRectF(0, 0, width() * std::min(m_progress, 1.0), height()));
}

} // namespace corvane
