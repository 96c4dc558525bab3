#include "motion/pages/previewactuators.h"

#include "motion/pages/previewdrawing.h"
#include "ostraui/theme.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace corvane {

PreviewActuators::PreviewActuators(QWidget *parent)
    : QWidget(parent)
{
}

void PreviewActuators::setValues(const std::array<float, 4> &positions, bool live)
{
    m_positions = positions;
    m_live = live;
}

void PreviewActuators::paintEvent(QPaintEvent *)
{
    using namespace ostra;
    QPainter p(this);
    drawPreviewCard(p, *this);
    drawPreviewHeader(p, rect(), tr("Actuators"), QStringLiteral("%"));

    static const char *const names[4] = { "FL", "FR", "RL", "RR" };
    const double top = rect().top() + 48;
    const double bottom = rect().bottom() - 22;
    const double span = bottom - top;
    const double w4 = (width() - 20) / 4.0;
    const QFont nameFont = uiFont(11, 500);
    const QFont levelFont = monoFont(11, 400);
    for (int i = 0; i < 4; ++i) {
        const double x = rect().left() + 10 + (i + 0.5) * w4;
        const float position = m_positions[size_t(i)];
        p.setPen(Qt::NoPen);
        p.setBrush(ThemeColors::hairline);
        p.drawRoundedRect(QRectF(x - 6, top, 12, span), 6, 6);
        const double f = (std::clamp(position, -1.0f, 1.0f) + 1.0) / 2.0;
        p.setBrush(!m_live ? ThemeColors::textDisabled
                           : std::abs(position) > 0.9f ? ThemeColors::dangerAccent : ThemeColors::accent);
        p.drawRoundedRect(QRectF(x - 6, bottom - f * span, 12, f * span), 6, 6);
        p.setFont(nameFont);
        p.setPen(ThemeColors::textSecondary);
        p.drawText(QRectF(x - 20, bottom + 2, 40, 16), Qt::AlignCenter, QLatin1String(names[i]));
        p.setFont(levelFont);
        p.setPen(ThemeColors::ink);
        p.drawText(QRectF(x - 20, top - 16, 40, 14), Qt::AlignCenter, QString::number(std::lround(f * 100)));
    }
}

} // namespace corvane
