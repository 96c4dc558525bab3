#include "ostraui/wraprow.h"

#include <QWidget>
#include <QWidgetItem>

#include <algorithm>

namespace ostra {

WrapRow::WrapRow(int spacing, QWidget *parent)
    : KitLayout(parent)
    , m_spacing(spacing)
{
}

void WrapRow::addWidget(QWidget *widget, int stretch, int minWidth)
{
    if (!widget)
        return;
    addChildWidget(widget);
    append(new QWidgetItem(widget), stretch, minWidth);
}

void WrapRow::addLayout(QLayout *layout, int stretch, int minWidth)
{
    if (!layout)
        return;
    addChildLayout(layout);
    append(layout, stretch, minWidth);
}

void WrapRow::addItem(QLayoutItem *item)
{
    append(item, 1, 0);
}

void WrapRow::append(QLayoutItem *item, int stretch, int minWidth)
{
    m_sizing.append({stretch, minWidth});
    KitLayout::addItem(item);
}

QLayoutItem *WrapRow::takeAt(int index)
{
    if (index >= 0 && index < m_sizing.size())
        m_sizing.removeAt(index);
    return KitLayout::takeAt(index);
}

QList<WrapRow::Entry> WrapRow::visibleEntries() const
{
    QList<Entry> out;
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (takesRoom(m_items.at(i)))
            out.append(Entry{m_items.at(i), m_sizing.at(i).first, m_sizing.at(i).second});
    }
    return out;
}

Qt::Orientations WrapRow::expandingDirections() const
{
    return Qt::Horizontal;
}

QSize WrapRow::minimumSize() const
{
    QSize size(0, 0);
    for (const QLayoutItem *item : visibleItems())
        size = size.expandedTo(item->minimumSize());
    return size;
}

QSize WrapRow::sizeHint() const
{
    int width = 0;
    for (const Entry &e : visibleEntries())
        width += e.minWidth + m_spacing;
    return QSize(width, heightForWidth(width));
}

int WrapRow::doLayout(const QRect &rect, bool testOnly) const
{
    const QList<Entry> visible = visibleEntries();
    if (visible.isEmpty())
        return 0;

    const int W = rect.width();
    const int k = int(visible.size());
    int minSum = 0;
    int stretchSum = 0;
    for (const Entry &e : visible) {
        minSum += e.minWidth;
        stretchSum += e.stretch;
    }

    if (W < std::max(k - 1, 0) * m_spacing + minSum) {
        int y = rect.y();
        for (const Entry &e : visible) {
            const int h = itemHeight(e.item, W);
            if (!testOnly)
                e.item->setGeometry(QRect(rect.x(), y, W, h));
            y += h + m_spacing;
        }
        return y - m_spacing - rect.y();
    }

    const int available = W - (k - 1) * m_spacing;
    QList<int> widths;
    int given = 0;
    for (int i = 0; i < k; ++i) {
        const Entry &e = visible.at(i);
        const int w = i + 1 < k
                          ? std::max(e.minWidth, available * e.stretch / std::max(stretchSum, 1))
                          : available - given;
        widths.append(w);
        given += w;
    }
    int rowHeight = 0;
    QList<int> heights;
    for (int i = 0; i < k; ++i) {
        heights.append(itemHeight(visible.at(i).item, widths.at(i)));
        rowHeight = std::max(rowHeight, heights.last());
    }
    if (!testOnly) {
        int x = rect.x();
        for (int i = 0; i < k; ++i) {
            QLayoutItem *item = visible.at(i).item;
            const int h = item->layout() ? rowHeight : heights.at(i);
            item->setGeometry(QRect(x, rect.y(), widths.at(i), h));
            x += widths.at(i) + m_spacing;
        }
    }
    return rowHeight;
}

} // namespace ostra
