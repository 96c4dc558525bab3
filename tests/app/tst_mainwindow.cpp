#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStyleOptionComboBox>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>

#include <memory>

#include "api/websocketserver.h"
#include "app/mainwindow.h"
#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "ostraui/card.h"
#include "motion/pages/ffbmotionpreviewdialog.h"
#include "motion/pages/previewgball.h"
#include "ostraui/devicerow.h"
#include "ostraui/listrow.h"
#include "ostraui/responsivegrid.h"
#include "ostraui/pageheader.h"
#include "ostraui/pagestack.h"
#include "ostraui/pill.h"
#include "ostraui/sidebar.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "ostraui/titlebar.h"
#include "ostraui/toggle.h"
#include "platform/input/virtualinputbackend.h"
#include "profiles/profilemanager.h"
#include "platform/storage/settingsfile.h"
#include "support/fixednetwork.h"
#include "support/simulatedtransmitter.h"
#include "support/starved.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"
#include "support/widgets/textrecorder.h"
#include "support/widgets/widgetlookup.h"
#include "support/writesdone.h"

using ostra::Pill;

namespace {

const QString Accepted = QStringLiteral("disclaimer/accepted");

// What the header and the stack show, read the way a user reads them.
struct View
{
    MainWindow &window;

    ostra::PageHeader *header() const { return window.findChild<ostra::PageHeader *>(); }
    QString title() const { return header()->findChild<QLabel *>()->text(); }
    QString backText() const
    {
        auto *back = header()->findChild<QPushButton *>();
        return back->isHidden() ? QString() : back->text().section(QStringLiteral("  "), 1);
    }
    int stackIndex() const { return window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->currentIndex(); }
    int sidebarItem() const { return window.findChild<ostra::Sidebar *>()->currentIndex(); }
    Pill *pill(const char *name) const { return window.findChild<Pill *>(QLatin1String(name)); }
    // Shown header pills, in the order transmitter, web, profile, controller.
    QList<bool> pills() const
    {
        QList<bool> shown;
        for (const char *name : {"transmitterPill", "webPill", "profilePill", "controllerPill"})
            shown << !pill(name)->isHidden();
        return shown;
    }
    QLabel *overlay(const char *name) const { return window.findChild<QLabel *>(QLatin1String(name)); }
};

void setDisclaimerAccepted(bool accepted)
{
    corvane::SettingsFile settings;
    if (accepted)
        settings.setValue(Accepted, true);
    else
        settings.remove(Accepted);
}

// A wheel base saved in the active profile, then taken away: the next window finds it missing.
corvane::VirtualInputDevice *savedWheelBaseUnplugged()
{
    corvane::VirtualInputBackend *input = corvane::VirtualInputBackend::instance();
    input->reset();
    corvane::VirtualInputDevice *wheel = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("MOZA R9 Base")));
    {
        MainWindow first;
        if (!first.controller()->connectWheelBase(0))
            return nullptr;
    }
    wheel->unplug();
    return wheel;
}

// Another program on this machine may hold the API port; the window then runs offline.
bool apiPortFree()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, 12345);
}

QTimer *autoConnectTimer(const MainWindow &window)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return window.findChild<QTimer *>(QStringLiteral("autoConnectTimer"));
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
    }

    void init()
    {
        corvane::VirtualInputBackend::instance()->reset();
        setDisclaimerAccepted(false);
    }
    void cleanup() { corvane::NetworkInterfaceLister::useSystemInterfaces(); }

    void navigation_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("argument");
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("back");
        QTest::addColumn<int>("sidebar");
        QTest::newRow("dashboard") << 3 << "navigate" << 0 << 0 << "Dashboard" << "" << 0;
        QTest::newRow("motion system") << 0 << "navigate" << 1 << 5 << "QOR Motion System" << "" << 1;
        QTest::newRow("corvane") << 0 << "navigate" << 2 << 3 << "Corvane" << "" << 2;
        QTest::newRow("race control") << 0 << "navigate" << 3 << 7 << "Race control" << "" << 3;
        QTest::newRow("unknown item ignored") << 3 << "navigate" << 7 << 3 << "Corvane" << "" << 2;
        QTest::newRow("info") << 0 << "info" << 0 << 2 << "Info" << "" << -1;
        QTest::newRow("back from motion page") << 6 << "back" << 0 << 5 << "QOR Motion System" << "" << 1;
        QTest::newRow("back from car page") << 1 << "back" << 0 << 3 << "Corvane" << "" << 2;
        QTest::newRow("back from helicopter page") << 4 << "back" << 0 << 3 << "Corvane" << "" << 2;
    }

    void navigation()
    {
        QFETCH(int, start);
        QFETCH(QString, call);
        QFETCH(int, argument);
        MainWindow window;
        View view{window};
        window.showPage(start);
        if (call == QLatin1String("navigate"))
            window.onNavigate(argument);
        else if (call == QLatin1String("info"))
            window.onInfoButtonClicked();
        else
            view.header()->findChild<QPushButton *>()->click();
        QTEST(window.currentPage(), "page");
        QTEST(view.stackIndex(), "page");
        QTEST(view.title(), "title");
        QTEST(view.backText(), "back");
        QTEST(view.sidebarItem(), "sidebar");
    }

    void pillRule_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QList<bool>>("shown");
        QTest::addColumn<QString>("title");
        const QList<bool> none{false, false, false, false};
        QTest::newRow("0 start") << 0 << none << "Dashboard";
        QTest::newRow("1 car") << 1 << QList<bool>{true, true, true, false} << "RC Car";
        QTest::newRow("2 info") << 2 << none << "Info";
        QTest::newRow("3 vehicles") << 3 << QList<bool>{true, true, false, false} << "Corvane";
        QTest::newRow("4 helicopter") << 4 << QList<bool>{true, true, true, false} << "RC Helicopter";
        QTest::newRow("5 platforms") << 5 << QList<bool>{false, false, false, true} << "QOR Motion System";
        QTest::newRow("6 motion") << 6 << QList<bool>{false, false, false, true} << "5DOF QOR Motion System";
        QTest::newRow("7 race control") << 7 << none << "Race control";
        QTest::newRow("outside") << 8 << none << "";
        QTest::newRow("negative") << -1 << none << "";
    }

    void pillRule()
    {
        QFETCH(int, page);
        MainWindow window;
        View view{window};
        window.showPage(1);
        window.showPage(page);
        QTEST(view.pills(), "shown");
        QTEST(view.title(), "title");
        if (page < 0 || page > 7) {
            QCOMPARE(view.backText(), QString());
            QCOMPARE(view.sidebarItem(), 0);
        }
    }

    void cards()
    {
        MainWindow window;
        for (const char *name : {"vehicleCard_rc_car", "vehicleCard_rc_helicopter", "motionCard_motion_2dof",
                                 "motionCard_motion_3dof", "motionCard_motion_5dof"}) {
            auto *card = window.findChild<ostra::Card *>(QLatin1String(name));
            QVERIFY2(card, name);
            QVERIFY(card->isClickable() && !card->isDimmed());
        }
        auto *airplane = window.findChild<ostra::Card *>(QStringLiteral("vehicleCard_rc_airplane"));
        QVERIFY(airplane && airplane->isDimmed() && !airplane->isClickable());
        QStringList chips;
        for (Pill *pill : airplane->findChildren<Pill *>())
            chips << pill->text();
        QCOMPARE(chips, QStringList{QStringLiteral("Coming soon")});
        // A click on it does nothing at all.
        window.showPage(3);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(airplane, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(window.currentPage(), 3);
        QVERIFY(!window.findChild<ostra::Toast *>());
    }

    void cardsActOnKeys_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("card");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("page");
        const QList<std::tuple<int, const char *, int>> cards = {
            {0, "productCard_corvane", 3},           {0, "productCard_motion", 5},
            {3, "vehicleCard_rc_car", 1},            {3, "vehicleCard_rc_helicopter", 4},
            {5, "motionCard_motion_2dof", 6},        {5, "motionCard_motion_5dof", 6},
        };
        for (const auto &[start, card, page] : cards) {
            QTest::addRow("%s space", card) << start << card << int(Qt::Key_Space) << page;
            QTest::addRow("%s return", card) << start << card << int(Qt::Key_Return) << page;
        }
    }

    // A card that acts on a click is reached with Tab, shows the focus ring and acts on Space
    // and Return as on a click.
    void cardsActOnKeys()
    {
        QFETCH(int, start);
        QFETCH(QString, card);
        QFETCH(int, key);
        setDisclaimerAccepted(true);
        MainWindow window;
        window.showPage(start);
        window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->finishTransition();
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *target = window.findChild<ostra::Card *>(card);
        QVERIFY(target);
        const QImage unfocused = target->grab().toImage();
        for (int i = 0; i < 60 && !target->hasFocus(); ++i)
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &window, Qt::Key_Tab);
        QVERIFY(target->hasFocus());
        const QImage focused = target->grab().toImage();
        QCOMPARE(focused.pixelColor(1, target->height() / 2), ostra::ThemeColors::infoText);
        QVERIFY(unfocused.pixelColor(1, target->height() / 2) != ostra::ThemeColors::infoText);
        QTest::keyClick(target, Qt::Key(key));
        QFETCH(int, page);
        QTRY_COMPARE(window.currentPage(), page);
        // The dimmed card acts on nothing, so Tab passes it by.
        QCOMPARE(window.findChild<ostra::Card *>(QStringLiteral("vehicleCard_rc_airplane"))->focusPolicy(),
                 Qt::NoFocus);
    }

    void selection()
    {
        MainWindow window;
        View view{window};
        corvane::ProfileManager *profiles = window.controller()->profileManager();
        window.showPage(3);
        window.selectVehicle(QStringLiteral("rc_airplane"));
        QCOMPARE(window.findChild<ostra::Toast *>()->text(), QStringLiteral("RC Airplane support is coming soon"));
        QCOMPARE(window.currentPage(), 3);

        window.selectVehicle(QStringLiteral("motion_3dof"));
        QCOMPARE(window.currentPage(), 6);
        QCOMPARE(view.title(), QStringLiteral("3DOF QOR Motion System"));
        QCOMPARE(view.backText(), QStringLiteral("Motion System"));
        QCOMPARE(view.sidebarItem(), 1);
        QCOMPARE(view.pills(), (QList<bool>{false, false, false, true}));
        // Not a platform: nothing changes.
        window.selectMotionPlatform(QStringLiteral("motion_4dof"));
        QCOMPARE(view.title(), QStringLiteral("3DOF QOR Motion System"));

        setDisclaimerAccepted(true);
        window.selectVehicle(QStringLiteral("rc_helicopter"));
        QTRY_COMPARE(window.currentPage(), 4);
        QCOMPARE(view.stackIndex(), 4);
        QCOMPARE(view.title(), QStringLiteral("RC Helicopter"));
        QCOMPARE(view.backText(), QStringLiteral("Corvane"));
        QCOMPARE(view.pills(), (QList<bool>{true, true, true, false}));
        QCOMPARE(profiles->activeVehicleType(), QStringLiteral("rc_helicopter"));
        QCOMPARE(profiles->activeProfileName(), QStringLiteral("RC Helicopter"));
        QCOMPARE(view.pill("profilePill")->value(), QStringLiteral("RC Helicopter"));
    }

    void declinedDisclaimer_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("typeBefore");
        QTest::addColumn<QString>("typeAfter");
        QTest::newRow("helicopter: nothing changes") << "rc_helicopter" << "rc_car" << "rc_car";
        // The car's type is switched before the disclaimer is asked; page and header stay.
        QTest::newRow("car: page stays") << "rc_car" << "rc_helicopter" << "rc_car";
    }

    void declinedDisclaimer()
    {
        QFETCH(QString, key);
        QFETCH(QString, typeBefore);
        MainWindow window;
        View view{window};
        corvane::ProfileManager *profiles = window.controller()->profileManager();
        profiles->switchVehicleType(typeBefore, QStringLiteral("Before"));
        window.showPage(3);
        ostratest::ModalAnswerer answer;
        answer.press(QStringLiteral("Decline"));
        window.selectVehicle(key);
        QTRY_COMPARE(answer.records().size(), 1);
        QCOMPARE(answer.records().at(0).title, QStringLiteral("QOR Corvane \u2014 Terms of Use"));
        QCOMPARE(window.currentPage(), 3);
        QCOMPARE(view.title(), QStringLiteral("Corvane"));
        QCOMPARE(view.pills(), (QList<bool>{true, true, false, false}));
        QTEST(profiles->activeVehicleType(), "typeAfter");
        QVERIFY(!corvane::SettingsFile().contains(Accepted));
    }

    // A helicopter profile the store cannot write: the page and the active profile stay, and the
    // store's message is shown.
    void vehicleSwitchNotWritten()
    {
        setDisclaimerAccepted(true);
        MainWindow window;
        window.showPage(3);
        QVERIFY(ostratest::writesDone());
        {
            const ostratest::Starved starved(QStringLiteral("descriptors"));
            window.selectVehicle(QStringLiteral("rc_helicopter"));
            QVERIFY(ostratest::writesTried());
        }
        QVERIFY(ostratest::writesDone());
        QCOMPARE(window.currentPage(), 3);
        QCOMPARE(window.controller()->profileManager()->activeVehicleType(), QStringLiteral("rc_car"));
        // A new helicopter profile cannot be written; switching to one an earlier case left writes
        // only which profile is active, and that cannot be written either.
        QTRY_VERIFY(window.findChild<QMessageBox *>(QStringLiteral("corvaneErrorBox")));
        const QString told = window.findChild<QMessageBox *>(QStringLiteral("corvaneErrorBox"))->text();
        QVERIFY2(told.startsWith(QStringLiteral("Failed to save profile: "))
                     || told.startsWith(QStringLiteral("Failed to save which profile is active")),
                 qPrintable(told));
    }

    void carPageAfterAgreeing()
    {
        MainWindow window;
        ostratest::ModalAnswerer answer;
        answer.press(QStringLiteral("I Agree"));
        answer.cancel();
        window.selectVehicle(QStringLiteral("rc_car"));
        QCOMPARE(window.currentPage(), 1);
        QCOMPARE(View{window}.title(), QStringLiteral("RC Car"));
        // The first agreement opens the setup guide over the car page.
        QTRY_COMPARE(answer.records().size(), 2);
        QCOMPARE(answer.records().at(1).title, QStringLiteral("Corvane setup guide"));
        // Agreed once: the next entry asks nothing.
        window.showPage(3);
        window.openCarPage();
        QCoreApplication::processEvents();
        QCOMPARE(answer.records().size(), 2);
        QCOMPARE(window.currentPage(), 1);
    }

    // An agreement the disk refuses is told once, in front of the Terms: no toast under them.
    void agreementNotSaved()
    {
        MainWindow window;
        window.show();
        QVERIFY(ostratest::writesDone());
        ostratest::ModalAnswerer answer;
        answer.press(QStringLiteral("I Agree"));
        answer.returnKey();
        answer.cancel();
        {
            const ostratest::Starved full(QStringLiteral("no room"));
            window.openCarPage();
        }
        QCOMPARE(window.currentPage(), 1);
        QTRY_COMPARE(answer.records().size(), 3);
        QCOMPARE(answer.records().at(1).title, QStringLiteral("Agreement not saved"));
        auto *toast = window.findChild<ostra::Toast *>();
        QVERIFY(!toast || !toast->text().startsWith(QStringLiteral("Settings not saved")));
    }

    void noAutoConnectWithNothingSaved()
    {
        MainWindow window;
        QVERIFY(window.allSavedDevicesConnected());
        QVERIFY(!autoConnectTimer(window));
    }

    void autoConnectGivesUpAfterFifteenTries()
    {
        QVERIFY(savedWheelBaseUnplugged());
        MainWindow window;
        QVERIFY(!window.allSavedDevicesConnected());
        QTimer *timer = autoConnectTimer(window);
        QVERIFY(timer && timer->isActive());
        QCOMPARE(timer->interval(), 1000);
        for (int tick = 1; tick < 15; ++tick) {
            QVERIFY(QMetaObject::invokeMethod(&window, "onAutoConnectRetry"));
            QVERIFY2(autoConnectTimer(window), qPrintable(QString::number(tick)));
        }
        QVERIFY(QMetaObject::invokeMethod(&window, "onAutoConnectRetry"));
        QVERIFY(!autoConnectTimer(window));
        QVERIFY(!window.controller()->isWheelBaseConnected());
    }

    void autoConnectEndsWhenTheDeviceArrives()
    {
        corvane::VirtualInputDevice *wheel = savedWheelBaseUnplugged();
        QVERIFY(wheel);
        MainWindow window;
        for (int tick = 0; tick < 3; ++tick)
            QVERIFY(QMetaObject::invokeMethod(&window, "onAutoConnectRetry"));
        QVERIFY(autoConnectTimer(window));
        wheel->replug();
        QVERIFY(QMetaObject::invokeMethod(&window, "onAutoConnectRetry"));
        QVERIFY(window.controller()->isWheelBaseConnected());
        QVERIFY(!autoConnectTimer(window));
    }

    void raceControlBanner_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("text");
        QTest::newRow("connection lost") << "connection_lost" << "Stopped: race control connection lost";
        QTest::newRow("by race control") << "race_control" << "Stopped by race control";
        QTest::newRow("no reason") << "" << "Stopped by race control";
        QTest::newRow("other case") << "Connection_Lost" << "Stopped by race control";
    }

    void raceControlBanner()
    {
        QFETCH(QString, reason);
        MainWindow window;
        View view{window};
        corvane::CorvaneController *controller = window.controller();
        QVERIFY(!view.overlay("raceControlStopOverlay"));
        controller->setLoungePitLimiter(true, 30);
        QLabel *green = view.overlay("pitLimiterOverlay");
        QVERIFY(!green->isHidden());
        QCOMPARE(green->text(), QStringLiteral("Pit limiter on"));

        controller->raceControlStop(reason);
        QLabel *red = view.overlay("raceControlStopOverlay");
        QVERIFY(red && !red->isHidden());
        QTEST(red->text(), "text");
        QVERIFY(green->isHidden());
        const int advance = red->fontMetrics().horizontalAdvance(red->text());
        QCOMPARE(red->geometry(), QRect((1440 - (advance + 64)) / 2, 72, advance + 64, 48));

        controller->raceControlRelease();
        QVERIFY(red->isHidden());
        QVERIFY(!green->isHidden());
        controller->setLoungePitLimiter(false, 30);
        QVERIFY(green->isHidden());
    }

    void bannerNarrowerThanItsText()
    {
        QWidget window;
        window.resize(200, 300);
        QLabel label(QStringLiteral("Stopped: race control connection lost"), &window);
        placeOverlayLabel(&window, &label);
        QCOMPARE(label.geometry(), QRect(24, 72, 152, 48));
    }

    void webPill()
    {
        if (!apiPortFree())
            QSKIP("another program holds port 12345");
        corvane::NetworkInterfaceLister::setFixedInterfaces({ostratest::networkInterface("wlan0", "192.168.1.20")});
        MainWindow window;
        Pill *pill = View{window}.pill("webPill");
        QCOMPARE(pill->key(), QStringLiteral("Web"));
        QCOMPARE(pill->value(), QStringLiteral("Ready"));
        QCOMPARE(pill->level(), int(ostra::LevelInfo));
        QWebSocket first;
        QWebSocket second;
        first.open(QUrl(QStringLiteral("ws://127.0.0.1:12345")));
        QTRY_COMPARE(pill->value(), QStringLiteral("1 client"));
        QCOMPARE(pill->level(), int(ostra::LevelSuccess));
        second.open(QUrl(QStringLiteral("ws://127.0.0.1:12345")));
        QTRY_COMPARE(pill->value(), QStringLiteral("2 clients"));
        first.close();
        QTRY_COMPARE(pill->value(), QStringLiteral("1 client"));
        window.server()->stop();
        window.updateWebStatus();
        QCOMPARE(pill->value(), QStringLiteral("Offline"));
        QCOMPARE(pill->level(), int(ostra::LevelNeutral));

        // A click shows how the app connects.
        ostratest::ModalAnswerer answer;
        answer.cancel();
        emit pill->clicked();
        QCOMPARE(answer.records().size(), 1);
        QCOMPARE(answer.records().at(0).title, QStringLiteral("Connect from Mobile Device"));
    }

    // Listening, but on no network a phone can reach, the pill says so, and follows the network
    // when the window next looks the interfaces up: on a worker, the result handed back later, so
    // that the lookup never holds up the 7 ms tick.
    void webPillFollowsNetwork_data()
    {
        using Network = QList<corvane::NetworkInterfaceEntry>;
        QTest::addColumn<Network>("first");
        QTest::addColumn<Network>("then");
        QTest::addColumn<QString>("after");
        const auto lo = ostratest::networkInterface("lo", "127.0.0.1");
        const auto wifi = ostratest::networkInterface("wlan0", "192.168.1.20");
        QTest::newRow("network appears") << Network{lo} << Network{lo, wifi} << "Ready";
        QTest::newRow("network gone") << Network{lo, wifi} << Network{lo} << "No network";
        QTest::newRow("VPN only left") << Network{wifi} << Network{lo, ostratest::networkInterface("tun0", "10.8.0.2")}
                                       << "No network";
    }

    void webPillFollowsNetwork()
    {
        if (!apiPortFree())
            QSKIP("another program holds port 12345");
        QFETCH(QList<corvane::NetworkInterfaceEntry>, first);
        QFETCH(QList<corvane::NetworkInterfaceEntry>, then);
        QFETCH(QString, after);
        corvane::NetworkInterfaceLister::setFixedInterfaces(first);
        MainWindow window;
        Pill *pill = View{window}.pill("webPill");
        const QString before = after == "Ready" ? "No network" : "Ready";
        auto *check = window.findChild<QTimer *>(QStringLiteral("phoneNetworkTimer"));
        corvane::NetworkInterfaceLister::setFixedInterfaces(then);
        QCOMPARE(pill->value(), before);
        QVERIFY(QMetaObject::invokeMethod(check, "timeout"));
        QCOMPARE(pill->value(), before);
        QTRY_COMPARE(pill->value(), after);
        QCOMPARE(pill->level(), int(after == "Ready" ? ostra::LevelInfo : ostra::LevelWarning));
    }

    // The start page's product cards follow the devices, as the header does.
    void productCardPills()
    {
        MainWindow window;
        View view{window};
        QCOMPARE(view.pill("carCardPill")->text(), QStringLiteral("Transmitter not connected"));
        QCOMPARE(view.pill("carCardPill")->level(), int(ostra::LevelNeutral));
        QCOMPARE(view.pill("transmitterPill")->value(), QStringLiteral("Not connected"));
        QCOMPARE(view.pill("transmitterPill")->level(), int(ostra::LevelWarning));
        QCOMPARE(view.pill("motionCardPill")->text(), QStringLiteral("Controller offline"));
        QCOMPARE(view.pill("controllerPill")->value(), QStringLiteral("Offline"));

        ostratest::SimulatedTransmitter tx;
        QVERIFY(window.controller()->connectTransmitter(tx.portName(), 115200));
        // Open is not yet connected: the transmitter has to answer first.
        QCOMPARE(view.pill("carCardPill")->text(), QStringLiteral("Waiting for the transmitter\u2026"));
        QCOMPARE(view.pill("transmitterPill")->value(), QStringLiteral("Waiting\u2026"));
        QCOMPARE(view.pill("transmitterPill")->level(), int(ostra::LevelWarning));
        QVERIFY(tx.waitFor([&window] { return window.controller()->isTransmitterAnswered(); }));
        QCOMPARE(view.pill("carCardPill")->text(), QStringLiteral("Transmitter connected"));
        QCOMPARE(view.pill("carCardPill")->level(), int(ostra::LevelInfo));
        QCOMPARE(view.pill("transmitterPill")->value(), QStringLiteral("Connected"));
        QCOMPARE(view.pill("transmitterPill")->level(), int(ostra::LevelInfo));
        window.controller()->disconnectTransmitter();
        QCOMPARE(view.pill("carCardPill")->text(), QStringLiteral("Transmitter not connected"));
    }

    // A long profile name (one from a file edited by hand, say: the store takes no such name
    // itself) ends in an ellipsis in the header's pill and in the profile menu; the pill's tool
    // tip carries it whole.
    void longProfileNameElided()
    {
        MainWindow window;
        corvane::ProfileManager *profiles = window.controller()->profileManager();
        const QString name(300, QLatin1Char('n'));
        const QString id = profiles->createProfile(QStringLiteral("Long"));
        profiles->mutableProfile(id)->name = name;
        profiles->setActiveProfile(id);
        QCOMPARE(profiles->activeProfileName(), name);
        ostra::Pill *pill = View{window}.pill("profilePill");
        QVERIFY(pill->value().endsWith(QChar(0x2026)));
        QVERIFY2(pill->sizeHint().width() <= 320, qPrintable(QString::number(pill->sizeHint().width())));
        QCOMPARE(pill->toolTip(), name);
        ostratest::ModalAnswerer answer;
        answer.cancel();
        window.rebuildProfileMenu();
        const QStringList entries = answer.records().value(0).entries;
        QVERIFY(!entries.isEmpty());
        for (const QString &entry : entries)
            QVERIFY(entry.size() < 100);
        // A short name is shown whole, and the tip says what a click does.
        QVERIFY(profiles->renameProfile(profiles->activeProfileId(), QStringLiteral("Rally")));
        QCOMPARE(pill->value(), QStringLiteral("Rally"));
        QCOMPARE(pill->toolTip(), QStringLiteral("Change profile"));
        // The cases after this one find the profiles as they were.
        QVERIFY(profiles->deleteProfile(profiles->activeProfileId()));
    }

    void profileMenu()
    {
        MainWindow window;
        corvane::ProfileManager *profiles = window.controller()->profileManager();
        profiles->switchVehicleType(QStringLiteral("rc_car"), QStringLiteral("Default"));
        const QString first = profiles->activeProfileName();
        profiles->createProfile(QStringLiteral("beta"));
        profiles->createProfile(QStringLiteral("Alpha"));
        profiles->switchVehicleType(QStringLiteral("rc_helicopter"), QStringLiteral("Heli"));
        profiles->switchVehicleType(QStringLiteral("rc_car"), QStringLiteral("Default"));
        QCOMPARE(profiles->activeProfileName(), first);

        ostratest::ModalAnswerer answer;
        answer.press(QStringLiteral("Alpha"));
        window.rebuildProfileMenu();
        QCOMPARE(answer.records().size(), 1);
        ostratest::ModalRecord menu = answer.records().at(0);
        QStringList expected{QStringLiteral("Alpha"), QStringLiteral("beta"), first};
        std::sort(expected.begin(), expected.end(),
                  [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        QCOMPARE(menu.entries, expected << QStringLiteral("Manage profiles\u2026"));
        QCOMPARE(menu.checked, QStringList{first});
        QCOMPARE(profiles->activeProfileName(), QStringLiteral("Alpha"));
        QCOMPARE(View{window}.pill("profilePill")->value(), QStringLiteral("Alpha"));

        answer.press(QStringLiteral("Manage profiles\u2026"));
        answer.press(QStringLiteral("Close"));
        window.rebuildProfileMenu();
        QCOMPARE(answer.records().size(), 3);
        QCOMPARE(answer.records().at(1).checked, QStringList{QStringLiteral("Alpha")});
        QCOMPARE(answer.records().at(2).kind, QStringLiteral("dialog"));
        QCOMPARE(answer.records().at(2).title, QStringLiteral("Manage Profiles"));
    }

    // The small builders the car page's cards use.
    void builders()
    {
        QComboBox combo;
        corvane::InputDeviceInfo wheel;
        wheel.index = 3;
        wheel.name = QStringLiteral("MOZA R9 Base");
        wheel.numAxes = 8;
        wheel.numButtons = 32;
        wheel.supportsFfb = true;
        corvane::InputDeviceInfo pedals = wheel;
        pedals.index = 4;
        pedals.name = QStringLiteral("MOZA SRP Pedals");
        pedals.numAxes = 1;
        pedals.numButtons = 0;
        pedals.supportsFfb = false;
        combo.addItem(QStringLiteral("stale"));
        fillInputDeviceCombo({wheel, pedals}, &combo, QStringLiteral("Choose a wheel base"));
        QStringList items;
        for (int i = 0; i < combo.count(); ++i)
            items << QStringLiteral("%1 = %2").arg(combo.itemText(i)).arg(combo.itemData(i).toInt());
        // The name set apart from the counts after it.
        QCOMPARE(items, (QStringList{"Choose a wheel base = -1", "\u2068MOZA R9 Base\u2069 (8 axes, 32 btn) [FFB] = 3",
                                     "\u2068MOZA SRP Pedals\u2069 (1 axis, 0 btn) = 4"}));
    }

    // The vehicle cards' titles line up, though the descriptions take different numbers of lines.
    void vehicleTitlesLineUp()
    {
        MainWindow window;
        window.resize(1440, 900);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showPage(MainWindow::VehiclePage);
        window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->finishTransition();
        QCoreApplication::processEvents();
        QList<int> tops;
        for (const char *key : {"rc_car", "rc_helicopter", "rc_airplane"}) {
            auto *card = window.findChild<ostra::Card *>(QStringLiteral("vehicleCard_") + QLatin1String(key));
            QVERIFY(card);
            for (QLabel *label : card->findChildren<QLabel *>()) {
                if (label->text().startsWith(QLatin1String("RC ")))
                    tops << label->mapTo(&window, QPoint(0, 0)).y();
            }
        }
        QCOMPARE(tops.size(), 3);
        QCOMPARE(tops.at(1), tops.at(0));
        QCOMPARE(tops.at(2), tops.at(0));
    }

    // The product cards' titles and kickers show whole in the narrow columns of a laptop screen.
    void productCardTextsWhole()
    {
        MainWindow window;
        window.resize(1366, 740);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showPage(MainWindow::StartPage);
        window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->finishTransition();
        QCoreApplication::processEvents();
        int checked = 0;
        for (const char *name : {"productCard_corvane", "productCard_motion"}) {
            auto *card = window.findChild<ostra::Card *>(QLatin1String(name));
            QVERIFY(card);
            for (QLabel *label : card->findChildren<QLabel *>()) {
                if (label->text() != QLatin1String("Qorvant Corvane") && label->text() != QLatin1String("QOR Motion System")
                    && label->text() != QLatin1String("Sim racing to RC transmitter"))
                    continue;
                const QRect needed = label->fontMetrics().boundingRect(label->contentsRect(), Qt::TextWordWrap, label->text());
                QVERIFY2(needed.width() <= label->contentsRect().width() && needed.height() <= label->contentsRect().height(),
                         qPrintable(label->text()));
                ++checked;
            }
        }
        QCOMPARE(checked, 3);
    }

    // On a laptop's 1366 x 768 screen these texts show whole: nothing cut, nothing elided.
    void textsWholeOnALaptop_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("text");
        QTest::newRow("transmitter list") << int(MainWindow::CarPage) << "transmitterCombo" << "Choose QOR Transmitter";
        QTest::newRow("wheel base list, 40 characters")
            << int(MainWindow::CarPage) << "wheelBaseCombo" << "Fanatec ClubSport Wheel Base V2.5 (USB) ";
        QTest::newRow("Extras row") << int(MainWindow::CarPage) << "FFB and motion preview"
                                    << "See the wheel and rig move from the car's data";
        QTest::newRow("helicopter firmware row")
            << int(MainWindow::HelicopterPage) << "Receiver" << "Pick the receiver's port in the updater";
        QTest::newRow("preview caption") << int(MainWindow::CarPage) << "preview" << "Push you feel";
    }

    void textsWholeOnALaptop()
    {
        QFETCH(int, page);
        QFETCH(QString, where);
        QFETCH(QString, text);
        corvane::SettingsFile().setValue(QStringLiteral("ui/carConfigureOpen"), true);
        corvane::SettingsFile().setValue(QStringLiteral("ui/carConfigureTab"), 1);
        MainWindow window;
        window.resize(1366, 740);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showPage(page);
        window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->finishTransition();
        QCoreApplication::processEvents();

        if (auto *combo = window.findChild<QComboBox *>(where)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                               QStyle::SC_ComboBoxEditField, combo);
            QVERIFY2(combo->fontMetrics().horizontalAdvance(text) <= field.width(), qPrintable(QString::number(field.width())));
        } else if (auto *row = ostratest::withText<ostra::ListRow>(&window, where)) {
            QVERIFY(row->isVisible());
            const QString painted = ostratest::TextRecorder::paintedBy(row).join(' ').simplified();
            QVERIFY2(painted.contains(text), qPrintable(painted));
        } else if (where == QLatin1String("preview")) {
            window.openFfbMotionPreview();
            auto *preview = window.findChild<corvane::FfbMotionPreviewDialog *>();
            QVERIFY(preview);
            QVERIFY(QTest::qWaitForWindowExposed(preview));
            const QString painted = ostratest::TextRecorder::paintedBy(preview->findChild<corvane::PreviewGBall *>())
                                        .join(' ')
                                        .simplified();
            preview->close();
            QVERIFY2(painted.contains(text), qPrintable(painted));
        } else {
            // A label in a row titled `where`.
            QLabel *title = ostratest::withText<QLabel>(window.findChild<ostra::PageStack *>()->currentWidget(), where);
            QVERIFY(title);
            QLabel *label = ostratest::withText<QLabel>(title->parentWidget(), text);
            QVERIFY(label && label->isVisible());
            const int flags = label->wordWrap() ? Qt::TextWordWrap : 0;
            const QRect needed = label->fontMetrics().boundingRect(label->contentsRect(), flags, text);
            QVERIFY2(needed.width() <= label->contentsRect().width() && needed.height() <= label->contentsRect().height(),
                     qPrintable(QStringLiteral("%1 x %2").arg(label->width()).arg(label->height())));
        }
    }

    // Snapshot mode grabs a page that was only just switched to as the user sees it: not blank
    // under its title while it still fades in (the page switch fades where animations run, in
    // the _animated run of this test).
    void snapshotOfAFreshPage()
    {
        MainWindow window;
        window.resize(2560, 1440);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTemporaryDir dir;
        window.showPage(MainWindow::InfoPage);
        window.savePageSnapshot(dir.path(), 7, QStringLiteral("info"));
        const QImage saved(dir.path() + QStringLiteral("/07-info.png"));
        QVERIFY(!saved.isNull());
        QCoreApplication::processEvents();
        QWidget *page = window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->widget(2);
        for (const char *text : {"System information", "Changelog", "Hardware compatibility"}) {
            QLabel *label = nullptr;
            for (QLabel *candidate : page->findChildren<QLabel *>()) {
                if (candidate->text() == QLatin1String(text))
                    label = candidate;
            }
            QVERIFY(label);
            const QRect area(label->mapTo(&window, QPoint(0, 0)), label->size());
            int ink = 0;
            for (int y = area.top(); y <= area.bottom(); ++y) {
                for (int x = area.left(); x <= area.right(); ++x)
                    ink += qGray(saved.pixel(x, y)) < 110;
            }
            QVERIFY2(ink > 20, text);
        }
    }

    void infoPage()
    {
        auto window = std::make_unique<MainWindow>();
        QWidget *page = window->findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->widget(2);
        int versions = 0;
        for (QLabel *label : page->findChildren<QLabel *>())
            versions += label->text() == QLatin1String("v1.3.5");
        QCOMPARE(versions, 2);

        QStringList headings;
        QTextDocument *notes = page->findChild<QTextBrowser *>(QStringLiteral("changelogBrowser"))->document();
        for (QTextBlock block = notes->begin(); block.isValid(); block = block.next()) {
            if (block.blockFormat().headingLevel() == 3)
                headings << block.text();
        }
        const QStringList releases = QStringLiteral(
            "1.3.5 1.3.4 1.3.3 1.3.2 1.3.1 1.3.0 1.2.7 1.2.6 1.2.5 1.2.4 1.2.3 1.2.2 1.2.1 1.2.0 1.1.2 1.1.1 1.1 "
            "1.0.21 1.0.20 1.0.19 1.0.18 1.0.17 1.0.16 1.0.15 1.0.14 1.0.13 1.0.12 1.0.11 1.0.10 1.0.9 1.0.8 1.0.7 "
            "1.0.6 1.0.5 1.0.4 1.0.3 1.0.2 1.0.1 1.0.0").split(QLatin1Char(' '));
        QStringList expected;
        for (const QString &release : releases)
            expected << QStringLiteral("v") + release;
        QCOMPARE(headings.size(), 39);
        QCOMPARE(headings, expected);
        // Every change of the list starts with a space after its bullet.
        int items = 0;
        for (QTextBlock block = notes->begin(); block.isValid(); block = block.next()) {
            if (block.textList()) {
                ++items;
                QVERIFY2(block.text().startsWith(QChar(0x00A0)), qPrintable(block.text()));
            }
        }
        QVERIFY(items > 39);
        // The build date reads as an ISO date and time, with single spaces.
        QStringList dates;
        for (QLabel *label : page->findChildren<QLabel *>()) {
            if (label->text().contains(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))))
                dates << label->text();
        }
        QCOMPARE(dates.size(), 1);
        QVERIFY(QDate::fromString(dates.first().left(10), Qt::ISODate).isValid());

        auto *toggle = page->findChild<ostra::Toggle *>(QStringLiteral("reduceMotionToggle"));
        QVERIFY(!toggle->isChecked());
        toggle->click();
        QVERIFY(ostra::Motion::instance()->reduced());
        QCOMPARE(corvane::SettingsFile().value(QStringLiteral("ui/reduceMotion")).toBool(), true);
        // Built with reduced motion on, the switch starts on; off again is remembered.
        window.reset();
        {
            MainWindow second;
            auto *again = second.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))
                              ->widget(2)->findChild<ostra::Toggle *>(QStringLiteral("reduceMotionToggle"));
            QVERIFY(again->isChecked());
            again->click();
        }
        QVERIFY(!ostra::Motion::instance()->reduced());
        QCOMPARE(corvane::SettingsFile().value(QStringLiteral("ui/reduceMotion")).toBool(), false);
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestMainWindow)
#include "tst_mainwindow.moc"
