#include <QApplication>
#include <QJsonObject>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <memory>

#include "api/dialogs/webstatusdialog.h"
#include "app/mainwindow.h"
#include "bridge/corvanecontroller.h"
#include "dialogs/dashboardwidget.h"
#include "motion/pages/ffbmotionpreviewdialog.h"
#include "motion/pages/motionwebdialog.h"
#include "ostraui/theme.h"
#include "platform/input/virtualinputbackend.h"
#include "support/racestationrig.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"

namespace {

enum class Opened { Preview, Dashboard, WebPanelDialog, MobileConnect };

// The first top-level window of type T, if one is open.
template <typename T>
T *openWindow()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<T *>(top); window && window->isVisible())
            return window;
    }
    return nullptr;
}

QWidget *findOpened(Opened which)
{
    switch (which) {
    case Opened::Preview: return openWindow<corvane::FfbMotionPreviewDialog>();
    case Opened::Dashboard: return openWindow<corvane::DashboardWidget>();
    case Opened::WebPanelDialog: return openWindow<corvane::MotionWebDialog>();
    case Opened::MobileConnect: return openWindow<corvane::WebStatusDialog>();
    }
    return nullptr;
}

// Opens the window the way the user does. The two QR dialogs are modal: this returns once they close.
void open(MainWindow &window, Opened which)
{
    switch (which) {
    case Opened::Preview:
        window.openFfbMotionPreview();
        break;
    case Opened::Dashboard:
        window.onOpenDashboard();
        break;
    case Opened::WebPanelDialog:
        window.showPage(MainWindow::MotionPage);
        window.findChild<QPushButton *>(QStringLiteral("webPanelButton"))->click();
        break;
    case Opened::MobileConnect:
        window.onWebStatusClicked();
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Opened)

// The main window's end: the windows opened from it go first, then the services stop, and
// nothing runs on into a window or a controller that is gone.
class TestMainWindowTeardown : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        QSettings().setValue(QStringLiteral("ui/reduceMotion"), true);
    }

    void cleanup()
    {
        QSettings().remove(QStringLiteral("raceControl"));
    }

    void closeWithWindowOpen_data()
    {
        QTest::addColumn<Opened>("which");
        // Closed: the user closes the main window. Destroyed: "Restart now" quits the program,
        // which then deletes the window without closing it.
        QTest::addColumn<bool>("closed");
        QTest::newRow("preview, closed") << Opened::Preview << true;
        QTest::newRow("preview, destroyed") << Opened::Preview << false;
        QTest::newRow("dashboard, closed") << Opened::Dashboard << true;
        QTest::newRow("dashboard, destroyed") << Opened::Dashboard << false;
        QTest::newRow("web panel dialog, closed") << Opened::WebPanelDialog << true;
        QTest::newRow("mobile connect, closed") << Opened::MobileConnect << true;
    }

    void closeWithWindowOpen()
    {
        QFETCH(Opened, which);
        QFETCH(bool, closed);
        auto window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));

        QPointer<QWidget> opened;
        bool found = false;
        bool outlivedClose = false;
        auto closeWindow = [&] {
            opened = findOpened(which);
            found = opened;
            if (closed)
                window->close();
        };
        // A modal dialog runs its own event loop: the window is closed from inside it. Should the
        // dialog stay open, it is closed here after a while so the test can report it.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, [&] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                outlivedClose = true;
                modal->close();
            }
        });
        const bool modal = which == Opened::WebPanelDialog || which == Opened::MobileConnect;
        if (modal) {
            QTimer::singleShot(0, closeWindow);
            guard.start(5000);
        }
        open(*window, which);
        if (!modal)
            closeWindow();
        QVERIFY(found);
        QVERIFY(!outlivedClose);
        if (closed) {
            QVERIFY(!window->isVisible());
            QVERIFY(!opened || !opened->isVisible());
        }
        // Pending deletions stay pending, as when the event loop has ended.
        window.reset();
        QVERIFY(!opened);
    }

    // Race control's safety link is switched off, the API stops and transmission ends with the
    // window; afterwards no frame, heartbeat or client is left.
    void destructionStopsServices()
    {
        const QString reason = ostratest::NetNamespaces::unavailableReason();
        if (!reason.isEmpty())
            QSKIP(qPrintable("race control is tested only inside network namespaces: " + reason));
        ostratest::RaceStationRig rig;
        QVERIFY2(rig.setUp({QStringLiteral("10.77.0.3")}), qPrintable(rig.error()));
        ostratest::storeRaceStations({QStringLiteral("10.77.0.3")}, true);
        ostratest::FakeRaceStation *station = rig.station(0);
        ostratest::SimulatedTransmitter tx;
        corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
        input->reset();
        input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Test Wheel"), 6, 12, 1, true));
        corvane::VirtualInputDevice *pedals = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Test Pedals"), 8, 8, 0));
        for (int axis = 0; axis < 8; ++axis)
            pedals->setAxis(axis, -1.0f);

        auto window = std::make_unique<MainWindow>();
        window->show();
        window->showPage(MainWindow::RaceControlPage);
        QTRY_VERIFY(station->events().count(QStringLiteral("lounge_heartbeat")) >= 2);

        QWebSocket client;
        QSignalSpy clientGone(&client, &QWebSocket::disconnected);
        client.open(QUrl(QStringLiteral("ws://127.0.0.1:12345")));
        QTRY_COMPARE(client.state(), QAbstractSocket::ConnectedState);

        corvane::CorvaneController *controller = window->controller();
        QVERIFY(controller->connectTransmitter(tx.portName(), 115200));
        QVERIFY(tx.waitFor([controller] { return controller->isTransmitterAuthorized(); }));
        QVERIFY(controller->connectWheelBase(0) && controller->connectPedals(1));
        controller->setPedalsAxisMapping(AxisMapping());
        controller->startTransmission();
        QVERIFY(tx.waitForChannelFrames(5));

        window.reset();

        // The last the transmitter hears is the stop, and nothing follows it.
        tx.process();
        QVERIFY(tx.rawReceived().endsWith("STOP\n"));
        const int frames = tx.channelFrameCount();
        QTest::qWait(100);
        tx.process();
        QCOMPARE(tx.channelFrameCount(), frames);
        QVERIFY(tx.rawReceived().endsWith("STOP\n"));

        // The station's watchdog is switched off, and no heartbeat comes after that.
        const QList<QJsonObject> off = station->requests(QStringLiteral("set_lounge_watchdog"));
        QVERIFY(!off.isEmpty());
        QCOMPARE(off.last().value(QStringLiteral("data")).toObject().value(QStringLiteral("enabled")), QJsonValue(false));
        const int beats = station->events().count(QStringLiteral("lounge_heartbeat"));
        QTRY_COMPARE(station->clientCount(), 0);
        QTest::qWait(1200);
        QCOMPARE(station->events().count(QStringLiteral("lounge_heartbeat")), beats);
        QCOMPARE(station->events().constLast(), QStringLiteral("set_lounge_watchdog"));

        // The API's client was let go, and nobody answers on its port any more.
        QTRY_COMPARE(clientGone.count(), 1);
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, 12345);
        QVERIFY(!probe.waitForConnected(1000));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestMainWindowTeardown)
#include "tst_mainwindowteardown.moc"
