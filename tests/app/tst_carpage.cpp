#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QWebSocket>

#include <functional>
#include <memory>

#include "api/websocketserver.h"
#include "app/mainwindow.h"
#include "app/steeringgaugewidget.h"
#include "bridge/corvanecontroller.h"
#include "bridge/inputdevice.h"
#include "bridge/logrouter.h"
#include "bridge/steeringmonitor.h"
#include "dialogs/pedalverificationdialog.h"
#include "ostraui/channelcell.h"
#include "ostraui/devicerow.h"
#include "ostraui/mapview.h"
#include "ostraui/pagestack.h"
#include "ostraui/pill.h"
#include "ostraui/theme.h"
#include "ostraui/toast.h"
#include "ostraui/txbutton.h"
#include "platform/input/virtualinputbackend.h"
#include "platform/serial/serialportlister.h"
#include "profiles/profilemanager.h"
#include "platform/storage/settingsfile.h"
#include "support/darktwin.h"
#include "support/ptydevice.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"
#include "support/widgets/modalanswerer.h"
#include "support/writesdone.h"

using ostratest::SimulatedTransmitter;

namespace {

const QString Dash = QStringLiteral("\u2014");

// Answers the next pedal check: tick the box and start, or cancel.
void answerPedalCheck(bool start)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, start] {
        auto *check = qobject_cast<corvane::PedalVerificationDialog *>(QApplication::activeModalWidget());
        if (!check)
            return;
        poll->deleteLater();
        poll->stop();
        if (!start) {
            check->reject();
            return;
        }
        check->findChild<QCheckBox *>()->setChecked(true);
        check->findChild<QPushButton *>(QStringLiteral("startTransmissionBtn"))->click();
    });
    poll->start(10);
}

// A label's whole text fits where the layout put it, on one line or wrapped.
bool shownInFull(const QLabel *label)
{
    return label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                             : label->sizeHint().width() <= label->width();
}

// The car page read the way a user reads it.
struct Car
{
    MainWindow &window;

    template<typename T = QLabel>
    T *named(const char *name) const
    {
        return window.findChild<T *>(QLatin1String(name));
    }
    QString text(const char *name) const { return named(name)->text(); }
    ostra::TxButton *tx() const { return named<ostra::TxButton>("startStopBtn"); }
    QComboBox *combo(const char *name) const { return named<QComboBox>(name); }
    QPushButton *button(const char *name) const { return named<QPushButton>(name); }
    QString toast() const
    {
        auto *toast = window.findChild<ostra::Toast *>();
        return toast ? toast->text() : QString();
    }
    // The car page's own cells (the helicopter page has sixteen more).
    QList<ostra::ChannelCell *> channelCells() const
    {
        return window.findChild<QWidget *>(QStringLiteral("channelCard"))->findChildren<ostra::ChannelCell *>();
    }
    QStringList channelTexts() const
    {
        QStringList texts;
        for (ostra::ChannelCell *cell : channelCells())
            texts << cell->findChildren<QLabel *>().constLast()->text();
        return texts;
    }
    QList<QMessageBox *> errorBoxes() const
    {
        QList<QMessageBox *> open;
        for (QMessageBox *box : window.findChildren<QMessageBox *>(QStringLiteral("corvaneErrorBox")))
            if (box->isVisible())
                open << box;
        return open;
    }
    void selectData(const char *comboName, const QVariant &data) const
    {
        QComboBox *c = combo(comboName);
        c->setCurrentIndex(c->findData(data));
    }
    QTextEdit *console() const { return named<QTextEdit>("consoleOutput"); }
    QString lastConsoleLine() const { return console()->document()->lastBlock().text(); }
};

// A transmitter on a pty, a wheel base and pedals, all listed where the car page looks for them.
struct Rig
{
    Rig()
    {
        input = corvane::VirtualInputBackend::instance();
        input->reset();
        wheel = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Test Wheel"), 6, 12, 1, true));
        pedals = input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Test Pedals"), 8, 8, 0));
        for (int axis = 0; axis < 6; ++axis)
            wheel->setAxis(axis, 0.0f);
        for (int axis = 0; axis < 8; ++axis)
            pedals->setAxis(axis, -1.0f);
        corvane::SerialPortLister::setFixedPorts({{tx.portName(), QStringLiteral("QOR Transmitter"), QString()}});
    }
    ~Rig() { corvane::SerialPortLister::setFixedPorts({}); }

    corvane::VirtualInputBackend *input;
    corvane::VirtualInputDevice *wheel;
    corvane::VirtualInputDevice *pedals;
    SimulatedTransmitter tx;
};

// Connects transmitter, wheel base and pedals the way a user does: pick, then press Connect.
bool connectAll(MainWindow &window, Rig &rig)
{
    Car car{window};
    window.onRefreshSerialPorts();
    window.onRefreshInputDevices();
    car.selectData("transmitterCombo", rig.tx.portName());
    car.button("connectTransmitterBtn")->click();
    car.selectData("wheelBaseCombo", 0);
    car.button("connectWheelBaseBtn")->click();
    car.selectData("pedalsCombo", 1);
    car.button("connectPedalsBtn")->click();
    corvane::CorvaneController *c = window.controller();
    if (!rig.tx.waitFor([c] { return c->isTransmitterAuthorized(); }))
        return false;
    c->setPedalsAxisMapping(AxisMapping());
    return c->isSerialConnected() && c->isWheelBaseConnected() && c->isPedalsConnected();
}

} // namespace

class TestCarPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ostra::installTheme(*qApp);
        corvane::SettingsFile().setValue(QStringLiteral("ui/reduceMotion"), true);
    }

    // Every case starts from a fresh installation: no profiles, no saved devices, no settings.
    void init()
    {
        ostratest::freshDataFolder();
        corvane::SettingsFile().remove(QString());
        corvane::SettingsFile().setValue(QStringLiteral("ui/reduceMotion"), true);
        corvane::VirtualInputBackend::instance()->reset();
        corvane::SerialPortLister::setFixedPorts({});
    }

    void noSelection_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QString>("text");
        QTest::newRow("transmitter") << "onConnectTransmitter" << "Please select a QOR Transmitter";
        QTest::newRow("wheel base") << "onConnectWheelBase" << "Please select a wheel base";
        QTest::newRow("pedals") << "onConnectPedals" << "Please select pedals";
        QTest::newRow("shifter") << "onConnectShifter" << "Please select a shifter";
    }

    // USB ports come before the on-board ones; a port without a description reads as its name.
    void portList()
    {
        corvane::SerialPortLister::setFixedPorts({{QStringLiteral("ttyS0"), QString(), QString()},
                                                  {QStringLiteral("ttyS1"), QStringLiteral("Serial"), QString()},
                                                  {QStringLiteral("ttyACM0"), QStringLiteral("QOR Transmitter"),
                                                   QStringLiteral("Qorvant"), 0x2E8A, 0x000A}});
        MainWindow window;
        window.onRefreshSerialPorts();
        QComboBox *ports = Car{window}.combo("transmitterCombo");
        QStringList shown;
        for (int i = 0; i < ports->count(); ++i)
            shown << ports->itemText(i);
        QCOMPARE(shown, QStringList({"Choose QOR Transmitter", "ttyACM0 - QOR Transmitter", "ttyS0", "ttyS1 - Serial"}));
    }

    // Connected elsewhere (the setup guide, the phone) on a port that appeared after the list was
    // filled: the list shows that port.
    void connectedPortIsShown()
    {
        MainWindow window;
        Rig rig;
        QVERIFY(window.controller()->connectTransmitter(rig.tx.portName(), 115200));
        QCOMPARE(Car{window}.combo("transmitterCombo")->currentData().toString(), rig.tx.portName());
    }

    // A placeholder selected: a warning, nothing connected, the row unchanged.
    void noSelection()
    {
        QFETCH(QString, slot);
        QFETCH(QString, text);
        MainWindow window;
        ostratest::ModalAnswerer answer;
        answer.press(QStringLiteral("OK"));
        QVERIFY(QMetaObject::invokeMethod(&window, slot.toLatin1().constData()));
        QCOMPARE(answer.records().size(), 1);
        QCOMPARE(answer.records().at(0).title, QStringLiteral("Error"));
        QCOMPARE(answer.records().at(0).text, text);
        QVERIFY(!window.controller()->isSerialConnected() && !window.controller()->isWheelBaseConnected());
    }

    void refreshChoosesTheRememberedDevice_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<int>("device");
        QTest::newRow("wheel base") << "wheelBase" << 0;
        QTest::newRow("pedals") << "pedals" << 1;
    }

    // A remembered device unplugged and plugged in again: Refresh chooses it, and its Connect
    // (offered, not greyed) connects it.
    void refreshChoosesTheRememberedDevice()
    {
        QFETCH(QString, role);
        QFETCH(int, device);
        Rig rig;
        MainWindow window;
        Car car{window};
        QVERIFY(connectAll(window, rig));
        const QByteArray combo = (role + "Combo").toLatin1();
        const QByteArray button = "connect" + role.left(1).toUpper().toLatin1() + role.mid(1).toLatin1() + "Btn";
        const auto connected = [&] { return car.button(button)->text() == QLatin1String("Disconnect"); };
        (device == 0 ? rig.wheel : rig.pedals)->unplug();
        QTRY_VERIFY(!connected());
        (device == 0 ? rig.wheel : rig.pedals)->replug();
        // Refresh is busy for a moment after connectAll's.
        QTRY_VERIFY(car.button("refreshDevicesBtn")->isEnabled());
        car.button("refreshDevicesBtn")->click();
        QCOMPARE(car.combo(combo)->currentData().toInt(), device);
        QVERIFY(car.button(button)->property("primary").toBool());
        car.button(button)->click();
        QVERIFY(connected());
    }

    // The car page has no receiver combo: the receiver slot does nothing at all.
    void receiverSlotWithoutCombo()
    {
        MainWindow window;
        ostratest::ModalAnswerer answer;
        answer.press(QStringLiteral("OK"));
        QVERIFY(QMetaObject::invokeMethod(&window, "onConnectReceiver"));
        QCoreApplication::processEvents();
        QCOMPARE(answer.pending(), 1);
        QVERIFY(!window.controller()->isReceiverConnected());
    }

    // Connect, start through the pedal check, drive, stop and disconnect, all from the page.
    void driveEndToEnd()
    {
        Rig rig;
        MainWindow window;
        Car car{window};
        QVERIFY(connectAll(window, rig));
        QCOMPARE(car.text("devicesSummary"), QStringLiteral("All required devices connected"));
        QCOMPARE(car.tx()->state(), int(ostra::TxGo));
        QCOMPARE(car.text("txHint"), QStringLiteral("Everything is connected"));
        QCOMPARE(car.text("requiredStatus1"), QStringLiteral("Connected"));

        // Cancelling the check starts nothing and says nothing.
        answerPedalCheck(false);
        car.tx()->click();
        QVERIFY(!window.controller()->isRunning());
        QVERIFY(car.toast().isEmpty());

        answerPedalCheck(true);
        car.tx()->click();
        QVERIFY(window.controller()->isRunning());
        QCOMPARE(car.toast(), QStringLiteral("Transmission started"));
        QCOMPARE(car.tx()->state(), int(ostra::TxStop));
        QCOMPARE(car.text("txHint"), QStringLiteral("Sending 16 channels to the receiver"));
        QCOMPARE(car.text("channelHint"), QStringLiteral("Live output in \u00B5s"));
        QVERIFY(rig.tx.waitForChannelFrames(3));

        // Live values follow the monitor tick; channel cells show microseconds while running.
        rig.pedals->setAxis(1, 1.0f);
        QTRY_COMPARE(car.text("ffbValueLabel"), QStringLiteral("0%"));
        QTRY_VERIFY(car.channelTexts().at(0) != Dash);
        const int us = car.channelTexts().at(0).toInt();
        QVERIFY(us >= 880 && us <= 2120);

        car.tx()->click();
        QVERIFY(!window.controller()->isRunning());
        QCOMPARE(car.toast(), QStringLiteral("Transmission stopped"));
        QCOMPARE(car.channelTexts(), QStringList(16, Dash));
        // No link statistics came in: neither tile has a value.
        QCOMPARE(car.text("signalValue"), Dash);
        QCOMPARE(car.text("linkQualityValue"), Dash);

        // The transmitter row disconnects whatever the combo shows.
        car.combo("transmitterCombo")->setCurrentIndex(0);
        car.button("connectTransmitterBtn")->click();
        QVERIFY(!window.controller()->isSerialConnected());
        car.button("connectWheelBaseBtn")->click();
        QVERIFY(!window.controller()->isWheelBaseConnected());
        QCOMPARE(car.text("devicesSummary"), QStringLiteral("1 of 3 required devices connected"));
        QCOMPARE(car.tx()->state(), int(ostra::TxLocked));
    }

    void status_data()
    {
        QTest::addColumn<bool>("transmitter");
        QTest::addColumn<bool>("wheel");
        QTest::addColumn<bool>("pedals");
        QTest::addColumn<bool>("combined");
        QTest::addColumn<bool>("configMode");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<QString>("tooltip");
        QTest::addColumn<QString>("pedalStatus");
        // An open port whose transmitter has not answered yet, or never did (a port picked by hand).
        QTest::addColumn<QString>("unanswered");
        QTest::newRow("nothing") << false << false << false << false << false
                                 << "0 of 3 required devices connected" << int(ostra::TxLocked)
                                 << "Connect the three devices above to start" << "" << "Not connected" << "";
        QTest::newRow("pedals missing") << true << true << false << false << false
                                        << "2 of 3 required devices connected" << int(ostra::TxLocked)
                                        << "Connect the three devices above to start" << "" << "Not connected" << "";
        QTest::newRow("combined pedals") << true << true << false << true << false
                                         << "All required devices connected" << int(ostra::TxGo)
                                         << "Everything is connected" << "" << "In wheel base" << "";
        QTest::newRow("configuring") << true << true << true << false << true
                                     << "All required devices connected" << int(ostra::TxLocked)
                                     << "Stop configuring the transmitter first" << "Stop configuring first"
                                     << "Connected" << "";
        QTest::newRow("waiting for the answer") << true << true << true << false << false
                                                << "2 of 3 required devices connected" << int(ostra::TxLocked)
                                                << "%1 is open. Waiting for the transmitter to answer\u2026"
                                                << "" << "Connected" << "waiting";
        QTest::newRow("nothing answers") << true << true << true << false << false
                                         << "2 of 3 required devices connected" << int(ostra::TxLocked)
                                         << "Nothing answers on %1. Choose the QOR Transmitter's port, and check "
                                            "that the transmitter is switched on."
                                         << "" << "Connected" << "silent";
        QTest::newRow("frames, never an ID") << true << true << true << false << false
                                             << "2 of 3 required devices connected" << int(ostra::TxLocked)
                                             << "The device on %1 answers but never gave its ID, so it can't drive "
                                                "the car. Check that it is the QOR Transmitter and that its firmware "
                                                "is up to date, then connect it again."
                                             << "" << "Connected" << "unidentified";
    }

    void status()
    {
        QFETCH(bool, transmitter);
        QFETCH(bool, wheel);
        QFETCH(bool, pedals);
        QFETCH(bool, combined);
        QFETCH(bool, configMode);
        QFETCH(QString, summary);
        QFETCH(int, state);
        QFETCH(QString, hint);
        QFETCH(QString, tooltip);
        QFETCH(QString, pedalStatus);
        QFETCH(QString, unanswered);
        const bool silent = unanswered == "silent";
        const bool waiting = unanswered == "waiting";
        const bool unidentified = unanswered == "unidentified";
        Rig rig;
        MainWindow window;
        Car car{window};
        corvane::CorvaneController *c = window.controller();
        rig.tx.setAnswersId(unanswered.isEmpty());
        if (transmitter) {
            QVERIFY(c->connectTransmitter(rig.tx.portName(), 115200));
            QVERIFY(rig.tx.waitFor([c, unanswered] { return !unanswered.isEmpty() || c->isTransmitterAuthorized(); }));
        }
        QSignalSpy heard(c, &corvane::CorvaneController::linkStatisticsUpdated);
        QVERIFY(!unidentified || (rig.tx.sendLinkStatistics(-60, -60, 100, 9) && rig.tx.waitFor([&heard] { return !heard.isEmpty(); })));
        if (silent || unidentified) {
            QTest::ignoreMessage(QtWarningMsg, "[SECURITY] No device ID response from transmitter");
            for (int query = 0; query < 4; ++query)
                QVERIFY(QMetaObject::invokeMethod(c, "onDeviceIdRetry"));
        }
        if (wheel)
            QVERIFY(c->connectWheelBase(0));
        if (pedals)
            QVERIFY(c->connectPedals(1));
        if (combined) {
            AxisMapping mapping = c->wheelBase()->axisMapping();
            mapping.combinedPedals = true;
            c->setWheelBaseAxisMapping(mapping);
        }
        if (configMode) {
            c->startConfigMode();
            QTRY_VERIFY(c->isConfigMode());
        }
        window.updateCarPageStatus();
        if (!unanswered.isEmpty())
            hint = hint.arg(rig.tx.portName());
        QCOMPARE(car.text("devicesSummary"), summary);
        QCOMPARE(car.tx()->state(), state);
        QCOMPARE(car.text("txHint"), hint);
        QCOMPARE(car.tx()->toolTip(), tooltip);
        QCOMPARE(car.text("requiredStatus2"), pedalStatus);
        auto *transmitterPill = car.combo("transmitterCombo")->parentWidget()->findChild<ostra::Pill *>();
        QCOMPARE(car.text("requiredStatus0"), silent         ? "No answer on " + rig.tx.portName()
                                              : waiting      ? QStringLiteral("Waiting for an answer\u2026")
                                              : unidentified ? "No ID from " + rig.tx.portName()
                                              : transmitter  ? "Connected" : "Not connected");
        const QString word = silent         ? QStringLiteral("No answer")
                             : waiting      ? QStringLiteral("Waiting\u2026")
                             : unidentified ? QStringLiteral("Not identified")
                             : transmitter  ? QStringLiteral("Connected") : QStringLiteral("Not connected");
        QCOMPARE(transmitterPill->text(), word);
        QCOMPARE(transmitterPill->level() == int(ostra::LevelWarning), !unanswered.isEmpty());
        // The header says the same.
        auto *headerPill = window.findChild<ostra::Pill *>(QStringLiteral("transmitterPill"));
        QCOMPARE(headerPill->value(), word);
        QCOMPARE(headerPill->toolTip(), unanswered.isEmpty() ? QString() : hint);
        // Only a transmitter that answers gets the row's green frame; one not answering can still be disconnected.
        QWidget *transmitterRow = car.combo("transmitterCombo")->parentWidget();
        QCOMPARE(transmitterRow->property("connected").toBool(), transmitter && unanswered.isEmpty());
        QCOMPARE(car.button("connectTransmitterBtn")->text(), transmitter ? "Disconnect" : "Connect");
        if (!unanswered.isEmpty()) {
            window.show();
            window.showPage(MainWindow::CarPage);
            window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->finishTransition();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            // The transmitter's line is said in full on laptop screens.
            for (const QSize size : {QSize(1280, 720), QSize(1366, 768)}) {
                window.resize(size);
                QTest::qWait(60);
                QVERIFY2(shownInFull(car.named("requiredStatus0")), qPrintable(car.text("requiredStatus0")));
            }
            QVERIFY(window.grab().save(ostratest::artefactDir(QStringLiteral("app"))
                                       + QStringLiteral("/carpage-%1-%2.png").arg(unanswered, ostra::isDarkTheme() ? "dark" : "light")));
        }
        if (combined) {
            auto *pedalsRow = qobject_cast<ostra::DeviceRow *>(car.combo("pedalsCombo")->parentWidget());
            auto *pill = pedalsRow->findChild<ostra::Pill *>();
            QCOMPARE(pill->text(), QStringLiteral("In wheel base"));
            QCOMPARE(pill->level(), int(ostra::LevelInfo));
        }
        if (configMode)
            c->stopConfigMode();
    }

    void console()
    {
        MainWindow window;
        Car car{window};
        window.onTelemetryReceived(QByteArray::fromHex("0AFF00"));
        QVERIFY(car.lastConsoleLine().endsWith(QStringLiteral("] RX: 0A FF 00")));
        QVERIFY(QRegularExpression(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] RX: 0A FF 00$"))
                    .match(car.lastConsoleLine()).hasMatch());
        window.onLogMessage(4, QStringLiteral("x"));
        QVERIFY(car.lastConsoleLine().endsWith(QStringLiteral("] LOG: x")));
        window.onLogMessage(1, QStringLiteral("careful"));
        QVERIFY(car.lastConsoleLine().endsWith(QStringLiteral("] WARN: careful")));
        window.onTelemetryReceived(QByteArray());
        QVERIFY(car.lastConsoleLine().endsWith(QStringLiteral("] RX: ")));
        window.onReceiverDataReceived(QStringLiteral("IMU OK"));
        QVERIFY(car.lastConsoleLine().endsWith(QStringLiteral("] RX: IMU OK")));

        window.onClearConsole();
        for (int i = 1; i <= 501; ++i)
            window.onReceiverDataReceived(QStringLiteral("L%1").arg(i));
        QCOMPARE(car.console()->document()->blockCount(), 401);
        QVERIFY(car.console()->document()->firstBlock().text().endsWith(QStringLiteral("L101")));
        QVERIFY(car.lastConsoleLine().endsWith(QStringLiteral("L501")));
        // Log lines through the router, long ones too: the box keeps no undo history (it would
        // hold every line trimmed away) and never more than its limit of blocks.
        for (int i = 1; i <= 1200; ++i)
            corvane::LogRouter::instance()->post(4, QStringLiteral("M%1 ").arg(i) + QString(i % 3 ? 20 : 4000, u'x'));
        QTRY_VERIFY(car.lastConsoleLine().contains(QStringLiteral("] LOG: M1200 ")));
        QCOMPARE(car.console()->document()->availableUndoSteps(), 0);
        QVERIFY(car.console()->document()->blockCount() <= 501);

        // Debug console toggle: the card and the row's title follow.
        auto *row = car.named<QAbstractButton>("toggleDebugBtn");
        QCOMPARE(row->text(), QStringLiteral("Debug console"));
        window.onToggleDebugPanel();
        QVERIFY(!car.named<QWidget>("debugConsoleCard")->isHidden());
        QCOMPARE(row->text(), QStringLiteral("Hide debug console"));
        window.toggleConsoleFromRow();
        QVERIFY(car.named<QWidget>("debugConsoleCard")->isHidden());
        QCOMPARE(row->text(), QStringLiteral("Debug console"));
    }

    void liveValues()
    {
        MainWindow window;
        Car car{window};
        corvane::CorvaneController *c = window.controller();
        emit c->ffbLevelReceived(0.35f);
        QCOMPARE(car.text("ffbValueLabel"), QStringLiteral("+35%"));
        emit c->ffbLevelReceived(-0.2f);
        QCOMPARE(car.text("ffbValueLabel"), QStringLiteral("-20%"));
        emit c->ffbLevelReceived(0.004f);
        QCOMPARE(car.text("ffbValueLabel"), QStringLiteral("0%"));
        {
            // The help tells the read-outs in the units they show.
            ostratest::ModalAnswerer answer;
            answer.returnKey();
            window.onInputMonitorInfoClicked();
            const QString help = answer.records().at(0).text;
            QVERIFY(help.contains("degrees") && help.contains("from 0% to 100%") && help.contains("-100% to +100%"));
        }

        // Antenna-1 RSSI of 0 shows no signal; a stored magnitude and a stored negative both read negative.
        c->setCarLinked(true);
        corvane::LinkStatistics stats;
        stats.linkQuality = 87;
        window.onLinkStatisticsUpdated(stats);
        QCOMPARE(car.text("signalValue"), Dash);
        QCOMPARE(car.text("linkQualityValue"), QStringLiteral("87%"));
        QCOMPARE(car.text("rssiLabel"), QStringLiteral("RSSI: \u2014/\u2014 dBm"));
        stats.uplinkRssi1 = 70;
        stats.uplinkRssi2 = -72;
        stats.snr = -3;
        stats.rfMode = 4;
        window.onLinkStatisticsUpdated(stats);
        QCOMPARE(car.text("signalValue"), QStringLiteral("-70 dBm"));
        QCOMPARE(car.text("rssiLabel"), QStringLiteral("RSSI: 70/-72 dBm"));
        QCOMPARE(car.text("snrLabel"), QStringLiteral("SNR: -3 dB"));
        QCOMPARE(car.text("rfModeLabel"), QStringLiteral("RF Mode: 4"));
        stats.uplinkRssi1 = -70;
        window.onLinkStatisticsUpdated(stats);
        QCOMPARE(car.text("signalValue"), QStringLiteral("-70 dBm"));
        c->setCarLinked(false);
        window.onLinkStatisticsUpdated(stats);
        QCOMPARE(car.text("signalValue"), Dash);
        QCOMPARE(car.text("linkQualityValue"), QStringLiteral("0%"));
    }

    void channelMicroseconds_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("us");
        QTest::newRow("min") << 172 << 988;
        QTest::newRow("centre") << 992 << 1500;
        QTest::newRow("max") << 1811 << 2012;
        QTest::newRow("below") << 0 << 880;
        QTest::newRow("above") << 2047 << 2120;
    }

    void channelMicroseconds()
    {
        QFETCH(int, value);
        QFETCH(int, us);
        QCOMPARE(::channelMicroseconds(value), us);
    }

    void gpsAge_data()
    {
        QTest::addColumn<qint64>("ageMs");
        QTest::addColumn<QString>("text");
        QTest::newRow("seconds") << qint64(59999) << "59 s ago";
        QTest::newRow("75 s") << qint64(75000) << "1 min ago";
        QTest::newRow("3 h 59 min") << qint64(14340000) << "3 h ago";
    }

    void gpsAge()
    {
        QFETCH(qint64, ageMs);
        QFETCH(QString, text);
        QCOMPARE(gpsAgeText(ageMs), text);
    }

    // A fix from the car: live position text, a heading only from 2.0 km/h.
    void gps()
    {
        Rig rig;
        MainWindow window;
        Car car{window};
        window.findChild<ostra::MapView *>()->setTileServer(QStringLiteral("http://127.0.0.1:9"), QString());
        corvane::CorvaneController *c = window.controller();
        QVERIFY(c->connectTransmitter(rig.tx.portName(), 115200));
        QCOMPARE(car.text("gpsStatus"), QStringLiteral("Waiting for a GPS fix"));
        QVERIFY(rig.tx.sendGps(47.123456, 8.765432, 1.9, 90.0, 400, 9));
        QTRY_VERIFY(c->gpsFix().valid);
        QCOMPARE(car.text("gpsStatus"), QStringLiteral("Live \u00B7 47.12346, 8.76543"));
        QCOMPARE(car.text("gpsSpeedValue"), QStringLiteral("1.9 km/h"));
        QCOMPARE(car.text("satellitesValue"), QStringLiteral("9"));
        QVERIFY(car.button("openMapsBtn")->isEnabled());
        QVERIFY(!window.findChild<ostra::MapView *>()->isMoving());
        QVERIFY(rig.tx.sendGps(47.123456, 8.765432, 2.0, 90.0, 400, 9));
        QTRY_VERIFY(window.findChild<ostra::MapView *>()->isMoving());
    }

    void gauge()
    {
        Rig rig;
        MainWindow window;
        corvane::CorvaneController *c = window.controller();
        QVERIFY(c->connectWheelBase(0));
        AxisSettings axes = c->axisSettings();
        axes.wheelRotationDeg = 900;
        axes.steeringAngleDeg = 540;
        c->setAxisSettings(axes);
        rig.wheel->setAxis(0, 0.7f);
        c->wheelBase()->poll();
        QVERIFY(c->wheelAngleDeg() >= 270.0f);
        window.updateLiveInput();
        auto *gauge = window.findChild<corvane::SteeringGaugeWidget *>();
        QCOMPARE(gauge->value(), 1.0f);
        // Without a steering angle the whole rotation is the scale.
        axes.steeringAngleDeg = 0;
        c->setAxisSettings(axes);
        window.updateLiveInput();
        QVERIFY(gauge->value() < 1.0f && gauge->value() > 0.5f);
    }

    // Pinned sensors: one tile each, unknown ids by their id, grey while stale.
    void tiles()
    {
        Rig rig;
        MainWindow window;
        Car car{window};
        corvane::CorvaneController *c = window.controller();
        QVERIFY(car.named<QWidget>("pinnedSensors")->isHidden());
        c->setTelemetryDashboard({QStringLiteral("RQly"), QStringLiteral("ZZZZ")});
        QVERIFY(!car.named<QWidget>("pinnedSensors")->isHidden());
        QLabel *rqly = car.named("sensorValue_RQly");
        QLabel *unknown = car.named("sensorValue_ZZZZ");
        QVERIFY(rqly && unknown);
        QCOMPARE(unknown->text(), Dash);
        window.updateTelemetryDashboard();
        QVERIFY(unknown->property("stale").toBool());
        QVERIFY(c->connectTransmitter(rig.tx.portName(), 115200));
        QVERIFY(rig.tx.sendLinkStatistics(-60, -62, 97, 8));
        QTRY_COMPARE(rqly->text(), QStringLiteral("97 %"));
        QVERIFY(!rqly->property("stale").toBool());
        QVERIFY(unknown->property("stale").toBool());
        c->setTelemetryDashboard({});
        QVERIFY(car.named<QWidget>("pinnedSensors")->isHidden());
    }

    void theme()
    {
        MainWindow window;
        const bool dark = ostra::isDarkTheme();
        corvane::SettingsFile().remove(QStringLiteral("ui/theme"));
        {
            ostratest::ModalAnswerer answer;
            answer.cancel();
            window.toggleTheme();
            QVERIFY(!corvane::SettingsFile().contains(QStringLiteral("ui/theme")));
        }
        {
            ostratest::ModalAnswerer answer;
            answer.press(QStringLiteral("Next time"));
            window.toggleTheme();
            QCOMPARE(answer.records().at(0).title, dark ? QStringLiteral("Switch to light mode")
                                                        : QStringLiteral("Switch to dark mode"));
            QVERIFY(corvane::SettingsFile().contains(QStringLiteral("ui/theme")));
            QCOMPARE(window.findChild<ostra::Toast *>()->text(),
                     dark ? QStringLiteral("Light mode from the next start") : QStringLiteral("Dark mode from the next start"));
            QVERIFY(!window.restartRequested());
        }
        {
            const QByteArray override = qgetenv("QOROSTRA_THEME");
            qputenv("QOROSTRA_THEME", dark ? "dark" : "light");
            ostratest::ModalAnswerer answer;
            answer.press(QStringLiteral("Next time"));
            window.toggleTheme();
            QVERIFY(window.findChild<ostra::Toast *>()->text().endsWith(QStringLiteral(" without QOROSTRA_THEME")));
            override.isEmpty() ? qunsetenv("QOROSTRA_THEME") : qputenv("QOROSTRA_THEME", override);
        }
        corvane::SettingsFile().remove(QStringLiteral("ui/theme"));
        {
            Rig rig;
            QVERIFY(connectAll(window, rig));
            window.controller()->startTransmission();
            // The copy the restart starts reads the saved theme, not an override it inherits.
            const QByteArray override = qgetenv("QOROSTRA_THEME");
            qputenv("QOROSTRA_THEME", dark ? "dark" : "light");
            ostratest::ModalAnswerer answer;
            answer.press(QStringLiteral("Restart now"));
            window.toggleTheme();
            QVERIFY(answer.records().at(0).text.endsWith(QStringLiteral("Transmission is running and will stop.")));
            QVERIFY(!window.controller()->isRunning());
            QVERIFY(window.restartRequested());
            QVERIFY(corvane::SettingsFile().contains(QStringLiteral("ui/theme")));
            QCOMPARE(ostra::selectedTheme(), !dark);
            if (!override.isEmpty())
                qputenv("QOROSTRA_THEME", override);
        }
        corvane::SettingsFile().remove(QStringLiteral("ui/theme"));
    }

    // "Restart now" stops the car, and the copy it starts, which connects what the profile keeps,
    // holds that stop: auto-start waits for the user's Start.
    void restartHoldsTheStop()
    {
        Rig rig;
        {
            MainWindow window;
            QVERIFY(connectAll(window, rig));
            window.controller()->setAutoStartEnabled(true); // which starts it
            ostratest::ModalAnswerer answer;
            answer.press(QStringLiteral("Restart now"));
            window.toggleTheme();
            QVERIFY(window.restartRequested() && ostratest::writesDone());
        }
        rig.tx.clearRecords();
        MainWindow restarted;
        corvane::CorvaneController *c = restarted.controller();
        QVERIFY(rig.tx.waitFor([c] { return c->isTransmitterAuthorized() && c->isPedalsConnected() && c->autoStartEnabled(); }));
        rig.tx.waitFor([] { return false; }, 200);
        QCOMPARE(rig.tx.startCount(), 0);
        c->setAutoStartEnabled(false);
        corvane::SettingsFile().remove(QStringLiteral("ui/theme"));
    }

    // Errors: one box at a time, the next text waiting for it, none while suppressed, profile store
    // failures too.
    void errors()
    {
        MainWindow window;
        Car car{window};
        window.onError(QStringLiteral("Port busy"));
        window.onError(QStringLiteral("Port busy"));
        QCOMPARE(car.errorBoxes().size(), 1);
        QCOMPARE(car.errorBoxes().at(0)->windowTitle(), QStringLiteral("Corvane Error"));
        window.onError(QStringLiteral("Other"));
        QCOMPARE(car.errorBoxes().size(), 1);
        car.errorBoxes().at(0)->close();
        QCOMPARE(car.errorBoxes().size(), 1);
        QCOMPARE(car.errorBoxes().at(0)->text(), QStringLiteral("Other"));
        car.errorBoxes().at(0)->close();
        QCOMPARE(car.errorBoxes().size(), 0);
        window.onError(QStringLiteral("Port busy"));
        QCOMPARE(car.errorBoxes().size(), 1);
        car.errorBoxes().at(0)->close();

        window.setSuppressErrorDialogs(true);
        window.onError(QStringLiteral("During an update"));
        QCOMPARE(car.errorBoxes().size(), 0);
        window.setSuppressErrorDialogs(false);

        // A profile file that cannot be written (its path taken by a folder) reaches the user.
        corvane::ProfileManager *profiles = window.controller()->profileManager();
        const QString path = profiles->profileFilePath(profiles->activeProfileId());
        QFile::remove(path);
        QVERIFY(QDir().mkpath(path));
        profiles->saveActiveProfile();
        QTRY_COMPARE(car.errorBoxes().size(), 1);
        QVERIFY(car.errorBoxes().at(0)->text().startsWith(QStringLiteral("Failed to save profile: ")));
        car.errorBoxes().at(0)->close();
        QDir(path).removeRecursively();

        // Another vehicle chosen while transmitting stops it as asked: said so, not as an error.
        Rig rig;
        QVERIFY(connectAll(window, rig));
        window.controller()->startTransmission();
        QVERIFY(window.controller()->isRunning());
        profiles->switchVehicleType(QStringLiteral("rc_helicopter"), QStringLiteral("Heli"));
        QTRY_COMPARE(car.errorBoxes().size(), 1);
        QCOMPARE(car.errorBoxes().at(0)->windowTitle(), QStringLiteral("Transmission stopped"));
        QCOMPARE(car.errorBoxes().at(0)->text(), QStringLiteral("Transmission stopped: the vehicle type changed."));
        car.errorBoxes().at(0)->close();

        // Closing the window closes its box, and what waits behind that goes too: shown then, it
        // would keep the program, and a transmission, running without the window. A close that a
        // dialog refuses (as an update does while it writes) keeps them, read in turn.
        window.show();
        window.onError(QStringLiteral("Port busy"));
        window.onError(QStringLiteral("Other"));
        struct Busy : QDialog
        {
            using QDialog::QDialog;
            void reject() override {}
        };
        std::unique_ptr<QDialog> busy = std::make_unique<Busy>(&window);
        busy->show();
        window.close();
        QCOMPARE(car.errorBoxes().size(), 1);
        car.errorBoxes().at(0)->close();
        QCOMPARE(car.errorBoxes().at(0)->text(), QStringLiteral("Other"));
        busy.reset();
        window.onError(QStringLiteral("Third"));
        window.close();
        QTest::qWait(10);
        QCOMPARE(car.errorBoxes().size(), 0);
    }

    void steeringHealthBox_data()
    {
        QTest::addColumn<int>("health");
        QTest::addColumn<bool>("unplug");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("toast"); // after the action; empty: the drive settings open
        QTest::newRow("calibration invalid") << int(corvane::SteeringCalibrationInvalid) << false
                                             << "Calibrate steering" << "";
        QTest::newRow("no input, wheel found again") << int(corvane::SteeringNoInput) << false << "Reconnect wheel"
                                                     << "Wheel base reconnected \u2014 start again when ready";
        QTest::newRow("no input, wheel gone") << int(corvane::SteeringNoInput) << true << "Reconnect wheel"
                                              << "Couldn't find the wheel base. Check its USB cable and power.";
    }

    // The Transmission card warns when turning the wheel cannot steer the car, and its button
    // leads to the cure.
    void steeringHealthBox()
    {
        QFETCH(int, health);
        QFETCH(bool, unplug);
        QFETCH(QString, action);
        QFETCH(QString, toast);
        Rig rig;
        MainWindow window;
        Car car{window};
        QVERIFY(connectAll(window, rig));
        // The port list's refresh tells of itself a moment later: before the action, so that the
        // toast after it is the action's.
        const QString refreshed = QStringLiteral("Device list updated");
        QTRY_COMPARE(car.toast(), refreshed);
        corvane::CorvaneController *c = window.controller();
        if (health == corvane::SteeringCalibrationInvalid) {
            AxisSettings settings = c->axisSettings();
            settings.steeringLeft = 1000;
            settings.steeringCenter = 1020;
            settings.steeringRight = 1040;
            QVERIFY(c->setAxisSettings(settings));
        }
        QWidget *box = car.named<QWidget>("steeringHealthBox");
        QVERIFY(box->isHidden());
        c->startTransmission();
        QVERIFY(c->isRunning());
        for (QTimer *timer : c->findChildren<QTimer *>()) {
            if (timer->interval() == 7)
                timer->stop();
        }
        // The monitor counts 7 ms a tick: three 1.5 s windows of working the brake with the wheel
        // left still mean no steering input.
        for (int t = 0; t < 700 && box->isHidden(); ++t) {
            rig.pedals->setAxis(2, t % 2 ? 1.0f : -1.0f);
            QMetaObject::invokeMethod(c, "onTransmitTimer", Qt::DirectConnection);
        }
        QVERIFY(!box->isHidden());
        QCOMPARE(int(c->steeringMonitor()->health()), health);
        QCOMPARE(box->findChild<QLabel *>()->text(),
                 corvane::SteeringMonitor::healthMessage(corvane::SteeringHealth(health)));
        QPushButton *button = box->findChild<QPushButton *>();
        QCOMPARE(button->text(), action);

        if (unplug)
            rig.wheel->unplug();
        ostratest::ModalAnswerer answer;
        if (toast.isEmpty())
            answer.cancel();
        button->click();
        if (toast.isEmpty()) {
            QCOMPARE(answer.records().size(), 1);
            QCOMPARE(answer.records().at(0).title, QStringLiteral("Drive Settings"));
            QCOMPARE(car.toast(), refreshed);
            return;
        }
        QCOMPARE(car.toast(), toast);
        QCOMPARE(answer.records().size(), 0);
        // Reconnecting stops the car first; only a wheel found again clears the warning.
        QVERIFY(!c->isRunning());
        QCOMPARE(c->isWheelBaseConnected(), !unplug);
        QCOMPARE(box->isHidden(), !unplug);
    }

    // An error a request from the network causes goes back to that client and shows here as a
    // toast: no client on the LAN can stack boxes on the desktop.
    void networkErrorsAreToasts_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("message"); // the client's reply
        QTest::addColumn<QString>("toast"); // empty: the port's own words
        QTest::newRow("bad profile") << "action_import_profile" << QJsonObject{{"profileJson", QJsonObject{}}}
                                     << "Failed to import profile" << "Invalid profile data";
        QTest::newRow("receiver port gone") << "action_connect_receiver" << QJsonObject{{"port", "/dev/ttyOSTRAGONE"}}
                                            << "Failed to connect receiver to /dev/ttyOSTRAGONE: No such file or directory" << QString();
        // Reported by the writer after the request has been answered in memory.
        QTest::newRow("profile file not written") << "action_rename_profile" << QJsonObject{{"id", "$active"}, {"name", "Car"}}
                                                  << "Failed to save profile: Car: is a directory" << "Failed to save profile: Car";
        // The desktop hears of it from the settings file alone.
        QTest::newRow("race control state not written")
            << "set_lounge_pit_limiter" << QJsonObject{{"$settings", true}, {"enabled", true}}
            << "Failed to save the race control state: is a directory" << "Settings not saved \u2014 %1 cannot be read (Is a directory) and is not written over";
    }

    void networkErrorsAreToasts()
    {
        QFETCH(QString, event);
        QFETCH(QJsonObject, data);
        QFETCH(QString, message);
        QFETCH(QString, toast);
        corvane::SerialPortLister::setFixedPorts({{QStringLiteral("/dev/ttyOSTRAGONE"), QStringLiteral("USB Serial"), QString()}});
        MainWindow window;
        Car car{window};
        if (data.value("id") == "$active") {
            // Its file's place taken by a folder.
            corvane::ProfileManager *profiles = window.controller()->profileManager();
            QVERIFY(ostratest::writesDone());
            data.insert("id", profiles->activeProfileId());
            QFile::remove(profiles->profileFilePath(profiles->activeProfileId()));
            QVERIFY(QDir().mkpath(profiles->profileFilePath(profiles->activeProfileId())));
        }
        // The settings file's place taken by a folder, for this row alone.
        const QString settings = data.take("$settings").toBool() ? corvane::SettingsFile().fileName() : QString();
        const auto restore = qScopeGuard([&settings] {
            if (!settings.isEmpty() && ostratest::writesDone())
                QDir(settings).removeRecursively();
        });
        if (!settings.isEmpty()) {
            QVERIFY(ostratest::writesDone());
            QFile::remove(settings);
            QVERIFY(QDir().mkpath(settings));
            toast = toast.arg(QFileInfo(settings).fileName());
        }
        QWebSocket client;
        QJsonObject reply;
        connect(&client, &QWebSocket::textMessageReceived,
                [&reply](const QString &text) { reply = QJsonDocument::fromJson(text.toUtf8()).object(); });
        client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(window.server()->serverPort())));
        QTRY_COMPARE(client.state(), QAbstractSocket::ConnectedState);
        client.sendTextMessage(QString::fromUtf8(
            QJsonDocument(QJsonObject{{"event", event}, {"data", data}}).toJson(QJsonDocument::Compact)));
        QTRY_VERIFY(!reply.isEmpty());
        QCOMPARE(reply.value("message").toString(), message);
        QTRY_VERIFY(!car.toast().isEmpty());
        QTest::qWait(50);
        // One toast: no second one in other words after it.
        if (!toast.isEmpty())
            QCOMPARE(car.toast(), toast);
        QCOMPARE(car.errorBoxes().size(), 0);
        corvane::SerialPortLister::useSystemPorts();
    }

    // Whose error it is decides how it shows, also while a request from the network waits
    // between attempts on a busy port: the desktop user's own failing connect meanwhile gets the
    // error box; the request's own failure, when the port stays busy, is a toast.
    void errorsShowByOrigin()
    {
        ostratest::PtyDevice busy;
        QSerialPort holder(busy.slavePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        const QString gone = QStringLiteral("/dev/ttyOSTRAGONE");
        corvane::SerialPortLister::setFixedPorts({{busy.slavePath(), QStringLiteral("USB Serial"), QString()},
                                                  {gone, QStringLiteral("USB Serial"), QString()}});
        MainWindow window;
        Car car{window};
        QWebSocket client;
        QJsonObject reply;
        connect(&client, &QWebSocket::textMessageReceived,
                [&reply](const QString &text) { reply = QJsonDocument::fromJson(text.toUtf8()).object(); });
        client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(window.server()->serverPort())));
        QTRY_COMPARE(client.state(), QAbstractSocket::ConnectedState);
        // Runs inside the request's wait for the busy port.
        QTimer::singleShot(300, &window, [&car, &gone] {
            car.selectData("transmitterCombo", gone);
            car.button("connectTransmitterBtn")->click();
        });
        const QJsonObject request{{"event", "action_connect_receiver"}, {"data", QJsonObject{{"port", busy.slavePath()}}}};
        client.sendTextMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
        QTRY_COMPARE(car.errorBoxes().size(), 1);
        QVERIFY(reply.isEmpty()); // still waiting
        const QString desktopError = car.errorBoxes().first()->text();
        QVERIFY(car.toast() != desktopError);
        QTRY_VERIFY_WITH_TIMEOUT(!reply.isEmpty(), 20000);
        QCOMPARE(reply.value("success"), QJsonValue(false));
        QTRY_VERIFY(car.toast().contains(QLatin1String("stayed busy")));
        QCOMPARE(car.errorBoxes().size(), 1);
        corvane::SerialPortLister::useSystemPorts();
    }

    // The transmitter's port busy at start-up is told in a box; once the start-up retry opens it
    // after all, the box goes with its cause.
    void startupBusyBoxGoesWhenOpened()
    {
        Rig rig;
        {
            MainWindow first;
            QVERIFY(first.controller()->connectTransmitter(rig.tx.portName(), 115200));
        }
        QSerialPort holder(rig.tx.portName());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        MainWindow window; // its start-up connect waits out the busy port
        Car car{window};
        holder.close();
        QTRY_COMPARE(car.errorBoxes().size(), 1);
        QVERIFY(car.errorBoxes().first()->text().contains(QLatin1String("stayed busy")));
        QTRY_VERIFY_WITH_TIMEOUT(window.controller()->isSerialConnected(), 5000);
        QCOMPARE(car.errorBoxes().size(), 0);
    }

    // A saved device still missing keeps the start-up retry going until the user takes over.
    void userStopsRetry()
    {
        Rig rig;
        {
            MainWindow first;
            QVERIFY(first.controller()->connectShifter(0));
        }
        rig.input->reset();
        rig.wheel = rig.input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("Other Wheel"), 6, 12, 1));
        MainWindow window;
        Car car{window};
        auto retry = [&window] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return window.findChild<QTimer *>(QStringLiteral("autoConnectTimer"));
        };
        QVERIFY(retry());
        car.selectData("wheelBaseCombo", 0);
        car.button("connectWheelBaseBtn")->click();
        QVERIFY(window.controller()->isWheelBaseConnected());
        QVERIFY(!retry());
    }

    // Pedals without the axes their preset names (the Generic preset's Z and Rz): those pedals
    // read released, and the Live control card names the missing axes.
    void missingPedalAxesAreNamed()
    {
        Rig rig;
        // Its clutch (Y, inverted as the preset has it) is up.
        rig.input->addDevice(corvane::VirtualDeviceSpec(QStringLiteral("USB Pedals"), 2, 0, 0))->setAxis(4, 1.0f);
        MainWindow window;
        Car car{window};
        corvane::CorvaneController *c = window.controller();
        QVERIFY(c->connectPedals(2));
        c->pedals()->poll();
        window.onInputChanged();
        QCOMPARE((QList<float>{c->throttle(), c->brake()}), (QList<float>{-1.0f, -1.0f}));
        QCOMPARE(car.text("pedalAxisNote"), QStringLiteral("Throttle: axis lZ is not on the pedals, so the throttle stays released.\n"
                                                           "Brake: axis lRz is not on the pedals, so the brake stays released."));
        window.resize(1366, 768);
        window.show();
        window.showPage(MainWindow::CarPage);
        window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->finishTransition();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(car.named("pedalAxisNote")->isVisible());
        QVERIFY(window.grab().save(ostratest::artefactDir(QStringLiteral("app"))
                                   + QStringLiteral("/carpage-missing-pedal-axes-%1.png").arg(ostra::isDarkTheme() ? "dark" : "light")));
        c->disconnectPedals();
        window.onInputChanged();
        QVERIFY(car.named("pedalAxisNote")->isHidden());
    }

    void render()
    {
        Rig rig;
        MainWindow window;
        window.findChild<ostra::MapView *>()->setTileServer(QStringLiteral("http://127.0.0.1:9"), QString());
        window.resize(1280, 800);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showPage(MainWindow::CarPage);
        window.findChild<ostra::PageStack *>(QStringLiteral("contentStack"))->finishTransition();
        QCoreApplication::processEvents();
        const QString dir = ostratest::artefactDir(QStringLiteral("app"));
        const QString theme = ostra::isDarkTheme() ? QStringLiteral("dark") : QStringLiteral("light");
        QVERIFY(window.grab().toImage().save(dir + QStringLiteral("/carpage-idle-%1.png").arg(theme)));
        // The four device lists line up, whatever their status pills say.
        QList<QRect> lists;
        for (const char *name : {"transmitterCombo", "wheelBaseCombo", "pedalsCombo", "shifterCombo"}) {
            const QComboBox *list = Car{window}.combo(name);
            lists << QRect(list->mapTo(&window, QPoint(0, 0)), list->size());
        }
        for (const QRect &list : std::as_const(lists)) {
            QCOMPARE(list.left(), lists.first().left());
            QCOMPARE(list.width(), lists.first().width());
        }

        QVERIFY(connectAll(window, rig));
        window.controller()->startTransmission();
        QVERIFY(window.controller()->isRunning());
        rig.wheel->setAxis(0, 0.3f);
        rig.pedals->setAxis(1, 0.2f);
        // The car not answering is said in full on laptop screens.
        auto *carLink = window.findChild<QLabel *>(QStringLiteral("carLinkLine"));
        for (const QSize size : {QSize(1366, 768), QSize(1280, 720)}) {
            window.resize(size);
            QTest::qWait(60);
            QVERIFY(shownInFull(carLink));
            QVERIFY(window.grab().save(dir + QStringLiteral("/carpage-no-car-%1-%2.png").arg(size.width()).arg(theme)));
        }
        window.resize(1280, 800);
        window.controller()->setCarLinked(true);
        QVERIFY(rig.tx.sendLinkStatistics(-61, -64, 98, 9));
        QTRY_VERIFY(window.findChild<QLabel *>(QStringLiteral("signalValue"))->text() != Dash);
        QTest::qWait(60);
        QVERIFY(window.grab().toImage().save(dir + QStringLiteral("/carpage-transmitting-%1.png").arg(theme)));
        // The whole content, channel cells and the debug console included.
        window.onToggleDebugPanel();
        window.onLogMessage(4, QStringLiteral("[ELRS] link up"));
        window.onTelemetryReceived(QByteArray::fromHex("C80C14"));
        QCoreApplication::processEvents();
        auto *content = window.findChild<QWidget *>(QStringLiteral("carPageContent"));
        QVERIFY(content->grab().save(dir + QStringLiteral("/carpage-content-%1.png").arg(theme)));
        window.controller()->stopTransmissionAndHold();
        if (!ostra::isDarkTheme())
            QVERIFY(ostratest::runDarkTwin(QStringLiteral("app"), {QStringLiteral("render"), QStringLiteral("status"),
                                                                  QStringLiteral("missingPedalAxesAreNamed")}));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestCarPage)
#include "tst_carpage.moc"
