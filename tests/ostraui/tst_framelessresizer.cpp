#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QWindow>

#include "ostraui/framelessresizer.h"
#include "support/testenvironment.h"

using ostra::FramelessResizer;

class TestFramelessResizer : public QObject
{
    Q_OBJECT

private slots:
    void edges_data();
    void edges();
    void cursorShowsEdge_data();
    void cursorShowsEdge();
    void pressesInsideReachWidgets();
};

void TestFramelessResizer::edges_data()
{
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<int>("edges");
    // A 600 x 400 window with a 6 px border.
    const int left = Qt::LeftEdge, right = Qt::RightEdge, top = Qt::TopEdge, bottom = Qt::BottomEdge;
    QTest::newRow("inside") << QPoint(300, 200) << 0;
    QTest::newRow("left inner border") << QPoint(5, 200) << left;
    QTest::newRow("just past the border") << QPoint(6, 200) << 0;
    QTest::newRow("right") << QPoint(599, 200) << right;
    QTest::newRow("right inner border") << QPoint(594, 200) << right;
    QTest::newRow("top") << QPoint(300, 0) << top;
    QTest::newRow("bottom-right corner") << QPoint(597, 396) << (right | bottom);
    QTest::newRow("top-left corner") << QPoint(2, 3) << (left | top);
    QTest::newRow("outside") << QPoint(600, 200) << 0;
    QTest::newRow("negative") << QPoint(-1, 5) << 0;
}

void TestFramelessResizer::edges()
{
    QFETCH(QPoint, pos);
    QFETCH(int, edges);
    QWidget window;
    window.resize(600, 400);
    FramelessResizer resizer(&window);
    QCOMPARE(int(resizer.edgesAt(pos)), edges);
    // A maximised window has no edges to drag.
    window.setWindowState(Qt::WindowMaximized);
    QCOMPARE(int(resizer.edgesAt(pos)), 0);
    window.setWindowState(Qt::WindowNoState);
    QCOMPARE(int(resizer.edgesAt(pos)), edges);
}

void TestFramelessResizer::cursorShowsEdge_data()
{
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<int>("shape");
    QTest::newRow("left") << QPoint(1, 200) << int(Qt::SizeHorCursor);
    QTest::newRow("bottom") << QPoint(300, 398) << int(Qt::SizeVerCursor);
    QTest::newRow("bottom-right") << QPoint(598, 398) << int(Qt::SizeFDiagCursor);
    QTest::newRow("top-right") << QPoint(598, 1) << int(Qt::SizeBDiagCursor);
    QTest::newRow("inside") << QPoint(300, 200) << -1;
}

void TestFramelessResizer::cursorShowsEdge()
{
    QFETCH(QPoint, pos);
    QFETCH(int, shape);
    QWidget window;
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.resize(600, 400);
    new FramelessResizer(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseMove(window.windowHandle(), pos);
    QCOMPARE(QGuiApplication::overrideCursor() ? int(QGuiApplication::overrideCursor()->shape()) : -1, shape);
    // Back inside, the pointer is the widgets' own again.
    QTest::mouseMove(window.windowHandle(), QPoint(300, 200));
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestFramelessResizer::pressesInsideReachWidgets()
{
    QWidget window;
    window.setWindowFlag(Qt::FramelessWindowHint);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *button = new QPushButton(QStringLiteral("Fill"));
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout->addWidget(button);
    window.resize(600, 400);
    new FramelessResizer(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy clicked(button, &QPushButton::clicked);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(300, 200));
    QCOMPARE(clicked.size(), 1);
}

OSTRA_TEST_MAIN_WIDGETS(TestFramelessResizer)
#include "tst_framelessresizer.moc"
