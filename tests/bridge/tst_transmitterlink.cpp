#include "bridge/corvanecontroller.h"

#include "bridge/devicesecurity.h"
#include "bridge/elrsparametermanager.h"
#include "profiles/profilemanager.h"
#include "support/ptydevice.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"
#include "transmitrig.h"

#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

using corvane::CorvaneController;
using corvane::SerialPortEntry;
using corvane::SerialPortLister;
using ostratest::PtyDevice;
using ostratest::SimulatedTransmitter;

namespace {

constexpr int Baud = 420000;
// Generous on a loaded machine; waits end as soon as their condition holds.
constexpr int Patience = 10000;

QStringList lineArgs(const QSignalSpy &spy)
{
    QStringList lines;
    for (const QList<QVariant> &args : spy)
        lines << args.at(0).toString();
    return lines;
}

void call(QObject *object, const char *slot)
{
    QVERIFY(QMetaObject::invokeMethod(object, slot));
}

} // namespace

class TestTransmitterLink : public QObject
{
    Q_OBJECT

    std::unique_ptr<CorvaneController> m_controller;

    CorvaneController *controller() { return m_controller.get(); }

private slots:
    void init()
    {
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).removeRecursively();
        QSettings().clear();
        m_controller = std::make_unique<CorvaneController>();
    }

    void cleanup()
    {
        m_controller.reset();
        SerialPortLister::useSystemPorts();
    }

    void handshakeAuthorizes_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("provisioning");
        QTest::addColumn<bool>("authorized");
        QTest::addColumn<QString>("recorded");
        QTest::newRow("provisioning") << QByteArray("QOR-ID:qortx01\r\n") << true << true << "QORTX01";
        QTest::newRow("blanks around the id") << QByteArray("QOR-ID: ab12 \r\n") << true << true << "AB12";
        QTest::newRow("not on the list") << QByteArray("QOR-ID:CD34\n") << false << false << "CD34";
        QTest::newRow("lower-case prefix is no reply") << QByteArray("qor-id:AB12\n") << true << false << "";
        QTest::newRow("prefix inside a line is no reply") << QByteArray("> QOR-ID:AB12\n") << true << false << "";
    }

    void handshakeAuthorizes()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, provisioning);
        QFETCH(bool, authorized);
        QFETCH(QString, recorded);
        controller()->deviceSecurity()->setProvisioningMode(provisioning);
        SimulatedTransmitter tx;
        tx.setIdReply(reply);
        QSignalSpy auth(controller(), &CorvaneController::transmitterAuthorizationChanged);
        QSignalSpy lines(controller(), &CorvaneController::transmitterLineReceived);
        QVERIFY(controller()->connectTransmitter(tx.portName(), Baud));
        QVERIFY(controller()->isSerialConnected());
        QCOMPARE(controller()->serialPortName(), tx.portName());
        QVERIFY(tx.waitFor([&] { return tx.idQueries() == 1; }));
        QTRY_COMPARE_WITH_TIMEOUT(lines.count(), 1, Patience);
        QCOMPARE(controller()->isTransmitterAuthorized(), authorized);
        QCOMPARE(auth.count(), authorized ? 1 : 0);
        QCOMPARE(controller()->deviceSecurity()->currentDeviceId(), recorded);
        // The port is remembered with the profile.
        const DeviceConnections saved = controller()->profileManager()->deviceConnections();
        QCOMPARE(saved.portName, tx.portName());
        QCOMPARE(saved.baudRate, Baud);
    }

    void idQueriesRetryThreeTimes()
    {
        SimulatedTransmitter tx;
        tx.setAnswersId(false);
        QVERIFY(controller()->connectTransmitter(tx.portName(), Baud));
        QVERIFY(tx.waitFor([&] { return tx.idQueries() == 1; }));
        for (int retry = 1; retry <= 3; ++retry) {
            call(controller(), "onDeviceIdRetry");
            QVERIFY(tx.waitFor([&] { return tx.idQueries() == 1 + retry; }));
        }
        QTest::ignoreMessage(QtWarningMsg, "[SECURITY] No device ID response from transmitter");
        call(controller(), "onDeviceIdRetry");
        QTest::qWait(50);
        tx.process();
        QCOMPARE(tx.idQueries(), 4);
        QVERIFY(!controller()->isTransmitterAuthorized());

        // A fresh connect starts the count again; an authorised transmitter is not asked again.
        tx.setAnswersId(true);
        QSignalSpy auth(controller(), &CorvaneController::transmitterAuthorizationChanged);
        QVERIFY(controller()->connectTransmitter(tx.portName(), Baud));
        QVERIFY(auth.wait(Patience));
        call(controller(), "onDeviceIdRetry");
        QTest::qWait(50);
        tx.process();
        QCOMPARE(tx.idQueries(), 5);
    }

    void disconnectAnnouncesLostAuthorization()
    {
        SimulatedTransmitter tx;
        QSignalSpy auth(controller(), &CorvaneController::transmitterAuthorizationChanged);
        QSignalSpy errors(controller(), &CorvaneController::errorOccurred);
        QVERIFY(controller()->connectTransmitter(tx.portName(), Baud));
        QVERIFY(auth.wait(Patience));
        QCOMPARE(auth.at(0).at(0).toBool(), true);
        controller()->disconnectTransmitter();
        QCOMPARE(auth.count(), 2);
        QCOMPARE(auth.at(1).at(0).toBool(), false);
        QVERIFY(!controller()->isTransmitterAuthorized());
        QVERIFY(!controller()->isSerialConnected());
        QVERIFY(controller()->deviceSecurity()->currentDeviceId().isEmpty());
        // Once is enough: a second disconnect has nothing to announce.
        controller()->disconnectTransmitter();
        QCOMPARE(auth.count(), 2);
        QCOMPARE(errors.count(), 0);
    }

    void openFailureStoresNothing()
    {
        QVERIFY(!controller()->connectTransmitter(QStringLiteral("/dev/no-such-tty-for-ostra"), Baud));
        QVERIFY(controller()->profileManager()->deviceConnections().portName != QStringLiteral("/dev/no-such-tty-for-ostra"));
    }

    void reconnectsAfterDrop()
    {
        QTemporaryDir dir;
        const QString alias = dir.filePath(QStringLiteral("ttyQOR0"));
        SerialPortLister::setFixedPorts({ SerialPortEntry { alias, QStringLiteral("QOR Transmitter"), {}, 0x2E8A, 0x000A } });
        auto first = std::make_unique<SimulatedTransmitter>(QStringLiteral("QORTX01"), alias);
        QSignalSpy errors(controller(), &CorvaneController::errorOccurred);
        QSignalSpy connected(controller(), &CorvaneController::serialConnectedChanged);
        QVERIFY(controller()->connectTransmitter(alias, Baud));
        QVERIFY(first->waitFor([&] { return first->idQueries() == 1; }));

        QTest::ignoreMessage(QtDebugMsg, "Transmitter connection lost — starting auto-reconnect");
        first->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!controller()->isSerialConnected(), Patience);
        // The drop is reported by the reconnect, not as an error of its own.
        QCOMPARE(errors.count(), 0);

        // While the device is away, ticks only wait.
        QFile::remove(alias);
        call(controller(), "tryReconnectTransmitter");
        QVERIFY(!controller()->isSerialConnected());

        SimulatedTransmitter second(QStringLiteral("QORTX01"), alias);
        call(controller(), "tryReconnectTransmitter");
        QVERIFY(controller()->isSerialConnected());
        QVERIFY(second.waitFor([&] { return second.idQueries() == 1; }));
        QCOMPARE(connected.constLast().at(0).toBool(), true);
        QCOMPARE(errors.count(), 0);
    }

    void reconnectGivesUpAfterTwentyAttempts()
    {
        QTemporaryDir dir;
        const QString alias = dir.filePath(QStringLiteral("ttyQOR1"));
        SerialPortLister::setFixedPorts({});
        auto tx = std::make_unique<SimulatedTransmitter>(QStringLiteral("QORTX01"), alias);
        QVERIFY(controller()->connectTransmitter(alias, Baud));
        tx->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!controller()->isSerialConnected(), Patience);
        QSignalSpy errors(controller(), &CorvaneController::errorOccurred);
        for (int attempt = 1; attempt < 20; ++attempt)
            call(controller(), "tryReconnectTransmitter");
        QCOMPARE(errors.count(), 0);
        call(controller(), "tryReconnectTransmitter");
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(),
                 QStringLiteral("Lost connection to the QOR Transmitter and could not reconnect. Check the USB cable and press Connect."));
        // Serial errors are no longer swallowed once the reconnect has ended.
        QVERIFY(QMetaObject::invokeMethod(controller(), "onSerialError", Q_ARG(QString, QStringLiteral("boom"))));
        QCOMPARE(errors.constLast().at(0).toString(), QStringLiteral("boom"));
    }

    void transmitterLines_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("two lines") << QList<QByteArray> { "A\r\nB\n" } << QStringList { "A", "B" };
        QTest::newRow("bare line end") << QList<QByteArray> { "\r\n\n" } << QStringList {};
        QTest::newRow("two carriage returns") << QList<QByteArray> { "X\r\r\n" } << QStringList { "X\r" };
        QTest::newRow("only carriage returns") << QList<QByteArray> { "\r\r\n" } << QStringList { "\r" };
        QTest::newRow("split over chunks") << QList<QByteArray> { "HEL", "LO\nWOR", "LD\n" } << QStringList { "HELLO", "WORLD" };
        QTest::newRow("bytes outside text dropped")
            << QList<QByteArray> { QByteArray("\xff\xfe" "A\tB\x01" "C\x7f\xc3\xa9\n") } << QStringList { "ABC" };
        QTest::newRow("no line end yet") << QList<QByteArray> { "PARTIAL" } << QStringList {};
    }

    void transmitterLines()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, lines);
        QSignalSpy spy(controller(), &CorvaneController::transmitterLineReceived);
        QSignalSpy raw(controller(), &CorvaneController::telemetryReceived);
        for (const QByteArray &chunk : chunks)
            QVERIFY(QMetaObject::invokeMethod(controller(), "onSerialDataReceived", Q_ARG(QByteArray, chunk)));
        QCOMPARE(lineArgs(spy), lines);
        QCOMPARE(raw.count(), chunks.size());
        QCOMPARE(raw.constLast().at(0).toByteArray(), chunks.constLast());
    }

    void lineBufferLimits_data()
    {
        QTest::addColumn<bool>("receiver");
        QTest::addColumn<int>("runaway");
        QTest::addColumn<int>("kept");
        QTest::newRow("transmitter over the limit") << false << 9000 << 4096;
        QTest::newRow("transmitter at the limit") << false << 8192 << 8192;
        QTest::newRow("receiver over the limit") << true << 1025 << 512;
        QTest::newRow("receiver at the limit") << true << 1024 << 1024;
    }

    void lineBufferLimits()
    {
        QFETCH(bool, receiver);
        QFETCH(int, runaway);
        QFETCH(int, kept);
        QByteArray bytes(runaway, 'a');
        bytes[runaway - 1] = 'z';
        const char *slot = receiver ? "onReceiverDataReceived" : "onSerialDataReceived";
        QSignalSpy spy(controller(), receiver ? &CorvaneController::receiverDataReceived
                                             : &CorvaneController::transmitterLineReceived);
        QVERIFY(QMetaObject::invokeMethod(controller(), slot, Q_ARG(QByteArray, bytes)));
        QVERIFY(QMetaObject::invokeMethod(controller(), slot, Q_ARG(QByteArray, QByteArray("\n"))));
        QCOMPARE(spy.count(), 1);
        const QString line = spy.at(0).at(0).toString();
        QCOMPARE(line.size(), kept);
        QVERIFY(line.endsWith(QLatin1Char('z')));
    }

    void framesAndTextShareTheLine()
    {
        SimulatedTransmitter tx;
        QSignalSpy auth(controller(), &CorvaneController::transmitterAuthorizationChanged);
        QVERIFY(controller()->connectTransmitter(tx.portName(), Baud));
        QVERIFY(auth.wait(Patience));
        QSignalSpy lines(controller(), &CorvaneController::transmitterLineReceived);
        QSignalSpy frames(controller(), &CorvaneController::crsfFrameReceived);
        // RSSI bytes 0x41 'A' and 0x42 'B' land in the line; the other frame bytes do not.
        QVERIFY(tx.sendLinkStatistics(-65, -66, 0, 0, 0, 0, 0, 0, 0, 0));
        QVERIFY(tx.sendRaw("OK\r\n"));
        QVERIFY(lines.wait(Patience));
        QCOMPARE(frames.count(), 1);
        QCOMPARE(frames.at(0).at(0).value<quint8>(), quint8(0x14));
        const QString line = lines.at(0).at(0).toString();
        QVERIFY2(line.startsWith(QStringLiteral("AB")) && line.endsWith(QStringLiteral("OK")), qPrintable(line));
    }

    void receiverLine()
    {
        PtyDevice rx;
        QSignalSpy lines(controller(), &CorvaneController::receiverDataReceived);
        QSignalSpy connected(controller(), &CorvaneController::receiverConnectedChanged);
        QVERIFY(controller()->connectReceiver(rx.slavePath(), 115200));
        QVERIFY(controller()->isReceiverConnected());
        QCOMPARE(controller()->receiverPortName(), rx.slavePath());
        QCOMPARE(connected.count(), 1);
        QVERIFY(controller()->receiverWrite("GET caps\n") > 0);
        QCOMPARE(rx.readLine(), QByteArray("GET caps"));
        // Everything reaches the receiver's lines, UTF-8 included.
        QVERIFY(rx.write("caf\xc3\xa9\tok\r\n\r\n"));
        QVERIFY(lines.wait(Patience));
        QCOMPARE(lineArgs(lines), QStringList { QStringLiteral("café\tok") });
        controller()->disconnectReceiver();
        QVERIFY(!controller()->isReceiverConnected());
        QVERIFY(QMetaObject::invokeMethod(controller(), "onReceiverError", Q_ARG(QString, QStringLiteral("gone"))));
    }

    void receiverErrorsAreNamed()
    {
        QSignalSpy errors(controller(), &CorvaneController::errorOccurred);
        QVERIFY(QMetaObject::invokeMethod(controller(), "onReceiverError", Q_ARG(QString, QStringLiteral("gone"))));
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Receiver: gone"));
    }

    void keepaliveOnlyAfterSilence()
    {
        SimulatedTransmitter tx;
        QVERIFY(controller()->connectTransmitter(tx.portName(), Baud));
        QVERIFY(tx.waitFor([&] { return tx.idQueries() == 1; }));
        call(controller(), "onKeepaliveTimer");
        QTest::qWait(30);
        tx.process();
        QCOMPARE(tx.keepalives(), 0);
        // The keepalive timer sends one line feed once the line has been quiet for two seconds.
        QVERIFY(tx.waitFor([&] { return tx.keepalives() == 1; }, Patience));
        call(controller(), "onKeepaliveTimer");
        QTest::qWait(30);
        tx.process();
        QCOMPARE(tx.keepalives(), 1);
        controller()->disconnectTransmitter();
        call(controller(), "onKeepaliveTimer");
    }

    void configMode()
    {
        QSignalSpy errors(controller(), &CorvaneController::errorOccurred);
        QSignalSpy changed(controller(), &CorvaneController::configModeChanged);
        controller()->startConfigMode();
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("RP2040 Bridge not connected"));
        QVERIFY(!controller()->isConfigMode());

        SimulatedTransmitter tx;
        QVERIFY(controller()->connectTransmitter(tx.portName(), Baud));
        controller()->startConfigMode();
        controller()->startConfigMode();
        QVERIFY(controller()->isConfigMode());
        QVERIFY(controller()->elrsParameterManager()->configModeActive());
        QCOMPARE(changed.count(), 1);
        QVERIFY(tx.waitFor([&] { return tx.configMode(); }));
        QCOMPARE(tx.lineCount("CFGMODE ON"), 1);

        controller()->stopConfigMode();
        controller()->stopConfigMode();
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(0).toBool(), false);
        QVERIFY(!controller()->elrsParameterManager()->configModeActive());
        QVERIFY(tx.waitFor([&] { return !tx.configMode(); }));
        QCOMPARE(tx.lineCount("CFGMODE OFF"), 1);

        // Closing the port does not end config mode; ending it later writes nothing.
        controller()->startConfigMode();
        controller()->disconnectTransmitter();
        QVERIFY(controller()->isConfigMode());
        controller()->stopConfigMode();
        QVERIFY(!controller()->isConfigMode());
        QTest::qWait(30);
        tx.process();
        QCOMPARE(tx.lineCount("CFGMODE OFF"), 1);
    }

    void wifiSequence_data()
    {
        QTest::addColumn<bool>("receiver");
        QTest::addColumn<bool>("alreadyConfiguring");
        QTest::addColumn<bool>("walked");
        QTest::addColumn<int>("field");
        QTest::newRow("transmitter") << false << false << false << 16;
        QTest::newRow("receiver, discovered field") << true << false << true << 23;
        QTest::newRow("already configuring") << false << true << false << 16;
    }

    void wifiSequence()
    {
        QFETCH(bool, receiver);
        QFETCH(bool, alreadyConfiguring);
        QFETCH(bool, walked);
        QFETCH(int, field);
        SimulatedTransmitter tx;
        QList<SimulatedTransmitter::Field> fields = SimulatedTransmitter::typicalFields();
        fields.removeLast();
        fields.append({ 23, SimulatedTransmitter::commandEntry(0, "Enable Rx WiFi") });
        tx.setFields(fields);
        QVERIFY(controller()->connectTransmitter(tx.portName(), Baud));
        QVERIFY(tx.waitFor([&] { return tx.idQueries() == 1; }));
        if (walked || alreadyConfiguring)
            controller()->startConfigMode();
        if (walked) {
            QSignalSpy complete(controller()->elrsParameterManager(), &corvane::ElrsParameterManager::discoveryComplete);
            controller()->elrsParameterManager()->startDiscovery();
            QVERIFY(complete.wait(Patience));
            if (!alreadyConfiguring)
                controller()->stopConfigMode();
        }
        // Only the sequence's own bytes are recorded below.
        QVERIFY(tx.waitFor([&] { return tx.configMode() == alreadyConfiguring; }));
        tx.clearRecords();

        QSignalSpy sent(controller(), &CorvaneController::elrsWifiModeSent);
        QString error;
        QVERIFY(controller()->enterWifiUpdateMode(receiver, &error));
        QVERIFY(error.isEmpty());
        QVERIFY(controller()->isConfigMode());
        QVERIFY(!controller()->enterWifiUpdateMode(receiver, &error));
        QCOMPARE(error, QStringLiteral("Already switching to WiFi mode"));
        QVERIFY(!controller()->enterWifiUpdateMode(!receiver, nullptr));

        // The sequence itself takes 4.5 seconds.
        QVERIFY(sent.wait(4500 + Patience));
        QCOMPARE(sent.count(), 1);
        QCOMPARE(sent.at(0).at(0).toBool(), receiver);
        tx.process();
        const QList<SimulatedTransmitter::ParameterWrite> writes = tx.parameterWrites();
        QCOMPARE(writes.size(), 6);
        for (int i = 0; i < writes.size(); ++i) {
            QCOMPARE(int(writes.at(i).field), field);
            QCOMPARE(writes.at(i).destination, quint8(0xEE));
            QCOMPARE(writes.at(i).value, QByteArray(1, char(i < 3 ? 1 : 4)));
        }
        // Config mode is left only when the sequence entered it, after the last write.
        QCOMPARE(controller()->isConfigMode(), alreadyConfiguring);
        const QByteArray raw = tx.rawReceived();
        const QByteArray lastWrite = corvane::CrsfProtocol::buildParameterWrite(quint8(field), QByteArray(1, 4), 0xEE, 0xEF);
        if (alreadyConfiguring) {
            QVERIFY(!raw.contains("CFGMODE"));
        } else {
            QVERIFY(raw.indexOf("CFGMODE ON\n") < raw.indexOf(corvane::CrsfProtocol::buildParameterWrite(quint8(field), QByteArray(1, 1), 0xEE, 0xEF)));
            QVERIFY(raw.lastIndexOf(lastWrite) < raw.indexOf("CFGMODE OFF\n"));
        }
        // A new sequence may start once this one has ended.
        QVERIFY(controller()->enterWifiUpdateMode(receiver, &error));
    }

    void wifiRefusals()
    {
        QString error;
        QVERIFY(!controller()->enterWifiUpdateMode(false, &error));
        QCOMPARE(error, QStringLiteral("QOR Transmitter not connected"));
        QVERIFY(!controller()->enterWifiUpdateMode(true, nullptr));
    }

    void autoStart_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("helicopter");
        QTest::addColumn<bool>("pedals");
        QTest::addColumn<bool>("combinedPedals");
        QTest::addColumn<bool>("provisioning");
        QTest::addColumn<bool>("starts");
        QTest::newRow("car with pedals") << true << false << true << false << true << true;
        QTest::newRow("car, pedals on the wheel base") << true << false << false << true << true << true;
        QTest::newRow("car without pedals") << true << false << false << false << true << false;
        QTest::newRow("auto-start off") << false << false << true << false << true << false;
        QTest::newRow("helicopter") << true << true << false << false << true << true;
        QTest::newRow("transmitter not on the list") << true << false << true << false << false << false;
    }

    void autoStart()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, helicopter);
        QFETCH(bool, pedals);
        QFETCH(bool, combinedPedals);
        QFETCH(bool, provisioning);
        QFETCH(bool, starts);
        m_controller.reset();
        ostratest::TransmitRig rig;
        CorvaneController *c = rig.controller.get();
        c->deviceSecurity()->setProvisioningMode(provisioning);
        c->setAutoStartEnabled(enabled);
        QCOMPARE(c->autoStartEnabled(), enabled);
        if (helicopter) {
            rig.controller->profileManager()->mutableActiveProfile()->vehicleType = QString(VehicleType::Helicopter);
            QVERIFY(c->heliJoystick()->open(ostratest::TransmitRig::JoystickPos));
        } else {
            QVERIFY(c->wheelBase()->open(ostratest::TransmitRig::WheelPos));
            if (combinedPedals) {
                AxisMapping mapping = c->wheelBase()->axisMapping();
                mapping.combinedPedals = true;
                c->wheelBase()->setAxisMapping(mapping);
                // The pedal axes rest at their centre: both pedals up.
                rig.wheel->setAxis(mapping.map[1], 0.0f);
                rig.wheel->setAxis(mapping.map[2], 0.0f);
                ostratest::TransmitRig::wake(rig.wheel, c->wheelBase());
            }
            if (pedals)
                QVERIFY(c->pedals()->open(ostratest::TransmitRig::PedalsPos));
        }
        rig.pollAll();
        QVERIFY(!c->isRunning());
        // Connecting the transmitter last is what starts it.
        QVERIFY(rig.openTransmitter());
        QTest::qWait(50);
        QVERIFY(rig.tx.waitFor([&] { return rig.tx.idQueries() == 1; }));
        QTRY_COMPARE_WITH_TIMEOUT(c->isTransmitterAuthorized(), provisioning, Patience);
        QVERIFY2(c->isRunning() == starts, qPrintable(rig.lastError()));
        if (starts)
            QVERIFY(rig.tx.waitForLine("START"));
    }

    void writesGoToTheTransmitter()
    {
        SimulatedTransmitter tx;
        QCOMPARE(controller()->serialWrite("X\n"), qlonglong(-1));
        QVERIFY(controller()->connectTransmitter(tx.portName(), Baud));
        QCOMPARE(controller()->serialWrite("HELLO\n"), qlonglong(6));
        QVERIFY(tx.waitForLine("HELLO"));
    }
};

OSTRA_TEST_MAIN_CORE(TestTransmitterLink)
#include "tst_transmitterlink.moc"
