#include "ostraui/responsivegrid.h"

#include <algorithm>
#include <cmath>

namespace ostra {

ResponsiveGrid::ResponsiveGrid(int minColumnWidth, int spacing, QWidget *parent)
    : KitLayout(parent)
    , m_minColumnWidth(minColumnWidth)
    , m_spacing(spacing)
{
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

Qt::Orientations ResponsiveGrid::expandingDirections() const
{
    return Qt::Horizontal;
}

QSize ResponsiveGrid::minimumSize() const
{
    int height = 0;
    for (const QLayoutItem *item : visibleItems())
        height = std::max(height, item->minimumSize().height());
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
    const QList<QLayoutItem *> visible = visibleItems();
    if (visible.isEmpty())
        return 0;

    const int n = columnsForWidth(rect.width());
    const double cw = double(rect.width() - (n - 1) * m_spacing) / n;
    int y = rect.y();
    for (int first = 0; first < visible.size(); first += n) {
        const int last = std::min(first + n, int(visible.size()));
        int rowHeight = 0;
        for (int i = first; i < last; ++i)
            rowHeight = std::max(rowHeight, itemHeight(visible.at(i), int(cw)));
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
