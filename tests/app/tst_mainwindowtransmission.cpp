#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QTabWidget>
#include <QTimer>

#include <functional>

#include "app/mainwindow.h"
#include "bridge/corvanecontroller.h"
#include "dialogs/transmissionview.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "platform/storage/settingsfile.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"
#include "support/transmitrig.h"

namespace {

// What the launched dialog showed when it came up; it is then closed as the user would.
struct Opened
{
    QString title;
    int tab = -1;
    bool modal = false;
};

Opened launch(const std::function<void()> &trigger)
{
    Opened seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *view = qobject_cast<corvane::TransmissionView *>(QApplication::activeModalWidget());
        if (!view)
            return;
        poll.stop();
        seen.title = view->windowTitle();
        seen.tab = view->findChild<QTabWidget *>()->currentIndex();
        seen.modal = view->isModal();
        view->reject();
    });
    poll.start();
    trigger();
    return seen;
}

Opened launch(MainWindow &window, const char *slot, bool withArgument = false, bool argument = false)
{
    return launch([&] {
        if (withArgument)
            QMetaObject::invokeMethod(&window, slot, Q_ARG(bool, argument));
        else
            QMetaObject::invokeMethod(&window, slot);
    });
}

// A window that counts its paints.
class PaintCount : public QWidget
{
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *) override { ++paints; }
};

} // namespace

class TestMainWindowTransmission : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        corvane::SettingsFile().setValue(QStringLiteral("disclaimer/accepted"), true);
        corvane::VirtualInputBackend::instance()->reset();
    }

    void launchers_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<bool>("withArgument");
        QTest::addColumn<bool>("argument");
        QTest::addColumn<int>("tab");
        QTest::newRow("configure transmission") << "onConfigureTransmission" << false << false << 0;
        QTest::newRow("configure transmission, RF") << "onConfigureTransmission" << true << true << 1;
        QTest::newRow("configure transmission, no RF") << "onConfigureTransmission" << true << false << 0;
        QTest::newRow("configure receiver") << "onConfigureReceiver" << false << false << 2;
        QTest::newRow("RF settings row") << "openTransmissionRfSettings" << false << false << 1;
        QTest::newRow("all sensors row") << "openTransmissionView" << false << false << 0;
    }

    void launchers()
    {
        QFETCH(QString, slot);
        QFETCH(bool, withArgument);
        QFETCH(bool, argument);
        QFETCH(int, tab);
        MainWindow window;
        window.show();
        const Opened seen = launch(window, slot.toLatin1().constData(), withArgument, argument);
        QCOMPARE(seen.title, QString("Telemetry"));
        QCOMPARE(seen.tab, tab);
        QVERIFY(seen.modal);
        // Nothing of the dialog stays with the window.
        QVERIFY(window.findChildren<corvane::TransmissionView *>().isEmpty());
    }

    // The car page's Telemetry card opens it: Settings on the RF tab, All sensors on the first.
    void carPageOpensIt()
    {
        MainWindow window;
        window.show();
        auto *settings = window.findChild<QAbstractButton *>(QStringLiteral("telemetrySettingsBtn"));
        auto *all = window.findChild<QAbstractButton *>(QStringLiteral("allSensorsRow"));
        QVERIFY(settings && all);
        QCOMPARE(launch([settings] { settings->click(); }).tab, 1);
        QCOMPARE(launch([all] { all->click(); }).tab, 0);
    }

    // Leaving the dialog leaves configuration mode the launcher's user had turned on.
    void closingLeavesConfigMode()
    {
        ostratest::SimulatedTransmitter tx;
        MainWindow window;
        window.show();
        QVERIFY(window.controller()->connectTransmitter(tx.portName(), 115200));
        QTimer::singleShot(50, [&] {
            auto *view = qobject_cast<corvane::TransmissionView *>(QApplication::activeModalWidget());
            QVERIFY(view);
            window.controller()->startConfigMode();
            view->reject();
        });
        window.openTransmissionRfSettings();
        QVERIFY(!window.controller()->isConfigMode());
        QVERIFY(tx.waitForLine("CFGMODE OFF"));
    }

    // While transmitting, a window's repaint waits for the slack after a tick, so that it never
    // holds one back; stopped, it repaints at once again.
    void repaintsWaitForTheNextFrame()
    {
        ostratest::TransmitRig rig; // the 7 ms timer held: frames go out on rig.tick() only
        PaintCount window;
        window.resize(200, 100);
        paceRepaintsWhileTransmitting(&window, rig.controller.get());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(rig.startCar());
        QTest::qWait(100);
        const int painted = window.paints;

        rig.tick();
        window.update();
        QCoreApplication::processEvents();
        QCOMPARE(window.paints, painted);
        rig.tick();
        // The slack after the tick, then the repaint it released.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(window.paints, painted + 1);

        rig.controller->stopTransmissionAndHold();
        window.update();
        QCoreApplication::processEvents();
        QCOMPARE(window.paints, painted + 2);
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestMainWindowTransmission)
#include "tst_mainwindowtransmission.moc"
