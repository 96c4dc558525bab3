#include "ostraui/flowlayout.h"

#include <algorithm>

namespace ostra {

FlowLayout::FlowLayout(QWidget *parent, int hSpacing, int vSpacing)
    : KitLayout(parent)
    , m_hSpacing(hSpacing)
    , m_vSpacing(vSpacing)
{
}

Qt::Orientations FlowLayout::expandingDirections() const
{
    return {};
}

QSize FlowLayout::minimumSize() const
{
    QSize size;
    for (const QLayoutItem *item : m_items)
        size = size.expandedTo(item->minimumSize());
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize FlowLayout::sizeHint() const
{
    int width = 0;
    int height = 0;
    const QList<QLayoutItem *> visible = visibleItems();
    for (const QLayoutItem *item : visible) {
        const QSize s = item->sizeHint();
        width += s.width() + m_hSpacing;
        height = std::max(height, s.height());
    }
    if (!visible.isEmpty())
        width -= m_hSpacing;
    return QSize(std::max(width, 0), height);
}

int FlowLayout::doLayout(const QRect &rect, bool testOnly) const
{
    const QRect e = rect.marginsRemoved(contentsMargins());
    int x = e.x();
    int y = e.y();
    int lineHeight = 0;
    for (QLayoutItem *item : visibleItems()) {
        const QSize s = item->sizeHint();
        if (x + s.width() > e.x() + e.width() && lineHeight > 0) {
            x = e.x();
            y += lineHeight + m_vSpacing;
            lineHeight = 0;
        }
        if (!testOnly)
            item->setGeometry(QRect(QPoint(x, y), s));
        x += s.width() + m_hSpacing;
        lineHeight = std::max(lineHeight, s.height());
    }
    return y + lineHeight + contentsMargins().bottom() - rect.y();
}

} // namespace ostra
