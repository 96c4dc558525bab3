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

enum Kind { Flow, Grid, Row };

} // namespace

class TestLayouts : public QObject
{
    Q_OBJECT

private slots:
    void geometry_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("width");
        QTest::addColumn<QList<QRect>>("expected");
        // Flow: items 100 x 20, spacing 8.
        QTest::newRow("flow 208 fits") << int(Flow) << 208 << QList<QRect>{{0, 0, 100, 20}, {108, 0, 100, 20}};
        QTest::newRow("flow 207 wraps") << int(Flow) << 207 << QList<QRect>{{0, 0, 100, 20}, {0, 28, 100, 20}};
        // Grid: columns of at least 260, spacing 16; the spare pixel goes to the outer columns.
        QTest::newRow("grid 1000 three columns")
            << int(Grid) << 1000 << QList<QRect>{{0, 0, 323, 20}, {339, 0, 322, 20}, {677, 0, 323, 20}};
        QTest::newRow("grid 200 one column") << int(Grid) << 200 << QList<QRect>{{0, 0, 200, 20}, {0, 36, 200, 20}};
        // Wrap row: minimum widths 520 and 560 with spacing 16 need 1096 px side by side.
        QTest::newRow("row 1095 stacks") << int(Row) << 1095 << QList<QRect>{{0, 0, 1095, 20}, {0, 36, 1095, 20}};
        QTest::newRow("row 1096 shares") << int(Row) << 1096 << QList<QRect>{{0, 0, 540, 20}, {556, 0, 540, 20}};
    }

    void geometry()
    {
        QFETCH(int, kind);
        QFETCH(int, width);
        QFETCH(QList<QRect>, expected);
        QWidget host;
        QLayout *layout = kind == Flow   ? static_cast<QLayout *>(new FlowLayout(&host, 8, 8))
                          : kind == Grid ? static_cast<QLayout *>(new ResponsiveGrid(260, 16, &host))
                                         : new WrapRow(16, &host);
        QList<QWidget *> boxes;
        for (int i = 0; i < expected.size(); ++i) {
            boxes.append(new Box(QSize(100, 20)));
            if (kind == Row)
                static_cast<WrapRow *>(layout)->addWidget(boxes.last(), 2, 520 + 40 * i);
            else
                layout->addWidget(boxes.last());
        }
        layout->setGeometry(QRect(0, 0, width, layout->heightForWidth(width)));
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(boxes[i]->geometry(), expected[i]);
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestLayouts)
#include "tst_layouts.moc"
