#pragma once

#include "ostraui/kitlayout.h"

namespace ostra {

// Items in rows that wrap like words.
class FlowLayout : public KitLayout
{
    Q_OBJECT
public:
    FlowLayout(QWidget *parent, int hSpacing, int vSpacing);

    Qt::Orientations expandingDirections() const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;

protected:
    int doLayout(const QRect &rect, bool testOnly) const override;

private:
    int m_hSpacing;
    int m_vSpacing;
};

} // namespace ostra
