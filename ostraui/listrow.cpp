#include "ostraui/listrow.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "ostraui/focusring.h"
#include "ostraui/theme.h"

namespace ostra {

ListRow::ListRow(const QString &title, QWidget *parent)
    : HoverButton(parent)
{
    setText(title);
    setCursor(Qt::PointingHandCursor);
    // Not fixed in height: a wrapped subtitle makes the row taller.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void ListRow::setSubtitle(const QString &subtitle)
{
    m_subtitle = subtitle;
    updateGeometry();
    update();
}

void ListRow::setTrailingText(const QString &text, bool monospace)
{
    m_trailing = text;
    m_trailingMono = monospace;
    updateGeometry();
    update();
}

void ListRow::setShowChevron(bool show)
{
    m_showChevron = show;
    updateGeometry();
    update();
}

QSize ListRow::sizeHint() const
{
    return QSize(200, m_subtitle.isEmpty() ? 44 : 56);
}

bool ListRow::hasHeightForWidth() const
{
    return !m_subtitle.isEmpty();
}

// A subtitle longer than the row wraps onto further lines rather than being cut.
int ListRow::heightForWidth(int width) const
{
    if (m_subtitle.isEmpty())
        return 44;
    const QFontMetrics metrics(uiFont(12.5, 400));
    const QRect wrapped = metrics.boundingRect(QRect(0, 0, std::max(1, textWidth(width)), 10000), Qt::TextWordWrap,
                                               m_subtitle);
    return 56 + std::max(0, wrapped.height() - metrics.height());
}

// Room for the texts in a row this wide: left of the trailing text and the chevron.
int ListRow::textWidth(int width) const
{
    double x = width - 12;
    if (m_showChevron)
        x -= 16;
    if (!m_trailing.isEmpty())
        x -= QFontMetricsF(trailingFont()).horizontalAdvance(m_trailing);
    return int(x - 24);
}

QFont ListRow::trailingFont() const
{
    return m_trailingMono ? monoFont(12, 400) : uiFont(12.5, 500);
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
        painter.setFont(trailingFont());
        painter.setPen(textMuted);
        painter.drawText(QRectF(0, 0, x, r.height()), Qt::AlignRight | Qt::AlignVCenter, m_trailing);
    }
    // The texts end before the trailing text instead of running under it.
    const double w = textWidth(width());

    painter.setFont(uiFont(14, 500));
    painter.setPen(enabled ? ink : textDisabled);
    if (m_subtitle.isEmpty()) {
        painter.drawText(QRectF(12, 0, w, r.height()), Qt::AlignLeft | Qt::AlignVCenter, text());
        return;
    }
    // The title sits where a one-line row puts it; further subtitle lines go below.
    const double half = 28;
    painter.drawText(QRectF(12, 0, w, half + 1), Qt::AlignLeft | Qt::AlignBottom, text());
    painter.setFont(uiFont(12.5, 400));
    painter.setPen(textMuted);
    painter.drawText(QRectF(12, half + 3, w, r.height() - half - 3), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     m_subtitle);
}

} // namespace ostra
