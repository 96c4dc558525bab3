#pragma once

#include <QLayout>
#include <QList>

namespace ostra {

// Common ground of the kit's height-for-width layouts: the owned items in insertion order,
// and one layout pass that either measures (testOnly) or places.
class KitLayout : public QLayout
{
    Q_OBJECT
public:
    explicit KitLayout(QWidget *parent = nullptr);
    ~KitLayout() override;

    void addItem(QLayoutItem *item) override;
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    void setGeometry(const QRect &rect) override;

protected:
    // Hidden widgets and empty spacers take neither room nor spacing.
    static bool takesRoom(const QLayoutItem *item);
    // The height an item needs at the given width, never below its minimum.
    static int itemHeight(const QLayoutItem *item, int width);
    QList<QLayoutItem *> visibleItems() const;
    // Returns the height used within rect; sets the items' geometries unless testOnly.
    virtual int doLayout(const QRect &rect, bool testOnly) const = 0;

    QList<QLayoutItem *> m_items;
};

} // namespace ostra
