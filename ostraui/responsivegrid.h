#pragma once

#include <QLayout>
#include <QList>

namespace ostra {

// Equal-width columns whose count follows the available width.
class ResponsiveGrid : public QLayout
{
    Q_OBJECT
public:
    explicit ResponsiveGrid(int minColumnWidth, int spacing, QWidget *parent = nullptr);
    ~ResponsiveGrid() override;

    void setMaxColumns(int n);
    void setFixedColumns(int n);

    void addItem(QLayoutItem *item) override;
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    void setGeometry(const QRect &rect) override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;

private:
    int columnsForWidth(int width) const;
    int doLayout(const QRect &rect, bool testOnly) const;

    QList<QLayoutItem *> m_items;
    int m_minColumnWidth;
    int m_spacing;
    int m_maxColumns = 0;
    int m_fixedColumns = 0;
};

} // namespace ostra
