#include "ostraui/listrow.h"

#include <QPainter>
#include <QPainterPath>

#include "ostraui/focusring.h"
#include "ostraui/theme.h"

namespace ostra {

ListRow::ListRow(const QString &title, QWidget *parent)
    : HoverButton(parent)
{
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ListRow::setSubtitle(const QString &subtitle)
{
    m_subtitle = subtitle;
    updateGeometry();
    update();
}

void ListRow::setTrailingText(const QString &text)
{
    m_trailing = text;
    update();
}

void ListRow::setShowChevron(bool show)
{
    m_showChevron = show;
    update();
}

QSize ListRow::sizeHint() const
{
    return QSize(200, m_subtitle.isEmpty() ? 44 : 56);
}

void ListRow::paintEvent(QPaintEvent *)
{
    using namespace ThemeColors;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r(rect());
    const bool enabled = isEnabled();

    if ((isHovered() || isDown()) && enabled) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(isDown() ? hairline : windowBg);
        painter.drawRoundedRect(r, 10, 10);
    }
    if (showsFocusRing(this))
        paintFocusRing(&painter, r, 10);

    double x = r.right() - 12;
    const double cy = r.center().y();
    if (m_showChevron) {
        painter.setPen(QPen(enabled ? textMuted : textDisabled, 1.6, Qt::SolidLine, Qt::RoundCap,
                            Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        QPainterPath chevron;
        chevron.moveTo(x - 4, cy - 4.5);
        chevron.lineTo(x, cy);
        chevron.lineTo(x - 4, cy + 4.5);
        painter.drawPath(chevron);
        x -= 16;
    }
    if (!m_trailing.isEmpty()) {
        const QFont trailingFont = monoFont(12, 400);
        painter.setFont(trailingFont);
        painter.setPen(textMuted);
        painter.drawText(QRectF(0, 0, x, r.height()), Qt::AlignRight | Qt::AlignVCenter, m_trailing);
        // The texts end before the trailing text instead of running under it.
        x -= QFontMetricsF(trailingFont).horizontalAdvance(m_trailing);
    }
    const double w = x - 24;

    painter.setFont(uiFont(14, 500));
    painter.setPen(enabled ? ink : textDisabled);
    if (m_subtitle.isEmpty()) {
        painter.drawText(QRectF(12, 0, w, r.height()), Qt::AlignLeft | Qt::AlignVCenter, text());
        return;
    }
    const double half = height() / 2.0;
    painter.drawText(QRectF(12, 0, w, half + 1), Qt::AlignLeft | Qt::AlignBottom, text());
    const QFont subFont = uiFont(12.5, 400);
    painter.setFont(subFont);
    painter.setPen(textMuted);
    const QString elided = QFontMetrics(subFont).elidedText(m_subtitle, Qt::ElideRight, int(w));
    painter.drawText(QRectF(12, half + 3, w, half), Qt::AlignLeft | Qt::AlignTop, elided);
}

} // namespace ostra
