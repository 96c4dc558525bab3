#include "ostraui/responsivegrid.h"

#include <QWidget>

#include <algorithm>
#include <cmath>

#include "ostraui/layoutitems.h"

namespace ostra {

ResponsiveGrid::ResponsiveGrid(int minColumnWidth, int spacing, QWidget *parent)
    : QLayout(parent)
    , m_minColumnWidth(minColumnWidth)
    , m_spacing(spacing)
{
    setContentsMargins(0, 0, 0, 0);
}

ResponsiveGrid::~ResponsiveGrid()
{
    while (QLayoutItem *item = takeAt(0))
        delete item;
}

void ResponsiveGrid::setMaxColumns(int n)
{
    m_maxColumns = n;
    invalidate();
}

void ResponsiveGrid::setFixedColumns(int n)
{
    m_fixedColumns = n;
    invalidate();
}

int ResponsiveGrid::columnsForWidth(int width) const
{
    if (m_fixedColumns >= 1)
        return m_fixedColumns;
    const int step = m_minColumnWidth + m_spacing;
    int n = step > 0 ? (width + m_spacing) / step : 1;
    n = std::max(n, 1);
    if (m_maxColumns >= 1 && n > m_maxColumns)
        n = m_maxColumns;
    return n;
}

void ResponsiveGrid::addItem(QLayoutItem *item)
{
    m_items.append(item);
    invalidate();
}

int ResponsiveGrid::count() const
{
    return int(m_items.size());
}

QLayoutItem *ResponsiveGrid::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem *ResponsiveGrid::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem *item = m_items.takeAt(index);
    invalidate();
    return item;
}

Qt::Orientations ResponsiveGrid::expandingDirections() const
{
    return Qt::Horizontal;
}

bool ResponsiveGrid::hasHeightForWidth() const
{
    return true;
}

int ResponsiveGrid::heightForWidth(int width) const
{
    return doLayout(QRect(0, 0, width, 0), true);
}

void ResponsiveGrid::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    doLayout(rect, false);
}

QSize ResponsiveGrid::minimumSize() const
{
    int height = 0;
    for (const QLayoutItem *item : m_items) {
        if (takesLayoutRoom(item))
            height = std::max(height, item->minimumSize().height());
    }
    return QSize(std::min(m_minColumnWidth, 240), height);
}

QSize ResponsiveGrid::sizeHint() const
{
    const int columns = std::max(std::min(int(m_items.size()), 2), 1);
    const int width = columns * m_minColumnWidth + m_spacing;
    return QSize(width, heightForWidth(width));
}

int ResponsiveGrid::doLayout(const QRect &rect, bool testOnly) const
{
    QList<QLayoutItem *> visible;
    for (QLayoutItem *item : m_items) {
        if (takesLayoutRoom(item))
            visible.append(item);
    }
    if (visible.isEmpty())
        return 0;

    const int n = columnsForWidth(rect.width());
    const double cw = double(rect.width() - (n - 1) * m_spacing) / n;
    int y = rect.y();
    for (int first = 0; first < visible.size(); first += n) {
        const int last = std::min(first + n, int(visible.size()));
        int rowHeight = 0;
        for (int i = first; i < last; ++i) {
            QLayoutItem *item = visible.at(i);
            const int h = item->hasHeightForWidth() ? item->heightForWidth(int(cw))
                                                    : item->sizeHint().height();
            rowHeight = std::max(rowHeight, std::max(item->minimumSize().height(), h));
        }
        if (!testOnly) {
            for (int i = first; i < last; ++i) {
                const int c = i - first;
                const int x0 = rect.x() + int(std::lround((m_spacing + cw) * c));
                const int x1 = rect.x() + int(std::lround((m_spacing + cw) * c + cw));
                visible.at(i)->setGeometry(QRect(x0, y, x1 - x0, rowHeight));
            }
        }
        y += rowHeight + m_spacing;
    }
    return y - m_spacing - rect.y();
}

} // namespace ostra
