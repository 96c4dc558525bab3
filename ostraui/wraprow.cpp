#include "ostraui/wraprow.h"

#include <QWidget>
#include <QWidgetItem>

#include <algorithm>

#include "ostraui/layoutitems.h"

namespace ostra {

namespace {

int itemHeight(const QLayoutItem *item, int width)
{
    const int min = item->minimumSize().height();
    if (item->hasHeightForWidth())
        return std::max(min, item->heightForWidth(width));
    return std::max(min, item->sizeHint().height());
}

} // namespace

WrapRow::WrapRow(int spacing, QWidget *parent)
    : QLayout(parent)
    , m_spacing(spacing)
{
    setContentsMargins(0, 0, 0, 0);
}

WrapRow::~WrapRow()
{
    while (QLayoutItem *item = takeAt(0))
        delete item;
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
    m_entries.append(Entry{item, stretch, minWidth});
    invalidate();
}

int WrapRow::count() const
{
    return int(m_entries.size());
}

QLayoutItem *WrapRow::itemAt(int index) const
{
    return index >= 0 && index < m_entries.size() ? m_entries.at(index).item : nullptr;
}

QLayoutItem *WrapRow::takeAt(int index)
{
    if (index < 0 || index >= m_entries.size())
        return nullptr;
    QLayoutItem *item = m_entries.takeAt(index).item;
    invalidate();
    return item;
}

Qt::Orientations WrapRow::expandingDirections() const
{
    return Qt::Horizontal;
}

bool WrapRow::hasHeightForWidth() const
{
    return true;
}

int WrapRow::heightForWidth(int width) const
{
    return doLayout(QRect(0, 0, width, 0), true);
}

void WrapRow::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    doLayout(rect, false);
}

QSize WrapRow::minimumSize() const
{
    QSize size(0, 0);
    for (const Entry &e : m_entries) {
        if (takesLayoutRoom(e.item))
            size = size.expandedTo(e.item->minimumSize());
    }
    return size;
}

QSize WrapRow::sizeHint() const
{
    int width = 0;
    for (const Entry &e : m_entries) {
        if (takesLayoutRoom(e.item))
            width += e.minWidth + m_spacing;
    }
    return QSize(width, heightForWidth(width));
}

int WrapRow::doLayout(const QRect &rect, bool testOnly) const
{
    QList<Entry> visible;
    for (const Entry &e : m_entries) {
        if (takesLayoutRoom(e.item))
            visible.append(e);
    }
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
