#pragma once

#include <QLayout>
#include <QList>

namespace ostra {

// Shares one row between a few panels by stretch; stacks them when their minimum widths no longer fit.
class WrapRow : public QLayout
{
    Q_OBJECT
public:
    explicit WrapRow(int spacing, QWidget *parent = nullptr);
    ~WrapRow() override;

    void addWidget(QWidget *widget, int stretch, int minWidth);
    void addLayout(QLayout *layout, int stretch, int minWidth);

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
    struct Entry
    {
        QLayoutItem *item;
        int stretch;
        int minWidth;
    };

    void append(QLayoutItem *item, int stretch, int minWidth);
    int doLayout(const QRect &rect, bool testOnly) const;

    QList<Entry> m_entries;
    int m_spacing;
};

} // namespace ostra
