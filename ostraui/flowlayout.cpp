#include "ostraui/flowlayout.h"

#include <QWidget>

#include <algorithm>

#include "ostraui/layoutitems.h"

namespace ostra {

FlowLayout::FlowLayout(QWidget *parent, int hSpacing, int vSpacing)
    : QLayout(parent)
    , m_hSpacing(hSpacing)
    , m_vSpacing(vSpacing)
{
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout()
{
    while (QLayoutItem *item = takeAt(0))
        delete item;
}

void FlowLayout::addItem(QLayoutItem *item)
{
    m_items.append(item);
    invalidate();
}

int FlowLayout::count() const
{
    return int(m_items.size());
}

QLayoutItem *FlowLayout::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem *FlowLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem *item = m_items.takeAt(index);
    invalidate();
    return item;
}

Qt::Orientations FlowLayout::expandingDirections() const
{
    return {};
}

bool FlowLayout::hasHeightForWidth() const
{
    return true;
}

int FlowLayout::heightForWidth(int width) const
{
    return doLayout(QRect(0, 0, width, 0), true);
}

void FlowLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    doLayout(rect, false);
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
    bool any = false;
    for (const QLayoutItem *item : m_items) {
        if (!takesLayoutRoom(item))
            continue;
        const QSize s = item->sizeHint();
        width += s.width() + m_hSpacing;
        height = std::max(height, s.height());
        any = true;
    }
    if (any)
        width -= m_hSpacing;
    return QSize(std::max(width, 0), height);
}

int FlowLayout::doLayout(const QRect &rect, bool testOnly) const
{
    const QRect e = rect.marginsRemoved(contentsMargins());
    int x = e.x();
    int y = e.y();
    int lineHeight = 0;
    for (QLayoutItem *item : m_items) {
        if (!takesLayoutRoom(item))
            continue;
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
