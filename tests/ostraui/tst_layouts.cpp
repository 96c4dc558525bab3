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
    Box(QSize hint, QWidget *parent = nullptr, int heightPerWidth = 0)
        : QWidget(parent), m_hint(hint), m_heightPerWidth(heightPerWidth)
    {
        if (heightPerWidth) {
            QSizePolicy p = sizePolicy();
            p.setHeightForWidth(true);
            setSizePolicy(p);
        }
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

QList<QRect> geometries(const QList<QWidget *> &widgets)
{
    QList<QRect> out;
    for (QWidget *w : widgets)
        out.append(w->geometry());
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
    void gridMaxColumnsSplitsRows();
    void gridRowHeightFollowsHeightForWidth();
    void wrapRowStacksOrShares_data();
    void wrapRowStacksOrShares();
    void wrapRowNestedLayoutFillsRowHeight();
    void emptyOrHiddenHasNoHeight_data();
    void emptyOrHiddenHasNoHeight();
    void outOfRangeIndexes();
    void takeAtLeavesItemAlive();
    void sizeHints();
};

void TestLayouts::flowPlacesAndWraps_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<int>>("itemWidths");
    QTest::addColumn<QList<QPoint>>("positions");
    QTest::addColumn<int>("height");

    // Items are 20 px high, spacing 8 both ways.
    QTest::newRow("one row") << 300 << QList<int>{100, 100} << QList<QPoint>{{0, 0}, {108, 0}} << 20;
    QTest::newRow("exact fit stays") << 208 << QList<int>{100, 100} << QList<QPoint>{{0, 0}, {108, 0}} << 20;
    QTest::newRow("one px short wraps")
        << 207 << QList<int>{100, 100} << QList<QPoint>{{0, 0}, {0, 28}} << 48;
    QTest::newRow("too wide sits alone")
        << 150 << QList<int>{400, 50, 50} << QList<QPoint>{{0, 0}, {0, 28}, {58, 28}} << 48;
    QTest::newRow("three rows")
        << 100 << QList<int>{60, 60, 60} << QList<QPoint>{{0, 0}, {0, 28}, {0, 56}} << 76;
}

void TestLayouts::flowPlacesAndWraps()
{
    QFETCH(int, width);
    QFETCH(QList<int>, itemWidths);
    QFETCH(QList<QPoint>, positions);
    QFETCH(int, height);

    QWidget host;
    auto *flow = new FlowLayout(&host, 8, 8);
    QList<QWidget *> boxes;
    for (int w : itemWidths) {
        boxes.append(new Box(QSize(w, 20)));
        flow->addWidget(boxes.last());
    }
    QCOMPARE(flow->heightForWidth(width), height);
    flow->setGeometry(QRect(0, 0, width, height));
    for (int i = 0; i < boxes.size(); ++i) {
        QCOMPARE(boxes[i]->pos(), positions[i]);
        QCOMPARE(boxes[i]->size(), QSize(itemWidths[i], 20));
    }
}

void TestLayouts::gridColumns_data()
{
    QTest::addColumn<int>("minColumn");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<QRect>>("expected");

    QTest::newRow("three columns at 1000")
        << 260 << 16 << 1000
        << QList<QRect>{{0, 0, 323, 50}, {339, 0, 322, 50}, {677, 0, 323, 50}};
    QTest::newRow("narrower than a column")
        << 260 << 16 << 200 << QList<QRect>{{0, 0, 200, 50}, {0, 66, 200, 50}, {0, 132, 200, 50}};
    QTest::newRow("two columns exactly")
        << 340 << 16 << 696 << QList<QRect>{{0, 0, 340, 50}, {356, 0, 340, 50}, {0, 66, 340, 50}};
    QTest::newRow("non-positive column step is one column")
        << -16 << 16 << 300 << QList<QRect>{{0, 0, 300, 50}, {0, 66, 300, 50}, {0, 132, 300, 50}};
}

void TestLayouts::gridColumns()
{
    QFETCH(int, minColumn);
    QFETCH(int, spacing);
    QFETCH(int, width);
    QFETCH(QList<QRect>, expected);

    QWidget host;
    auto *grid = new ResponsiveGrid(minColumn, spacing, &host);
    QList<QWidget *> boxes;
    for (int i = 0; i < expected.size(); ++i) {
        boxes.append(new Box(QSize(100, 50)));
        grid->addWidget(boxes.last());
    }
    const int height = expected.last().bottom() + 1;
    QCOMPARE(grid->heightForWidth(width), height);
    grid->setGeometry(QRect(0, 0, width, height));
    QCOMPARE(geometries(boxes), expected);
}

void TestLayouts::gridMaxColumnsSplitsRows()
{
    QWidget host;
    auto *grid = new ResponsiveGrid(68, 8, &host);
    grid->setMaxColumns(8);
    QList<QWidget *> cells;
    for (int i = 0; i < 16; ++i) {
        cells.append(new Box(QSize(60, 132)));
        grid->addWidget(cells.last());
    }
    const int width = 10 * 68 + 9 * 8; // room for ten columns
    grid->setGeometry(QRect(0, 0, width, grid->heightForWidth(width)));
    QCOMPARE(grid->heightForWidth(width), 132 * 2 + 8);
    for (int i = 0; i < 16; ++i)
        QCOMPARE(cells[i]->y(), i < 8 ? 0 : 140);
    QCOMPARE(cells[7]->geometry().right(), width - 1);

    grid->setFixedColumns(4);
    QCOMPARE(grid->heightForWidth(width), 4 * 132 + 3 * 8);
}

void TestLayouts::gridRowHeightFollowsHeightForWidth()
{
    QWidget host;
    auto *grid = new ResponsiveGrid(100, 0, &host);
    auto *text = new Box(QSize(50, 20), nullptr, 40); // 40000 / width px high
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
    QTest::addColumn<QRect>("first");
    QTest::addColumn<QRect>("second");
    QTest::addColumn<int>("height");

    QTest::newRow("1095 stacks") << 1095 << QRect(0, 0, 1095, 100) << QRect(0, 116, 1095, 80) << 196;
    QTest::newRow("1096 shares") << 1096 << QRect(0, 0, 540, 100) << QRect(556, 0, 540, 80) << 100;
    QTest::newRow("wide shares by stretch")
        << 1416 << QRect(0, 0, 700, 100) << QRect(716, 0, 700, 80) << 100;
}

void TestLayouts::wrapRowStacksOrShares()
{
    QFETCH(int, width);
    QFETCH(QRect, first);
    QFETCH(QRect, second);
    QFETCH(int, height);

    QWidget host;
    auto *row = new WrapRow(16, &host);
    auto *a = new Box(QSize(300, 100));
    auto *b = new Box(QSize(300, 80));
    row->addWidget(a, 2, 520);
    row->addWidget(b, 2, 560);
    QCOMPARE(a->parentWidget(), &host);
    QCOMPARE(row->heightForWidth(width), height);
    row->setGeometry(QRect(0, 0, width, height));
    QCOMPARE(a->geometry(), first);
    QCOMPARE(b->geometry(), second);
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
    QVERIFY(layout->hasHeightForWidth());
}

void TestLayouts::outOfRangeIndexes()
{
    QWidget host;
    QList<QLayout *> layouts{new FlowLayout(nullptr, 8, 8), new ResponsiveGrid(260, 16),
                             new WrapRow(16)};
    for (QLayout *layout : layouts) {
        auto *box = new Box(QSize(10, 10), &host);
        layout->addWidget(box);
        QCOMPARE(layout->count(), 1);
        QCOMPARE(layout->itemAt(-1), nullptr);
        QCOMPARE(layout->itemAt(1), nullptr);
        QCOMPARE(layout->takeAt(-1), nullptr);
        QCOMPARE(layout->takeAt(1), nullptr);
        QCOMPARE(layout->itemAt(0)->widget(), box);
        QCOMPARE(layout->count(), 1);
        delete layout;
    }
}

void TestLayouts::takeAtLeavesItemAlive()
{
    QWidget host;
    auto *row = new WrapRow(16, &host);
    auto *a = new Box(QSize(100, 40));
    auto *b = new Box(QSize(100, 60));
    row->addWidget(a, 1, 0);
    row->addWidget(b, 1, 0);
    QLayoutItem *item = row->takeAt(0);
    QCOMPARE(item->widget(), a);
    delete item;
    QCOMPARE(row->count(), 1);
    QCOMPARE(row->heightForWidth(500), 60);
}

void TestLayouts::sizeHints()
{
    QWidget host;
    auto *flow = new FlowLayout(nullptr, 8, 8);
    flow->addWidget(new Box(QSize(100, 20), &host));
    flow->addWidget(new Box(QSize(50, 30), &host));
    QCOMPARE(flow->sizeHint(), QSize(158, 30));
    delete flow;

    auto *grid = new ResponsiveGrid(260, 16);
    grid->addWidget(new Box(QSize(100, 50), &host));
    // One item: one column's width plus spacing.
    QCOMPARE(grid->sizeHint().width(), 276);
    QCOMPARE(grid->minimumSize().width(), 240);
    delete grid;

    auto *row = new WrapRow(16);
    row->addWidget(new Box(QSize(100, 50), &host), 2, 520);
    row->addWidget(new Box(QSize(100, 70), &host), 2, 560);
    QCOMPARE(row->sizeHint(), QSize(520 + 16 + 560 + 16, 70));
    delete row;
}

OSTRA_TEST_MAIN_WIDGETS(TestLayouts)
#include "tst_layouts.moc"
