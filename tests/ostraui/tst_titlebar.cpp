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
    void buttons();
    void hitsButton_data();
    void hitsButton();
    void maximizeFollowsWindow();
    void titleFollowsWindow();
};

void TestTitleBar::buttons()
{
    Frame f;
    QSignalSpy minimize(f.bar, &TitleBar::minimizeRequested);
    QSignalSpy maximize(f.bar, &TitleBar::maximizeRequested);
    QSignalSpy close(f.bar, &TitleBar::closeRequested);
    const QList<QSignalSpy *> spies{&minimize, &maximize, &close};
    const QStringList tips{QStringLiteral("Minimize"), QStringLiteral("Maximize"), QStringLiteral("Close")};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(f.button(i)->toolTip(), tips[i]);
        QCOMPARE(f.button(i)->geometry(), QRect(800 - 46 * (3 - i), 0, 46, 38));
        QCOMPARE(f.button(i)->focusPolicy(), Qt::NoFocus);
        QTest::mouseClick(f.button(i), Qt::LeftButton);
        for (int j = 0; j < 3; ++j)
            QCOMPARE(spies[j]->size(), j <= i ? 1 : 0);
    }
    // A left double click on the bar maximises; a right one does not.
    QTest::mouseDClick(f.bar, Qt::LeftButton, {}, QPoint(300, 19));
    QTest::mouseDClick(f.bar, Qt::RightButton, {}, QPoint(300, 19));
    QCOMPARE(maximize.size(), 2);
}

void TestTitleBar::hitsButton_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("hideClose");
    QTest::addColumn<bool>("hits");
    QTest::newRow("title area") << QPoint(100, 19) << false << false;
    QTest::newRow("just left of minimise") << QPoint(800 - 139, 19) << false << false;
    QTest::newRow("minimise") << QPoint(800 - 138, 19) << false << true;
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
    f.button(2)->setHidden(hideClose);
    QCOMPARE(f.bar->hitsButton(point), hits);
}

void TestTitleBar::maximizeFollowsWindow()
{
    Frame f;
    f.bar->updateMaximizeButton();
    const QImage square = f.button(1)->grab().toImage();
    for (Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowNoState}) {
        f.window.setWindowState(state);
        f.bar->updateMaximizeButton();
        const bool maximized = state == Qt::WindowMaximized;
        QCOMPARE(f.button(1)->toolTip(), maximized ? QStringLiteral("Restore") : QStringLiteral("Maximize"));
        QCOMPARE(f.button(1)->grab().toImage() == square, !maximized);
    }
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
