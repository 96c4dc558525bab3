#include <QApplication>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <QWidget>

#include "ostraui/flowlayout.h"
#include "ostraui/responsivegrid.h"
#include "ostraui/wraprow.h"
#include "support/testenvironment.h"

using ostra::FlowLayout;
using ostra::ResponsiveGrid;
using ostra::WrapRow;

namespace {

// A widget with fixed hints, so layout results depend on the layout alone.
class Box : public QWidget
{
public:
    Box(QSize hint, int heightPerWidth = 0) : m_hint(hint), m_heightPerWidth(heightPerWidth)
    {
        QSizePolicy p = sizePolicy();
        p.setHeightForWidth(heightPerWidth != 0);
        setSizePolicy(p);
    }
    QSize sizeHint() const override { return m_hint; }
    QSize minimumSizeHint() const override { return QSize(10, 10); }
    bool hasHeightForWidth() const override { return m_heightPerWidth != 0; }
    // Wraps like text: the narrower, the taller.
    int heightForWidth(int w) const override { return m_heightPerWidth * 1000 / std::max(w, 1); }

private:
    QSize m_hint;
    int m_heightPerWidth;
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
    void flowPlacesAndWraps_data();
    void flowPlacesAndWraps();
    void gridColumns_data();
    void gridColumns();
    void gridMaxAndFixedColumns();
    void gridRowHeightFollowsHeightForWidth();
    void wrapRowStacksOrShares_data();
    void wrapRowStacksOrShares();
    void wrapRowNestedLayoutFillsRowHeight();
    void emptyOrHiddenHasNoHeight_data();
    void emptyOrHiddenHasNoHeight();
    void itemList();
};

void TestLayouts::flowPlacesAndWraps_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<int>>("itemWidths");
    QTest::addColumn<QList<QPoint>>("positions");
    // Items are 20 px high, spacing 8 both ways.
    QTest::newRow("exact fit stays") << 208 << QList<int>{100, 100} << QList<QPoint>{{0, 0}, {108, 0}};
    QTest::newRow("one px short wraps") << 207 << QList<int>{100, 100} << QList<QPoint>{{0, 0}, {0, 28}};
    QTest::newRow("too wide sits alone")
        << 150 << QList<int>{400, 50, 50} << QList<QPoint>{{0, 0}, {0, 28}, {58, 28}};
    QTest::newRow("three rows") << 100 << QList<int>{60, 60, 60} << QList<QPoint>{{0, 0}, {0, 28}, {0, 56}};
}

void TestLayouts::flowPlacesAndWraps()
{
    QFETCH(int, width);
    QFETCH(QList<int>, itemWidths);
    QFETCH(QList<QPoint>, positions);
    QList<QSize> sizes;
    QList<QRect> expected;
    for (int i = 0; i < itemWidths.size(); ++i) {
        sizes.append(QSize(itemWidths[i], 20));
        expected.append(QRect(positions[i], sizes.last()));
    }
    QWidget host;
    auto *flow = new FlowLayout(&host, 8, 8);
    QCOMPARE(place(flow, sizes, width), expected);
    QCOMPARE(flow->heightForWidth(width), positions.last().y() + 20);
}

void TestLayouts::gridColumns_data()
{
    QTest::addColumn<int>("minColumn");
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<QRect>>("expected");
    // Spacing 16; the spare pixel goes to the outer columns.
    QTest::newRow("three columns at 1000")
        << 260 << 1000 << QList<QRect>{{0, 0, 323, 50}, {339, 0, 322, 50}, {677, 0, 323, 50}};
    QTest::newRow("narrower than a column")
        << 260 << 200 << QList<QRect>{{0, 0, 200, 50}, {0, 66, 200, 50}, {0, 132, 200, 50}};
    QTest::newRow("two columns exactly")
        << 340 << 696 << QList<QRect>{{0, 0, 340, 50}, {356, 0, 340, 50}, {0, 66, 340, 50}};
    QTest::newRow("non-positive column step is one column")
        << -16 << 300 << QList<QRect>{{0, 0, 300, 50}, {0, 66, 300, 50}, {0, 132, 300, 50}};
}

void TestLayouts::gridColumns()
{
    QFETCH(int, minColumn);
    QFETCH(int, width);
    QFETCH(QList<QRect>, expected);
    QWidget host;
    auto *grid = new ResponsiveGrid(minColumn, 16, &host);
    QCOMPARE(place(grid, QList<QSize>(expected.size(), QSize(100, 50)), width), expected);
    QCOMPARE(grid->heightForWidth(width), expected.last().bottom() + 1);
}

void TestLayouts::gridMaxAndFixedColumns()
{
    QWidget host;
    auto *grid = new ResponsiveGrid(68, 8, &host);
    grid->setMaxColumns(8);
    const int width = 10 * 68 + 9 * 8; // room for ten columns
    const QList<QRect> cells = place(grid, QList<QSize>(16, QSize(60, 132)), width);
    QCOMPARE(grid->heightForWidth(width), 132 * 2 + 8);
    for (int i = 0; i < 16; ++i)
        QCOMPARE(cells[i].y(), i < 8 ? 0 : 140);
    QCOMPARE(cells[7].right(), width - 1);
    grid->setFixedColumns(4);
    QCOMPARE(grid->heightForWidth(width), 4 * 132 + 3 * 8);
}

void TestLayouts::gridRowHeightFollowsHeightForWidth()
{
    QWidget host;
    auto *grid = new ResponsiveGrid(100, 0, &host);
    auto *text = new Box(QSize(50, 20), 40); // 40000 / width px high
    auto *plain = new Box(QSize(50, 30));
    grid->addWidget(text);
    grid->addWidget(plain);
    // 200 px: two columns of 100, text 400 px high sets the row.
    QCOMPARE(grid->heightForWidth(200), 400);
    grid->setGeometry(QRect(0, 0, 200, 400));
    QCOMPARE(plain->geometry(), QRect(100, 0, 100, 400));
    // 199 px: one column of 199.
    QCOMPARE(grid->heightForWidth(199), 40000 / 199 + 30);
}

void TestLayouts::wrapRowStacksOrShares_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<QRect>>("expected");
    // Minimum widths 520 and 560 with spacing 16 need 1096 px side by side.
    QTest::newRow("1095 stacks") << 1095 << QList<QRect>{{0, 0, 1095, 100}, {0, 116, 1095, 80}};
    QTest::newRow("1096 shares") << 1096 << QList<QRect>{{0, 0, 540, 100}, {556, 0, 540, 80}};
    QTest::newRow("wide shares by stretch") << 1416 << QList<QRect>{{0, 0, 700, 100}, {716, 0, 700, 80}};
}

void TestLayouts::wrapRowStacksOrShares()
{
    QFETCH(int, width);
    QFETCH(QList<QRect>, expected);
    QWidget host;
    auto *row = new WrapRow(16, &host);
    auto *a = new Box(QSize(300, 100));
    auto *b = new Box(QSize(300, 80));
    row->addWidget(a, 2, 520);
    row->addWidget(b, 2, 560);
    QCOMPARE(a->parentWidget(), &host);
    QCOMPARE(row->heightForWidth(width), std::max(expected[0].bottom(), expected[1].bottom()) + 1);
    row->setGeometry(QRect(0, 0, width, row->heightForWidth(width)));
    QCOMPARE((QList<QRect>{a->geometry(), b->geometry()}), expected);
}

void TestLayouts::wrapRowNestedLayoutFillsRowHeight()
{
    QWidget host;
    auto *row = new WrapRow(16, &host);
    auto *tall = new Box(QSize(100, 200));
    auto *inner = new QVBoxLayout;
    inner->setContentsMargins(0, 0, 0, 0);
    auto *child = new Box(QSize(100, 40));
    child->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    inner->addWidget(child);
    row->addWidget(tall, 1, 100);
    row->addLayout(inner, 1, 100);
    QCOMPARE(child->parentWidget(), &host);
    row->setGeometry(QRect(0, 0, 416, 200));
    QCOMPARE(tall->geometry(), QRect(0, 0, 200, 200));
    QCOMPARE(child->geometry(), QRect(216, 0, 200, 200));
}

void TestLayouts::emptyOrHiddenHasNoHeight_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("withHiddenWidgets");
    for (int kind = 0; kind < 3; ++kind) {
        const char *name = kind == 0 ? "flow" : kind == 1 ? "grid" : "wraprow";
        QTest::addRow("%s empty", name) << kind << false;
        QTest::addRow("%s hidden widgets and a spacer", name) << kind << true;
    }
}

void TestLayouts::emptyOrHiddenHasNoHeight()
{
    QFETCH(int, kind);
    QFETCH(bool, withHiddenWidgets);
    QWidget host;
    QLayout *layout = kind == 0   ? static_cast<QLayout *>(new FlowLayout(&host, 8, 8))
                      : kind == 1 ? static_cast<QLayout *>(new ResponsiveGrid(260, 16, &host))
                                  : static_cast<QLayout *>(new WrapRow(16, &host));
    if (withHiddenWidgets) {
        for (int i = 0; i < 3; ++i) {
            auto *box = new Box(QSize(100, 50));
            layout->addWidget(box);
            box->hide();
        }
        layout->addItem(new QSpacerItem(0, 0));
    }
    for (int width : {0, 1, 300, 2000})
        QCOMPARE(layout->heightForWidth(width), 0);
}

void TestLayouts::itemList()
{
    QWidget host;
    for (QLayout *layout : QList<QLayout *>{new FlowLayout(nullptr, 8, 8), new ResponsiveGrid(260, 16), new WrapRow(16)}) {
        auto *a = new Box(QSize(100, 40));
        auto *b = new Box(QSize(100, 60));
        a->setParent(&host);
        b->setParent(&host);
        layout->addWidget(a);
        layout->addWidget(b);
        QCOMPARE(layout->itemAt(-1), nullptr);
        QCOMPARE(layout->itemAt(2), nullptr);
        QCOMPARE(layout->takeAt(-1), nullptr);
        QCOMPARE(layout->takeAt(2), nullptr);
        QLayoutItem *item = layout->takeAt(0);
        QCOMPARE(item->widget(), a);
        delete item;
        QCOMPARE(layout->count(), 1);
        QCOMPARE(layout->heightForWidth(500), 60);
        delete layout;
    }
}

OSTRA_TEST_MAIN_WIDGETS(TestLayouts)
#include "tst_layouts.moc"
