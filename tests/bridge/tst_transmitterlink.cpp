#include "bridge/corvanecontroller.h"

#include "bridge/corvaneserialport.h"
#include "bridge/devicesecurity.h"
#include "platform/serial/serialportlister.h"
#include "platform/storage/settingsfile.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"
#include "support/writesdone.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

using corvane::CorvaneController;
using corvane::CrsfProtocol;
using corvane::SerialPortLister;
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

void call(QObject *object, const char *slot, const QByteArray &data = QByteArray())
{
    QVERIFY(data.isNull() ? QMetaObject::invokeMethod(object, slot)
                          : QMetaObject::invokeMethod(object, slot, Q_ARG(QByteArray, data)));
}

// Lets what the program may still write arrive, then reads it.
void settle(SimulatedTransmitter &tx)
{
    QTest::qWait(50);
    tx.process();
}

} // namespace

class TestTransmitterLink : public QObject
{
    Q_OBJECT

    std::unique_ptr<CorvaneController> m_controller;
    CorvaneController *c() { return m_controller.get(); }

    bool connectTo(SimulatedTransmitter &tx)
    {
        return c()->connectTransmitter(tx.portName(), Baud) && tx.waitFor([&] { return tx.idQueries() == 1; });
    }

private slots:
    void init()
    {
        ostratest::freshDataFolder();
        corvane::SettingsFile().remove(QString());
        m_controller = std::make_unique<CorvaneController>();
    }

    void cleanup()
    {
        m_controller.reset();
        SerialPortLister::useSystemPorts();
    }

    void handshake_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("provisioning");
        QTest::addColumn<QString>("recorded"); // authorised when provisioning and recorded
        QTest::addColumn<bool>("streaming");
        QTest::newRow("provisioning, id normalised") << QByteArray("QOR-ID: qortx01 \r\n") << true << "QORTX01" << false;
        QTest::newRow("not on the list") << QByteArray("QOR-ID:CD34\n") << false << "CD34" << false;
        QTest::newRow("prefix inside a line is no reply") << QByteArray("> QOR-ID:AB12\n") << true << "" << false;
        QTest::newRow("telemetry frames ahead of the reply") << QByteArray("QOR-ID:QORTX01\r\n") << true << "QORTX01" << true;
    }

    void handshake()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, provisioning);
        QFETCH(QString, recorded);
        QFETCH(bool, streaming);
        const bool authorized = provisioning && !recorded.isEmpty();
        c()->deviceSecurity()->setProvisioningMode(provisioning);
        SimulatedTransmitter tx;
        tx.setIdReply(reply);
        tx.setStreaming(streaming);
        QSignalSpy auth(c(), &CorvaneController::transmitterAuthorizationChanged);
        QSignalSpy lines(c(), &CorvaneController::transmitterLineReceived);
        QVERIFY(connectTo(tx));
        QTRY_COMPARE_WITH_TIMEOUT(lines.count(), 1, Patience);
        QCOMPARE(lineArgs(lines), QStringList{QString::fromLatin1(reply).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'))});
        QCOMPARE(c()->isTransmitterAuthorized(), authorized);
        QCOMPARE(c()->deviceSecurity()->currentDeviceId(), recorded);
        // Closing announces a lost authorisation, once.
        c()->disconnectTransmitter();
        c()->disconnectTransmitter();
        QCOMPARE(lineArgs(auth), authorized ? QStringList({ "true", "false" }) : QStringList());
        QVERIFY(!c()->isSerialConnected());
        QVERIFY(c()->deviceSecurity()->currentDeviceId().isEmpty());
    }

    // Four queries unanswered: the port counts as silent until the transmitter is heard (an ID
    // or a frame, which has it asked for its ID again) or the port is connected or closed again.
    void idQueryRetries_data()
    {
        QTest::addColumn<QString>("afterwards");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("queries");
        QTest::newRow("stays silent") << "" << int(CorvaneController::TransmitterSilent) << 4;
        QTest::newRow("answers late") << "answer" << int(CorvaneController::TransmitterAnswered) << 4;
        QTest::newRow("a frame comes late") << "frame" << int(CorvaneController::TransmitterWaiting) << 5;
        QTest::newRow("closed") << "disconnect" << int(CorvaneController::TransmitterClosed) << 4;
        QTest::newRow("connected again") << "reconnect" << int(CorvaneController::TransmitterWaiting) << 5;
    }

    void idQueryRetries()
    {
        QFETCH(QString, afterwards);
        QFETCH(int, answer);
        QFETCH(int, queries);
        SimulatedTransmitter tx;
        tx.setAnswersId(false);
        QSignalSpy changed(c(), &CorvaneController::transmitterAnswerChanged);
        QVERIFY(connectTo(tx));
        for (int retry = 1; retry <= 3; ++retry) {
            call(c(), "onDeviceIdRetry");
            QVERIFY(tx.waitFor([&] { return tx.idQueries() == 1 + retry; }));
        }
        QCOMPARE(c()->transmitterAnswer(), CorvaneController::TransmitterWaiting);
        QTest::ignoreMessage(QtWarningMsg, "[SECURITY] No device ID response from transmitter");
        call(c(), "onDeviceIdRetry");
        settle(tx);
        QCOMPARE(tx.idQueries(), 4);
        QVERIFY(!c()->isTransmitterAuthorized());
        QCOMPARE(c()->transmitterAnswer(), CorvaneController::TransmitterSilent);
        QCOMPARE(changed.count(), 1);
        if (afterwards == "answer")
            QVERIFY(tx.sendRaw("QOR-ID:QORTX01\r\n"));
        else if (afterwards == "frame")
            QVERIFY(tx.sendLinkStatistics(-60, -60, 100, 9));
        else if (afterwards == "disconnect")
            c()->disconnectTransmitter();
        else if (afterwards == "reconnect")
            QVERIFY(c()->connectTransmitter(tx.portName(), Baud));
        QVERIFY(tx.waitFor([&] { return c()->transmitterAnswer() == answer; }, afterwards.isEmpty() ? 100 : Patience));
        settle(tx);
        QCOMPARE(tx.idQueries(), queries);
        QCOMPARE(changed.count(), answer == CorvaneController::TransmitterSilent || answer == CorvaneController::TransmitterClosed ? 1 : 2);
    }

    void reconnect_data()
    {
        QTest::addColumn<bool>("comesBack");
        QTest::addColumn<bool>("silent"); // what comes back on the port answers nothing
        QTest::addColumn<QByteArray>("cutShort"); // the last bytes the device sent before it went
        QTest::newRow("device comes back") << true << false << QByteArray();
        QTest::newRow("a silent device in its place") << true << true << QByteArray();
        QTest::newRow("device stays away") << false << false << QByteArray();
        QTest::newRow("a settings frame cut short") << true << false << QByteArray("\xEE\x3C\x2B\xEA", 4);
    }

    void reconnect()
    {
        QFETCH(bool, comesBack);
        QFETCH(bool, silent);
        QFETCH(QByteArray, cutShort);
        QTemporaryDir dir;
        const QString alias = dir.filePath(QStringLiteral("ttyQOR0"));
        SerialPortLister::setFixedPorts({ { alias, QStringLiteral("QOR Transmitter"), {}, 0x2E8A, 0x000A } });
        auto first = std::make_unique<SimulatedTransmitter>(QStringLiteral("QORTX01"), alias);
        QSignalSpy errors(c(), &CorvaneController::errorOccurred);
        QVERIFY(connectTo(*first));
        QTRY_VERIFY_WITH_TIMEOUT(c()->isTransmitterAuthorized(), Patience);
        c()->startConfigMode();
        QVERIFY(first->waitFor([&] { return first->configMode(); }));
        if (!cutShort.isEmpty()) {
            QSignalSpy received(c(), &CorvaneController::telemetryReceived);
            QVERIFY(first->sendRaw(cutShort));
            QTRY_VERIFY_WITH_TIMEOUT(!received.isEmpty(), Patience);
        }
        QTest::ignoreMessage(QtDebugMsg, "Transmitter connection lost — starting auto-reconnect");
        first->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!c()->isSerialConnected(), Patience);
        // The device that comes back starts out of configuration mode.
        QVERIFY(!c()->isConfigMode());
        QFile::remove(alias);
        if (comesBack) {
            // While the device is away, attempts only wait.
            call(c(), "tryReconnectTransmitter");
            QVERIFY(!c()->isSerialConnected());
            SimulatedTransmitter second(QStringLiteral("QORTX01"), alias);
            second.setSilent(silent);
            QSignalSpy lines(c(), &CorvaneController::transmitterLineReceived);
            call(c(), "tryReconnectTransmitter");
            QVERIFY(c()->isSerialConnected());
            QVERIFY(second.waitFor([&] { return second.idQueries() == 1; }));
            QCOMPARE(errors.count(), 0);
            // The answer of the device that left counts for nothing on the port.
            if (silent) {
                QTest::ignoreMessage(QtWarningMsg, "[SECURITY] No device ID response from transmitter");
                for (int retry = 0; retry <= 3; ++retry)
                    call(c(), "onDeviceIdRetry");
            }
            QVERIFY(second.waitFor([&] {
                return c()->transmitterAnswer()
                    == (silent ? CorvaneController::TransmitterSilent : CorvaneController::TransmitterAnswered);
            }));
            QCOMPARE(c()->isTransmitterAuthorized(), !silent);
            // Its first answer is a line of its own.
            QCOMPARE(lineArgs(lines).value(0), silent ? QString() : QStringLiteral("QOR-ID:QORTX01"));
            return;
        }
        SerialPortLister::setFixedPorts({});
        for (int attempt = 1; attempt < 20; ++attempt)
            call(c(), "tryReconnectTransmitter");
        // The drop is reported only once the reconnect gives up.
        QCOMPARE(errors.count(), 0);
        call(c(), "tryReconnectTransmitter");
        QCOMPARE(lineArgs(errors),
                 QStringList { QStringLiteral("Lost connection to the QOR Transmitter and could not reconnect. "
                                              "Check the USB cable and press Connect.") });
    }

    // A port one line holds is refused to the other at once, with the reason, and the holder
    // keeps it: a second open of it would wait out the port's lock for seconds.
    void heldPortRefused_data()
    {
        QTest::addColumn<bool>("receiverHolds");
        QTest::addColumn<QString>("message");
        QTest::newRow("transmitter asked for the receiver's port") << true << "%1 is in use by the QOR Receiver.";
        QTest::newRow("receiver asked for the transmitter's port") << false << "Receiver: %1 is in use by the QOR Transmitter.";
    }

    void heldPortRefused()
    {
        QFETCH(bool, receiverHolds);
        QFETCH(QString, message);
        SimulatedTransmitter tx;
        const QString port = tx.portName();
        QVERIFY(receiverHolds ? c()->connectReceiver(port, Baud) : c()->connectTransmitter(port, Baud));
        QSignalSpy errors(c(), &CorvaneController::errorOccurred);
        QElapsedTimer took;
        took.start();
        QString error;
        QVERIFY(!(receiverHolds ? c()->connectTransmitter(port, Baud, &error) : c()->connectReceiver(port, Baud, &error)));
        QVERIFY2(took.elapsed() < corvane::CorvaneSerialPort::OpenRetryDelayMs, "no attempt waited");
        QCOMPARE(error, QStringLiteral("%1 is in use by the %2.").arg(port, receiverHolds ? "QOR Receiver" : "QOR Transmitter"));
        QCOMPARE(lineArgs(errors), QStringList{message.arg(port)});
        QCOMPARE(c()->heldPorts().value(port), receiverHolds ? "QOR Receiver" : "QOR Transmitter");
        QVERIFY(receiverHolds ? c()->isReceiverConnected() && !c()->isSerialConnected()
                              : c()->isSerialConnected() && !c()->isReceiverConnected());
    }

    void lineSplitting_data()
    {
        QTest::addColumn<bool>("receiver");
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("split over chunks, bare line end")
            << false << QList<QByteArray> { "HEL", "LO\r\nWOR", "LD\n\r\n" } << QStringList { "HELLO", "WORLD" };
        // The frame's printable bytes ("<<d") never reach a line.
        const QByteArray frame = CrsfProtocol::buildFrame(0x14, 0x3C, 0x3C, QByteArray::fromHex("6409000403466408"));
        QTest::newRow("frames between lines")
            << false << QList<QByteArray> { "OK\r\n" + frame.left(4), frame.mid(4) + "QOR-ID:QORTX01\r\n" + frame }
            << QStringList { "OK", "QOR-ID:QORTX01" };
        QTest::newRow("bytes outside text dropped")
            << false << QList<QByteArray> { QByteArray("\xff\xfe" "A\tB\x01" "C\x7f\xc3\xa9\n") }
            << QStringList { "ABC" };
        // A runaway line keeps its newest half.
        const QByteArray runaway = QByteArray(8191, 'a') + 'z';
        QTest::newRow("transmitter over the limit") << false << QList<QByteArray> { "b" + runaway, "\n" }
                                                    << QStringList { QString::fromLatin1(runaway.right(4096)) };
        QTest::newRow("receiver over the limit") << true << QList<QByteArray> { runaway.right(1025), "\n" }
                                                 << QStringList { QString::fromLatin1(runaway.right(512)) };
    }

    void lineSplitting()
    {
        QFETCH(bool, receiver);
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, lines);
        QSignalSpy spy(
            c(), receiver ? &CorvaneController::receiverDataReceived : &CorvaneController::transmitterLineReceived);
        for (const QByteArray &chunk : chunks)
            call(c(), receiver ? "onReceiverDataReceived" : "onSerialDataReceived", chunk);
        QCOMPARE(lineArgs(spy), lines);
    }

    // Three writes of 1, then three of 4, inside config mode the sequence enters and leaves.
    void wifiSequence()
    {
        SimulatedTransmitter tx;
        QVERIFY(connectTo(tx));
        // Only the sequence's own bytes are recorded below: the keepalive is held still.
        for (QTimer *timer : c()->findChildren<QTimer *>()) {
            if (timer->interval() == 1000)
                timer->stop();
        }
        tx.clearRecords();
        QSignalSpy sent(c(), &CorvaneController::elrsWifiModeSent);
        QString error;
        QVERIFY(c()->enterWifiUpdateMode(false, &error));
        QVERIFY(!c()->enterWifiUpdateMode(true, &error));
        QCOMPARE(error, QStringLiteral("Already switching to WiFi mode"));
        // The sequence itself takes 4.5 seconds.
        QVERIFY(sent.wait(4500 + Patience));
        QCOMPARE(lineArgs(sent), QStringList { "false" });
        tx.process();
        const auto write = [&](char value) {
            return CrsfProtocol::buildParameterWrite(16, QByteArray(1, value), 0xEE, 0xEF);
        };
        const QByteArray expected = "CFGMODE ON\n" + write(1).repeated(3) + write(4).repeated(3) + "CFGMODE OFF\n";
        QCOMPARE(tx.rawReceived().toHex(' '), expected.toHex(' '));
        QVERIFY(!c()->isConfigMode());
    }

};

OSTRA_TEST_MAIN_CORE(TestTransmitterLink)
#include "tst_transmitterlink.moc"
