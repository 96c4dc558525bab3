#pragma once

#include "ostraui/kitlayout.h"

namespace ostra {

// Equal-width columns whose count follows the available width.
class ResponsiveGrid : public KitLayout
{
    Q_OBJECT
public:
    explicit ResponsiveGrid(int minColumnWidth, int spacing, QWidget *parent = nullptr);

    void setMaxColumns(int n);
    void setFixedColumns(int n);

    Qt::Orientations expandingDirections() const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;

protected:
    int doLayout(const QRect &rect, bool testOnly) const override;

private:
    int columnsForWidth(int width) const;

    int m_minColumnWidth;
    int m_spacing;
    int m_maxColumns = 0;
    int m_fixedColumns = 0;
};

} // namespace ostra
