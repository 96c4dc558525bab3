#include "dialogs/ffbbar.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ostraui/theme.h"

namespace corvane {

namespace {

constexpr qreal TrackHeight = 10.0;
// A fill narrower than this would only smear the centre tick.
constexpr qreal MinFill = 0.5;

} // namespace

FfbBar::FfbBar(QWidget *parent)
    : QWidget(parent)
{
    setMinimumHeight(22);
}

void FfbBar::setLevel(float level)
{
    const float clamped = std::isnan(level) ? 0.0f : std::clamp(level, -1.0f, 1.0f);
    if (clamped == m_level)
        return;
    m_level = clamped;
    update();
}

void FfbBar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = width();
    const qreal h = std::min(TrackHeight, qreal(height()));
    const QRectF track(0.0, (height() - h) / 2.0, w, h);
    const qreal radius = h / 2.0;

    // The theme's hairline, ink and disabled-text tokens: the light values are the bar's own
    // colours, the dark ones keep it readable on a dark card.
    p.setPen(Qt::NoPen);
    p.setBrush(ostra::ThemeColors::hairline);
    p.drawRoundedRect(track, radius, radius);

    const qreal centre = track.center().x();
    const qreal fill = track.width() * 0.5 * std::fabs(m_level);
    if (fill > MinFill) {
        const qreal left = m_level > 0.0f ? centre : centre - fill;
        p.setBrush(ostra::ThemeColors::ink);
        p.drawRoundedRect(QRectF(left, track.top(), fill, track.height()), radius, radius);
    }

    p.setPen(QPen(ostra::ThemeColors::textDisabled, 2.0));
    const qreal x = std::round(centre) + 0.5;
    p.drawLine(QPointF(x, track.top() - 2.0), QPointF(x, track.bottom() + 2.0));
}

} // namespace corvane
