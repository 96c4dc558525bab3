#pragma once

#include "ostraui/kitlayout.h"

namespace ostra {

// Shares one row between a few panels by stretch; stacks them when their minimum widths no longer fit.
class WrapRow : public KitLayout
{
    Q_OBJECT
public:
    explicit WrapRow(int spacing, QWidget *parent = nullptr);

    void addWidget(QWidget *widget, int stretch, int minWidth);
    void addLayout(QLayout *layout, int stretch, int minWidth);

    void addItem(QLayoutItem *item) override;
    QLayoutItem *takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;

protected:
    int doLayout(const QRect &rect, bool testOnly) const override;

private:
    struct Entry
    {
        QLayoutItem *item;
        int stretch;
        int minWidth;
    };

    void append(QLayoutItem *item, int stretch, int minWidth);
    QList<Entry> visibleEntries() const;

    // Stretch and minimum width of each item, in the same order as the items.
    QList<QPair<int, int>> m_sizing;
    int m_spacing;
};

} // namespace ostra
