#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include "api/wsdevicehandler.h"
#include "apirig.h"
#include "platform/serial/serialportlister.h"
#include "support/ptydevice.h"
#include "support/testenvironment.h"

using corvane::SerialPortEntry;
using corvane::SerialPortLister;
using corvane::WsDeviceHandler;
using ostratest::ApiRig;
using ostratest::PtyDevice;

class TestWsDeviceHandler : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY((api = ApiRig::started<WsDeviceHandler>())); }

    void cleanup()
    {
        api.reset();
        SerialPortLister::useSystemPorts();
    }

    // The receiver on a pseudo-terminal: connected by path, reported, and its closing pushed.
    void receiverConnectAndClose()
    {
        PtyDevice receiver;
        SerialPortLister::setFixedPorts({{receiver.slavePath(), "QOR Receiver", "Qorvant", 0x2E8A, 0x000B}});
        QVERIFY(api->client.subscribe({"event_device_disconnected"}));
        QCOMPARE(api->request("action_connect_receiver", {{"port", receiver.slavePath()}}),
                 json(R"({"event":"action_connect_receiver","success":true})"));
        QCOMPARE(api->request("get_receiver_status").value("data").toObject().value("portName").toString(), receiver.slavePath());
        api->client.send({{"event", "action_disconnect_receiver"}});
        QCOMPARE(api->client.next(), json(R"({"event":"event_device_disconnected","data":{"device":"receiver"}})"));
        QCOMPARE(api->client.next(), json(R"({"event":"action_disconnect_receiver","success":true})"));
        // Connecting pushes nothing.
        QVERIFY(api->request("action_connect_receiver", {{"port", receiver.slavePath()}}).value("success").toBool());
        QVERIFY(api->client.pending().isEmpty());
    }

    // Only a port the port list offers is opened: any other terminal may be someone's shell.
    void portNames_data()
    {
        QTest::addColumn<QString>("port"); // "pty": a pseudo-terminal; "link": a link to one
        QTest::addColumn<QString>("listedAs"); // the port list's one entry: none when empty, "=" the port itself
        QTest::addColumn<QString>("outcome"); // "opened"; "unlisted": refused; "failed": listed, did not open
        QTest::newRow("disk device") << "/dev/sda" << "" << "unlisted";
        QTest::newRow("a file") << "/etc/passwd" << "" << "unlisted";
        QTest::newRow("path climbing out") << "/dev/pts/../sda" << "" << "unlisted";
        QTest::newRow("virtual console") << "/dev/tty5" << "" << "unlisted";
        QTest::newRow("pseudo-terminal, unlisted") << "pty" << "" << "unlisted";
        QTest::newRow("pseudo-terminal, another port listed") << "pty" << "ttyUSB0" << "unlisted";
        QTest::newRow("pseudo-terminal, listed") << "pty" << "=" << "opened";
        QTest::newRow("link to a terminal, unlisted") << "link" << "" << "unlisted";
        QTest::newRow("link to a terminal, listed") << "link" << "=" << "opened";
        QTest::newRow("listed name, asked by its path") << "/dev/ttyOSTRANONE" << "ttyOSTRANONE" << "failed";
        // The refusal repeats the first 64 characters of a name.
        QTest::newRow("a name of 60,000 characters") << "/dev/" + QString(60000, 'x') << "" << "unlisted";
    }

    void portNames()
    {
        QFETCH(QString, port);
        QFETCH(QString, listedAs);
        QFETCH(QString, outcome);
        PtyDevice device;
        QTemporaryDir dir;
        if (port == "link") {
            port = dir.filePath("ttyLINK");
            QVERIFY(QFile::link(device.slavePath(), port));
        } else if (port == "pty") {
            port = device.slavePath();
        }
        if (listedAs == "=")
            listedAs = port;
        SerialPortLister::setFixedPorts(listedAs.isEmpty() ? QList<SerialPortEntry>{}
                                                           : QList<SerialPortEntry>{{listedAs, "Link", "Test", 0x2E8A, 0x000A}});
        const bool opened = outcome == "opened";
        // A listed port that does not open says why.
        const QString why = outcome == "unlisted" ? ": not a listed serial port" : ": No such file or directory";
        QJsonObject receiverReply{{"event", "action_connect_receiver"}, {"success", opened}};
        if (!opened)
            receiverReply.insert("message", "Failed to connect receiver to " + port.left(64) + why);
        QCOMPARE(api->request("action_connect_receiver", {{"port", port}}), receiverReply);
        QCOMPARE(api->rig.controller->isReceiverConnected(), opened);
        api->rig.controller->disconnectReceiver();

        QJsonObject transmitterReply{{"event", "action_connect_transmitter"}, {"success", opened}, {"isGpioUart", false}};
        if (!opened)
            transmitterReply.insert("message", "Failed to connect to " + port.left(64) + why);
        QCOMPARE(api->request("action_connect_transmitter", {{"port", port}}), transmitterReply);
        QCOMPARE(api->rig.controller->isSerialConnected(), opened);
        if (!opened) {
            // Nothing reached the terminal: it was never opened.
            QVERIFY(device.readAvailable().isEmpty());
        }
    }

    // While the car is driven, a connect from any client is refused and the car keeps its transmitter.
    void connectWhileTransmitting()
    {
        PtyDevice other;
        SerialPortLister::setFixedPorts({{other.slavePath(), "USB Serial", "Test", 0x2E8A, 0x000A}});
        QVERIFY(api->rig.startCar());
        QCOMPARE(api->request("action_connect_transmitter", {{"port", other.slavePath()}}).value("message").toString(),
                 "Failed to connect to " + other.slavePath() + ": Stop transmission before connecting a transmitter.");
        api->rig.tick(3);
        QVERIFY(api->rig.tx.waitForChannelFrames(3) && api->rig.controller->isRunning());
        QVERIFY(other.readAvailable().isEmpty());
    }

    // Connected, in the desktop's words, only once the transmitter on the port gave its ID.
    void transmitterStatus_data()
    {
        QTest::addColumn<QString>("tx");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("status");
        QTest::newRow("gave its ID") << "answers" << true << "Connected";
        QTest::newRow("nothing answers") << "silent" << false << "No answer";
        QTest::newRow("frames but no ID") << "frames" << false << "Not identified";
    }

    void transmitterStatus()
    {
        QFETCH(QString, tx);
        QFETCH(bool, connected);
        QFETCH(QString, status);
        corvane::CorvaneController *c = api->rig.controller.get();
        api->rig.tx.setAnswersId(tx == "answers");
        QVERIFY(api->rig.openTransmitter() && (tx != "frames" || api->rig.tx.sendLinkStatistics(-60, -60, 100, 9)));
        if (tx != "answers") {
            QTest::ignoreMessage(QtWarningMsg, "[SECURITY] No device ID response from transmitter");
            QTRY_VERIFY(tx != "frames" || c->hasLinkStatistics());
            for (int query = 0; query < 4; ++query)
                QVERIFY(QMetaObject::invokeMethod(c, "onDeviceIdRetry"));
        }
        QCOMPARE(api->request("get_transmitter_status").value("data").toObject(),
                 (QJsonObject{{"connected", connected}, {"status", status}, {"portName", api->rig.tx.portName()},
                              {"deviceName", "QOR Transmitter"}, {"isGpioUart", false}, {"isLinuxGpioMode", false}}));
    }

    void requests_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QJsonObject>("reply");
        QTest::newRow("pedals without index") << "action_connect_pedals" << QJsonObject{}
            << json(R"({"event":"action_connect_pedals","success":false,"message":"Missing or invalid 'deviceIndex' parameter"})");
        QTest::newRow("index with a fraction") << "action_connect_wheelbase" << json(R"({"deviceIndex":1.5})")
            << json(R"({"event":"action_connect_wheelbase","success":false,"message":"Missing or invalid 'deviceIndex' parameter"})");
        QTest::newRow("no such shifter") << "action_connect_shifter" << json(R"({"deviceIndex":17})")
            << json(R"({"event":"action_connect_shifter","success":false,"message":"Failed to connect shifter at index 17"})");
        QTest::newRow("empty port") << "action_connect_transmitter" << json(R"({"port":""})")
            << json(R"({"event":"action_connect_transmitter","success":false,"message":"Missing 'port' parameter"})");
        QTest::newRow("serial ports") << "get_serial_ports" << QJsonObject{}
            << json(R"({"event":"get_serial_ports","data":{"ports":[{"name":"ttyACM0","description":"QOR Transmitter","manufacturer":"Qorvant","vendorId":11914,"productId":10,"isGpioUart":false}],"isLinuxGpioMode":false}})");
    }

    void requests()
    {
        QFETCH(QString, event);
        QFETCH(QJsonObject, data);
        QFETCH(QJsonObject, reply);
        SerialPortLister::setFixedPorts({{"ttyACM0", "QOR Transmitter", "Qorvant", 0x2E8A, 0x000A}});
        QCOMPARE(api->request(event, data), reply);
    }

    // Listing the ports takes milliseconds of the tick's thread: however often a client asks, the
    // list is the one made at most a second before.
    void portListAtMostASecondOld()
    {
        const auto listed = [this] {
            return api->request("get_serial_ports").value("data").toObject().value("ports").toArray().size();
        };
        SerialPortLister::setFixedPorts({{"ttyACM0", "QOR Transmitter", "Qorvant", 0x2E8A, 0x000A}});
        QCOMPARE(listed(), 1);
        SerialPortLister::setFixedPorts({});
        QCOMPARE(listed(), 1);
        QTRY_COMPARE(listed(), 0);
    }

    // Game controllers by the index the app was given, and their loss pushed.
    void inputDevices()
    {
        const QJsonArray devices = api->request("get_input_devices").value("data").toObject().value("devices").toArray();
        QCOMPARE(devices.at(1).toObject().value("name").toString(), QStringLiteral("MOZA SRP Pedals"));
        QVERIFY(api->client.subscribe({"event_device_disconnected"}));
        QCOMPARE(api->request("action_connect_wheelbase", {{"deviceIndex", 0}}),
                 json(R"({"event":"action_connect_wheelbase","success":true})"));
        QCOMPARE(api->request("get_wheelbase_status"),
                 json(R"({"event":"get_wheelbase_status","data":{"connected":true,"deviceName":"MOZA R9 Base"}})"));
        api->client.send({{"event", "action_disconnect_wheelbase"}});
        QCOMPARE(api->client.next(), json(R"({"event":"event_device_disconnected","data":{"device":"wheelbase"}})"));
        QCOMPARE(api->client.next(), json(R"({"event":"action_disconnect_wheelbase","success":true})"));
    }

private:
    std::unique_ptr<ApiRig> api;
};

OSTRA_TEST_MAIN_CORE(TestWsDeviceHandler)
#include "tst_wsdevicehandler.moc"
