#include "motion/pages/previewheading.h"

#include "motion/pages/previewdrawing.h"
#include "ostraui/theme.h"

#include <QPainter>

namespace corvane {

PreviewHeading::PreviewHeading(QWidget *parent)
    : QWidget(parent)
{
}

void PreviewHeading::setValues(float yaw, bool live)
{
    m_yaw = yaw;
    m_live = live;
}

QString PreviewHeading::valueText() const
{
    return m_live ? formatSigned(m_yaw, 0, QStringLiteral("\u00b0")) : tr("no data");
}

void PreviewHeading::paintEvent(QPaintEvent *)
{
    using namespace ostra;
    QPainter p(this);
    drawPreviewCard(p, *this);
    drawPreviewHeader(p, rect(), tr("Heading"), valueText());

    p.translate(width() / 2.0, height() / 2.0 + 12);
    p.rotate(m_yaw);
    p.setPen(Qt::NoPen);
    p.setBrush(m_live ? ThemeColors::ink : ThemeColors::textDisabled);
    p.drawRoundedRect(QRectF(-12, -26, 24, 52), 7, 7);
    p.setBrush(ThemeColors::dangerAccent);
    const QPointF nose[3] = { { 0, -37 }, { -8, -26 }, { 8, -26 } };
    p.drawPolygon(nose, 3);
}

} // namespace corvane
