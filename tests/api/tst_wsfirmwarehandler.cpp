#include "api/wsfirmwarehandler.h"

#include "apirig.h"
#include "firmware/firmwareupdateprocedure.h"
#include "platform/serial/serialportlister.h"
#include "platform/storage/volumelister.h"
#include "platform/storage/settingsfile.h"
#include "support/firmwarefixtures.h"
#include "support/httpserver.h"
#include "support/ptydevice.h"
#include "support/simulatedrp2040.h"
#include "support/testenvironment.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtEndian>

#include <memory>

using corvane::FirmwareUpdateProcedure;
using corvane::WsFirmwareHandler;
using ostratest::HttpServer;
using ostratest::SimulatedRp2040;

using ostratest::TimerGate;
using ostratest::uf2Image;

namespace {

constexpr int Patience = 10000;
const QString TransmitterDir = QStringLiteral("/qor-transmitter-firmware-updater/main/");

QString column(const QJsonObject &push)
{
    const QJsonObject data = push.value("data").toObject();
    return data.value("message").toString() + '|' + data.value("state").toString() + '|'
           + QString::number(data.value("progress").toInt());
}

} // namespace

class TestWsFirmwareHandler : public QObject
{
    Q_OBJECT

    std::unique_ptr<ostratest::ApiRig> m_api;
    std::unique_ptr<HttpServer> m_http;
    WsFirmwareHandler *m_handler = nullptr;
    // A second client that only listens, so no request of the test takes its pushes.
    std::unique_ptr<ostratest::WsTestClient> m_watcher;
    TimerGate m_gate;

    FirmwareUpdateProcedure *proc() { return m_handler->findChild<FirmwareUpdateProcedure *>(); }
    corvane::CorvaneController *c() { return m_api->rig.controller.get(); }

    void tick()
    {
        QVERIFY(QMetaObject::invokeMethod(proc(), "onPollTimer"));
    }

    QJsonObject status() { return m_api->request("get_firmware_status").value("data").toObject(); }

    QJsonObject start(const char *device, const char *event = "action_update_firmware")
    {
        return m_api->request(QLatin1String(event), { { "device", QLatin1String(device) } });
    }

private slots:
    void init()
    {
        m_api = std::make_unique<ostratest::ApiRig>();
        m_http = std::make_unique<HttpServer>();
        corvane::SettingsFile().setValue(QLatin1String(FirmwareUpdateProcedure::BaseUrlSetting), m_http->baseUrl());
        corvane::SerialPortLister::setFixedPorts({});
        corvane::VolumeLister::setFixedVolumes({});
        m_handler = m_api->add<WsFirmwareHandler>();
        for (QTimer *timer : proc()->findChildren<QTimer *>())
            timer->installEventFilter(&m_gate);
        QVERIFY(m_api->start());
        m_watcher = std::make_unique<ostratest::WsTestClient>();
        QVERIFY(m_watcher->open(m_api->server.serverPort()));
        QVERIFY(m_watcher->subscribe({ "event_firmware_progress" }));
    }

    QList<QJsonObject> pushes() const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &message : m_watcher->received) {
            if (message.value("event").toString().startsWith("event_"))
                out << message;
        }
        return out;
    }

    void cleanup()
    {
        m_watcher.reset();
        m_api.reset();
        m_http.reset();
        corvane::SerialPortLister::useSystemPorts();
        corvane::VolumeLister::useSystemVolumes();
    }

    void refusals_data()
    {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("device");
        QTest::newRow("no device") << QJsonObject() << "Missing 'device' parameter (receiver|transmitter|soc)"
                                   << "QOR Receiver";
        QTest::newRow("Transmitter") << json(R"({"device":"Transmitter"})") << "Device not connected: QOR Transmitter"
                                     << "QOR Transmitter";
        QTest::newRow("SOFTWARE") << json(R"({"device":"SOFTWARE"})")
                                  << "Device not connected: QOR Transmitter Software" << "QOR Transmitter Software";
        QTest::newRow("anything else") << json(R"({"device":"toaster"})") << "Device not connected: QOR Receiver"
                                       << "QOR Receiver";
    }

    void refusals()
    {
        QFETCH(QJsonObject, data);
        QFETCH(QString, message);
        QFETCH(QString, device);
        for (const char *event : { "action_check_firmware", "action_update_firmware" }) {
            const QJsonObject reply = m_api->request(QLatin1String(event), data);
            QCOMPARE(reply, QJsonObject({ { "event", event }, { "success", false }, { "message", message } }));
        }
        // The device asked for is kept, the state is the old one.
        QCOMPARE(status(), QJsonObject({ { "state", "idle" }, { "device", device } }));
    }

    // The API tells the program's version, written out here: a test that took it from where the
    // program does could not catch a wrong one.
    void appVersion()
    {
        const QJsonObject reply = m_api->request("get_app_version");
        QCOMPARE(reply.value("event").toString(), QStringLiteral("get_app_version"));
        QCOMPARE(reply.value("data").toObject(),
                 QJsonObject({ { "version", "1.3.5" }, { "versionMajor", 1 }, { "versionMinor", 3 }, { "versionPatch", 5 } }));
    }

    // The mobile app's whole transmitter update, against the board, its drive and the published files.
    void fullTransmitterRun()
    {
        const QByteArray image = uf2Image(16);
        m_http->setResponse(TransmitterDir + "VERSION.md", HttpServer::ok("1.4.3\n"));
        m_http->setResponse(TransmitterDir + "firmware.uf2", HttpServer::ok(image));
        SimulatedRp2040 board(QStringLiteral("1.4.2"));
        board.setVersionAfterUpdate(QStringLiteral("1.4.3"));
        QVERIFY(c()->connectTransmitter(board.portName(), 115200));

        QCOMPARE(start("transmitter", "action_check_firmware"),
                 json(R"({"event":"action_check_firmware","success":true})"));
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareEnteringDfu, Patience);
        QVERIFY(QMetaObject::invokeMethod(proc(), "onBootloaderWaitElapsed"));
        QCOMPARE(start("receiver"), json(R"({"event":"action_update_firmware","success":false,"message":"Firmware operation already in progress"})"));

        tick(); // the drive is there: the image goes onto it
        QTRY_VERIFY_WITH_TIMEOUT(board.rebooted(), Patience);
        QCOMPARE(board.receivedImage(), image);
        tick(); // drive gone, port back
        QVERIFY(QMetaObject::invokeMethod(proc(), "reconnectDevice"));
        tick();
        QTRY_COMPARE_WITH_TIMEOUT(proc()->state(), corvane::FirmwareDone, Patience);
        QCOMPARE(status(), QJsonObject({ { "state", "done" }, { "device", "QOR Transmitter" },
                                         { "currentVersion", "1.4.2" }, { "remoteVersion", "1.4.3" } }));

        QStringList pushed;
        QTRY_VERIFY_WITH_TIMEOUT(!pushes().isEmpty() && column(pushes().constLast()).startsWith("Updated successfully"),
                                 Patience);
        for (const QJsonObject &push : pushes()) {
            const QJsonObject data = push.value("data").toObject();
            QCOMPARE(data.value("device").toString(), QString("QOR Transmitter"));
            if (data.value("message").toString().startsWith("Downloading update... ")) {
                QCOMPARE(data.value("message").toString(),
                         QString("Downloading update... %1%").arg(data.value("progress").toInt()));
                continue;
            }
            pushed << column(push);
        }
        QCOMPARE(pushed, ostratest::uf2HandlerReports());

        // After done a new run may start.
        QCOMPARE(start("transmitter"), json(R"({"event":"action_update_firmware","success":true})"));
    }

    // A receiver printing its version while the transmitter is asked is not the transmitter's answer.
    void receiverLineDuringTransmitterRun()
    {
        SimulatedRp2040 transmitter(QStringLiteral("1.4.2"));
        transmitter.setVersionReply(QByteArray(""));
        ostratest::PtyDevice receiver;
        QVERIFY(c()->connectTransmitter(transmitter.portName(), 115200));
        QVERIFY(c()->connectReceiver(receiver.slavePath(), 115200));
        QSignalSpy receiverLines(c(), &corvane::CorvaneController::receiverDataReceived);

        QCOMPARE(start("transmitter"), json(R"({"event":"action_update_firmware","success":true})"));
        QTRY_VERIFY_WITH_TIMEOUT(transmitter.lineCount("VER") == 1, Patience);
        QVERIFY(receiver.write("QOR: 9.9.9\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(!receiverLines.isEmpty(), Patience);
        QCOMPARE(status(), QJsonObject({ { "state", "checking_version" }, { "device", "QOR Transmitter" } }));
        QVERIFY(m_http->requests.isEmpty());
    }
};

OSTRA_TEST_MAIN_CORE(TestWsFirmwareHandler)
#include "tst_wsfirmwarehandler.moc"
