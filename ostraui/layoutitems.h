#pragma once

#include <QLayoutItem>
#include <QWidget>

namespace ostra {

// Hidden widgets and empty spacers take neither room nor spacing in the kit's layouts.
inline bool takesLayoutRoom(const QLayoutItem *item)
{
    if (!item)
        return false;
    if (QWidget *w = item->widget())
        return !w->isHidden();
    return !item->isEmpty() || const_cast<QLayoutItem *>(item)->layout() != nullptr;
}

} // namespace ostra
