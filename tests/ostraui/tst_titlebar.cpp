#include <QAbstractButton>
#include <QApplication>
#include <QSignalSpy>

#include "ostraui/titlebar.h"
#include "support/testenvironment.h"

using ostra::TitleBar;

namespace {

struct Frame
{
    QWidget window;
    TitleBar *bar;

    Frame()
    {
        window.setWindowTitle(QStringLiteral("Qorvant OSTRA"));
        window.resize(800, 500);
        bar = new TitleBar(&window, &window);
        bar->setGeometry(0, 0, 800, 38);
        window.show();
        QCoreApplication::processEvents();
    }
    QAbstractButton *button(int i) const { return bar->findChildren<QAbstractButton *>().value(i); }
};

} // namespace

class TestTitleBar : public QObject
{
    Q_OBJECT

private slots:
    void layout();
    void hitsButton_data();
    void hitsButton();
    void buttonsEmit_data();
    void buttonsEmit();
    void doubleClickMaximizes();
    void maximizeButtonFollowsWindow();
    void titleFollowsWindow();
};

void TestTitleBar::layout()
{
    Frame f;
    QCOMPARE(f.bar->height(), 38);
    const QStringList tips{QStringLiteral("Minimize"), QStringLiteral("Maximize"), QStringLiteral("Close")};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(f.button(i)->toolTip(), tips[i]);
        QCOMPARE(f.button(i)->geometry(), QRect(800 - 46 * (3 - i), 0, 46, 38));
        QCOMPARE(f.button(i)->focusPolicy(), Qt::NoFocus);
    }
}

void TestTitleBar::hitsButton_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("hideClose");
    QTest::addColumn<bool>("hits");

    QTest::newRow("title area") << QPoint(100, 19) << false << false;
    QTest::newRow("just left of minimise") << QPoint(800 - 139, 19) << false << false;
    QTest::newRow("minimise") << QPoint(800 - 138, 19) << false << true;
    QTest::newRow("maximise") << QPoint(800 - 70, 5) << false << true;
    QTest::newRow("close corner") << QPoint(799, 37) << false << true;
    QTest::newRow("below the bar") << QPoint(799, 38) << false << false;
    QTest::newRow("hidden close") << QPoint(780, 19) << true << false;
}

void TestTitleBar::hitsButton()
{
    QFETCH(QPoint, point);
    QFETCH(bool, hideClose);
    QFETCH(bool, hits);

    Frame f;
    if (hideClose)
        f.button(2)->hide();
    QCOMPARE(f.bar->hitsButton(point), hits);
}

void TestTitleBar::buttonsEmit_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("minimise") << 0;
    QTest::newRow("maximise") << 1;
    QTest::newRow("close") << 2;
}

void TestTitleBar::buttonsEmit()
{
    QFETCH(int, index);

    Frame f;
    QSignalSpy minimize(f.bar, &TitleBar::minimizeRequested);
    QSignalSpy maximize(f.bar, &TitleBar::maximizeRequested);
    QSignalSpy close(f.bar, &TitleBar::closeRequested);
    QTest::mouseClick(f.button(index), Qt::LeftButton);
    QCOMPARE(minimize.size(), index == 0 ? 1 : 0);
    QCOMPARE(maximize.size(), index == 1 ? 1 : 0);
    QCOMPARE(close.size(), index == 2 ? 1 : 0);
}

void TestTitleBar::doubleClickMaximizes()
{
    Frame f;
    QSignalSpy maximize(f.bar, &TitleBar::maximizeRequested);
    QTest::mouseDClick(f.bar, Qt::LeftButton, {}, QPoint(300, 19));
    QCOMPARE(maximize.size(), 1);
    QTest::mouseDClick(f.bar, Qt::RightButton, {}, QPoint(300, 19));
    QCOMPARE(maximize.size(), 1);
}

void TestTitleBar::maximizeButtonFollowsWindow()
{
    Frame f;
    f.bar->updateMaximizeButton();
    QCOMPARE(f.button(1)->toolTip(), QStringLiteral("Maximize"));
    const QImage square = f.button(1)->grab().toImage();

    f.window.setWindowState(Qt::WindowMaximized);
    f.bar->updateMaximizeButton();
    QCOMPARE(f.button(1)->toolTip(), QStringLiteral("Restore"));
    QVERIFY(f.button(1)->grab().toImage() != square);

    f.window.setWindowState(Qt::WindowNoState);
    f.bar->updateMaximizeButton();
    QCOMPARE(f.button(1)->toolTip(), QStringLiteral("Maximize"));
    QCOMPARE(f.button(1)->grab().toImage(), square);
}

void TestTitleBar::titleFollowsWindow()
{
    Frame f;
    const QImage before = f.bar->grab(QRect(30, 0, 300, 38)).toImage();
    f.window.setWindowTitle(QStringLiteral("Qorvant OSTRA \u2014 helicopter"));
    QCoreApplication::processEvents();
    QVERIFY(f.bar->grab(QRect(30, 0, 300, 38)).toImage() != before);
}

OSTRA_TEST_MAIN_WIDGETS(TestTitleBar)
#include "tst_titlebar.moc"
