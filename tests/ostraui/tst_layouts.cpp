#include <QApplication>
#include <QWidget>

#include "ostraui/flowlayout.h"
#include "ostraui/responsivegrid.h"
#include "ostraui/wraprow.h"
#include "support/testenvironment.h"

using ostra::FlowLayout;
using ostra::ResponsiveGrid;
using ostra::WrapRow;

namespace {

// A widget with a fixed hint, so layout results depend on the layout alone.
class Box : public QWidget
{
public:
    explicit Box(QSize hint) : m_hint(hint) {}
    QSize sizeHint() const override { return m_hint; }
    QSize minimumSizeHint() const override { return QSize(10, 10); }

private:
    QSize m_hint;
};

// Lays out boxes of the given sizes at a width and returns their places.
QList<QRect> place(QLayout *layout, const QList<QSize> &sizes, int width)
{
    QList<QWidget *> boxes;
    for (const QSize &size : sizes) {
        boxes.append(new Box(size));
        layout->addWidget(boxes.last());
    }
    layout->setGeometry(QRect(0, 0, width, layout->heightForWidth(width)));
    QList<QRect> out;
    for (QWidget *box : boxes)
        out.append(box->geometry());
    return out;
}

} // namespace

class TestLayouts : public QObject
{
    Q_OBJECT

private slots:
    void flowWraps_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<QList<QRect>>("expected");
        // Items 100 x 20, spacing 8 both ways.
        QTest::newRow("exact fit stays") << 208 << QList<QRect>{{0, 0, 100, 20}, {108, 0, 100, 20}};
        QTest::newRow("one px short wraps") << 207 << QList<QRect>{{0, 0, 100, 20}, {0, 28, 100, 20}};
    }

    void flowWraps()
    {
        QFETCH(int, width);
        QFETCH(QList<QRect>, expected);
        QWidget host;
        QCOMPARE(place(new FlowLayout(&host, 8, 8), {QSize(100, 20), QSize(100, 20)}, width), expected);
    }

    void gridColumns_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<QList<QRect>>("expected");
        // Columns of at least 260, spacing 16; the spare pixel goes to the outer columns.
        QTest::newRow("three columns at 1000")
            << 1000 << QList<QRect>{{0, 0, 323, 50}, {339, 0, 322, 50}, {677, 0, 323, 50}};
        QTest::newRow("narrower than a column")
            << 200 << QList<QRect>{{0, 0, 200, 50}, {0, 66, 200, 50}, {0, 132, 200, 50}};
    }

    void gridColumns()
    {
        QFETCH(int, width);
        QFETCH(QList<QRect>, expected);
        QWidget host;
        QCOMPARE(place(new ResponsiveGrid(260, 16, &host), QList<QSize>(3, QSize(100, 50)), width), expected);
    }

    void wrapRowStacksOrShares_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<QList<QRect>>("expected");
        // Minimum widths 520 and 560 with spacing 16 need 1096 px side by side.
        QTest::newRow("1095 stacks") << 1095 << QList<QRect>{{0, 0, 1095, 100}, {0, 116, 1095, 80}};
        QTest::newRow("1096 shares") << 1096 << QList<QRect>{{0, 0, 540, 100}, {556, 0, 540, 80}};
    }

    void wrapRowStacksOrShares()
    {
        QFETCH(int, width);
        QFETCH(QList<QRect>, expected);
        QWidget host;
        auto *row = new WrapRow(16, &host);
        auto *a = new Box(QSize(300, 100));
        auto *b = new Box(QSize(300, 80));
        row->addWidget(a, 2, 520);
        row->addWidget(b, 2, 560);
        row->setGeometry(QRect(0, 0, width, row->heightForWidth(width)));
        QCOMPARE((QList<QRect>{a->geometry(), b->geometry()}), expected);
    }

};

OSTRA_TEST_MAIN_WIDGETS(TestLayouts)
#include "tst_layouts.moc"
