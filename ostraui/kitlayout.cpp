#include "ostraui/kitlayout.h"

#include <QWidget>

#include <algorithm>

namespace ostra {

KitLayout::KitLayout(QWidget *parent)
    : QLayout(parent)
{
    setContentsMargins(0, 0, 0, 0);
}

KitLayout::~KitLayout()
{
    qDeleteAll(m_items);
}

void KitLayout::addItem(QLayoutItem *item)
{
    m_items.append(item);
    invalidate();
}

int KitLayout::count() const
{
    return int(m_items.size());
}

QLayoutItem *KitLayout::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem *KitLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem *item = m_items.takeAt(index);
    invalidate();
    return item;
}

bool KitLayout::hasHeightForWidth() const
{
    return true;
}

int KitLayout::heightForWidth(int width) const
{
    return doLayout(QRect(0, 0, width, 0), true);
}

void KitLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    doLayout(rect, false);
}

bool KitLayout::takesRoom(const QLayoutItem *item)
{
    if (!item)
        return false;
    if (QWidget *w = item->widget())
        return !w->isHidden();
    return !item->isEmpty() || const_cast<QLayoutItem *>(item)->layout() != nullptr;
}

int KitLayout::itemHeight(const QLayoutItem *item, int width)
{
    const int min = item->minimumSize().height();
    if (item->hasHeightForWidth())
        return std::max(min, item->heightForWidth(width));
    return std::max(min, item->sizeHint().height());
}

QList<QLayoutItem *> KitLayout::visibleItems() const
{
    QList<QLayoutItem *> out;
    for (QLayoutItem *item : m_items) {
        if (takesRoom(item))
            out.append(item);
    }
    return out;
}

} // namespace ostra
