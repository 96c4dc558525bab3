#include <QTest>

#include "api/mdnsresponder.h"
#include "api/websocketserver.h"
#include "api/wscalibrationhandler.h"
#include "bridge/receiverrig.h"
#include "support/testenvironment.h"
#include "apirig.h"

using corvane::WsCalibrationHandler;

namespace {

const QString kProgress = QStringLiteral("event_calibration_progress");

// The calibration handler behind a real server, with the maker's receiver on a pty.
struct CalibrationRig
{
    CalibrationRig()
    {
        handler = new WsCalibrationHandler(rig.controller.get(), &server);
        server.registerHandler(handler);
    }

    bool start()
    {
        corvane::MdnsResponder::setServedInterfaceNames({QStringLiteral("lo")});
        return server.start(0) && client.open(server.serverPort()) && client.subscribe({kProgress});
    }

    QJsonObject request(const QString &event, const QJsonObject &data = {}) { return client.request(event, data); }
    QJsonObject step(const char *action) { return request("action_calibration_step", {{"action", action}}); }

    // Sends a report line from the receiver and returns the live reading it caused.
    QJsonObject report(const QByteArray &line)
    {
        client.skipAll();
        if (!rig.rx.sendLine(line))
            return {};
        return client.next().value("data").toObject();
    }

    // One tick of the hold, as the timer would fire it; returns the push it caused.
    QJsonObject tick()
    {
        client.skipAll();
        QMetaObject::invokeMethod(handler, "onMeasureTick", Qt::DirectConnection);
        return client.next().value("data").toObject();
    }

    ostratest::ReceiverRig rig;
    corvane::WebSocketServer server{rig.controller.get()};
    ostratest::WsTestClient client;
    WsCalibrationHandler *handler = nullptr;
};

QJsonObject startedRig(CalibrationRig &c)
{
    return c.request("action_start_calibration");
}

} // namespace

class TestWsCalibrationHandler : public QObject
{
    Q_OBJECT

private slots:
    void startNeedsReceiver()
    {
        CalibrationRig c;
        QVERIFY(c.start());
        QCOMPARE(startedRig(c), json(R"({"event":"action_start_calibration","success":false,"message":"QOR Receiver is not connected"})"));
        QCOMPARE(c.step("start").value("message").toString(),
                 QStringLiteral("No calibration in progress. Call action_start_calibration first."));
    }

    void steadyHoldRecords()
    {
        CalibrationRig c;
        QVERIFY(c.start());
        QVERIFY(c.rig.syncOverUsb());
        QCOMPARE(startedRig(c).value("data").toObject().value("step").toString(), QStringLiteral("throttle_max"));
        QCOMPARE(c.step("Start").value("message").toString(), QStringLiteral("Invalid action. Use 'start', 'retry', or 'skip'."));
        QCOMPARE(c.step("start"), json(R"({"event":"action_calibration_step","success":true,"data":{"step":"throttle_max","message":"Measurement started. Hold position steady for 5 seconds."}})"));
        QCOMPARE(c.step("start").value("message").toString(),
                 QStringLiteral("Already measuring. Wait for result or send action='cancel'."));
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(c.report("CH2:2000us CRSF:1811"),
                     json(R"({"step":"throttle_max","state":"measuring","channelUs":2000,"channelCrsf":1811,"countdown":5})"));
        }
        for (int left = 4; left >= 1; --left) {
            QCOMPARE(c.tick(), QJsonObject({{"step", "throttle_max"}, {"state", "stable"}, {"message", "Good! Keep holding..."},
                                            {"countdown", left}, {"channelUs", 2000}, {"channelCrsf", 1811}}));
        }
        QCOMPARE(c.tick(), json(R"({"step":"throttle_neutral","state":"step_success","message":"Value recorded: CRSF 1811","recordedValue":1811})"));
        // The next step waits for its own start.
        QCOMPARE(c.report("CH2:1500us CRSF:992").value("state").toString(), QStringLiteral("waiting"));
        const QJsonObject status = c.request("get_calibration_status").value("data").toObject();
        QCOMPARE(status.value("step").toString(), QStringLiteral("throttle_neutral"));
        QCOMPARE(status.value("ch2Crsf").toInt(), 992);
        QCOMPARE(status.value("result").toObject().value("throttleMax").toInt(), 1811);

        // Cancelling keeps what was recorded.
        QCOMPARE(c.request("action_cancel_calibration"), json(R"({"event":"action_cancel_calibration","success":true})"));
        const QJsonObject idle = c.request("get_calibration_status").value("data").toObject();
        QCOMPARE(idle.value("step").toString(), QStringLiteral("idle"));
        QCOMPARE(idle.value("result").toObject().value("throttleMax").toInt(), 1811);

        // The app's calibration only listens: the receiver hears no calibration command.
        c.rig.rx.process();
        for (const QByteArray &line : c.rig.rx.lines()) {
            QVERIFY2(!line.startsWith("ENTER_CALIB") && !line.startsWith("EXIT_CALIB") && !line.startsWith("SET_FAILSAFE"),
                     line.constData());
        }
    }

    void spread_data()
    {
        QTest::addColumn<int>("spread");
        QTest::addColumn<QString>("state");
        QTest::newRow("100 passes") << 100 << "stable";
        QTest::newRow("101 restarts") << 101 << "unstable";
    }

    void spread()
    {
        QFETCH(int, spread);
        QFETCH(QString, state);
        CalibrationRig c;
        QVERIFY(c.start());
        QVERIFY(c.rig.syncOverUsb());
        startedRig(c);
        c.step("skip");
        c.step("skip");
        c.step("skip");
        c.step("start"); // steering_left on CH1
        for (int i = 0; i < 20; ++i)
            c.report(QStringLiteral("CH1:%1us CRSF:300").arg(1000 + (i % 2) * spread).toLatin1());
        const QJsonObject push = c.tick();
        QCOMPARE(push.value("state").toString(), state);
        QCOMPARE(push.value("countdown").toInt(), state == "stable" ? 4 : 5);
    }

    void silentHoldRecordsNothing()
    {
        CalibrationRig c;
        QVERIFY(c.start());
        QVERIFY(c.rig.syncOverUsb());
        startedRig(c);
        c.step("start");
        for (int i = 0; i < 4; ++i)
            QCOMPARE(c.tick().value("state").toString(), QStringLiteral("stable"));
        QCOMPARE(c.tick(), json(R"({"step":"throttle_max","state":"unstable","message":"No signal on CH2 — check the wiring","countdown":5})"));
        const QJsonObject status = c.request("get_calibration_status").value("data").toObject();
        QCOMPARE(status.value("step").toString(), QStringLiteral("throttle_max"));
        QCOMPARE(status.value("isCalibrating").toBool(), true);
        // A line for the other channel is no signal on this one.
        c.report("CH1:1500us CRSF:992");
        for (int i = 0; i < 4; ++i)
            c.tick();
        QCOMPARE(c.tick().value("state").toString(), QStringLiteral("unstable"));
    }

    void skipToComplete()
    {
        CalibrationRig c;
        QVERIFY(c.start());
        QVERIFY(c.rig.syncOverUsb());
        startedRig(c);
        for (int i = 0; i < 5; ++i)
            c.step("skip");
        const qsizetype before = c.client.received.size();
        QCOMPARE(c.step("skip"), json(R"({"event":"action_calibration_step","success":true,"data":{"step":"complete"}})"));
        // The push comes before the reply.
        QCOMPARE(c.client.received.value(before), json(R"({"event":"event_calibration_progress","data":{"step":"complete","state":"waiting","countdown":0}})"));
        QCOMPARE(c.step("start").value("message").toString(),
                 QStringLiteral("No calibration in progress. Call action_start_calibration first."));
    }

    void unknownEvent()
    {
        CalibrationRig c;
        QCOMPARE(c.handler->handleEvent("get_nothing", {}),
                 json(R"({"event":"error","source":"get_nothing","message":"Unhandled event in calibration handler"})"));
    }
};

OSTRA_TEST_MAIN_CORE(TestWsCalibrationHandler)
#include "tst_wscalibrationhandler.moc"
