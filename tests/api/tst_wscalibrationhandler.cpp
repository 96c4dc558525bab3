#include <QTest>

#include "api/wscalibrationhandler.h"
#include "apirig.h"
#include "support/testenvironment.h"

using corvane::WsCalibrationHandler;

namespace {

const QString kProgress = QStringLiteral("event_calibration_progress");

} // namespace

class TestWsCalibrationHandler : public QObject
{
    Q_OBJECT

    // The handler behind a real server with the maker's receiver on a pty; the client hears
    // the progress pushes.
    std::unique_ptr<ostratest::ReceiverApiRig> c;
    WsCalibrationHandler *handler = nullptr;

    QJsonObject step(const char *action) { return c->request("action_calibration_step", {{"action", action}}); }

    // Sends a report line from the receiver and returns the live reading it caused.
    QJsonObject report(const QByteArray &line)
    {
        c->client.skipAll();
        if (!c->rig.rx.sendLine(line))
            return {};
        return c->client.next().value("data").toObject();
    }

    // One tick of the hold, as the timer would fire it; returns the push it caused.
    QJsonObject tick()
    {
        c->client.skipAll();
        QMetaObject::invokeMethod(handler, "onMeasureTick", Qt::DirectConnection);
        return c->client.next().value("data").toObject();
    }

    // Connected over USB and a calibration started.
    bool startCalibration() { return c->rig.syncOverUsb() && c->request("action_start_calibration").value("success").toBool(); }

private slots:
    void init()
    {
        QVERIFY((c = ostratest::ReceiverApiRig::started<WsCalibrationHandler>(&handler)));
        QVERIFY(c->client.subscribe({kProgress}));
    }

    void cleanup() { c.reset(); }

    void startNeedsReceiver()
    {
        QCOMPARE(c->request("action_start_calibration"), json(R"({"event":"action_start_calibration","success":false,"message":"QOR Receiver is not connected"})"));
        QCOMPARE(step("start").value("message").toString(),
                 QStringLiteral("No calibration in progress. Call action_start_calibration first."));
    }

    void steadyHoldRecords()
    {
        QVERIFY(c->rig.syncOverUsb());
        QCOMPARE(c->request("action_start_calibration").value("data").toObject().value("step").toString(), QStringLiteral("throttle_max"));
        QCOMPARE(step("Start").value("message").toString(), QStringLiteral("Invalid action. Use 'start', 'retry', or 'skip'."));
        QCOMPARE(step("start"), json(R"({"event":"action_calibration_step","success":true,"data":{"step":"throttle_max","message":"Measurement started. Hold position steady for 5 seconds."}})"));
        for (int i = 0; i < 4; ++i)
            report("CH2:2000us CRSF:1811");
        QCOMPARE(tick(), json(R"({"step":"throttle_max","state":"stable","message":"Good! Keep holding...","countdown":4,"channelUs":2000,"channelCrsf":1811})"));
        for (int left = 3; left >= 1; --left)
            tick();
        QCOMPARE(tick(), json(R"({"step":"throttle_neutral","state":"step_success","message":"Value recorded: CRSF 1811","recordedValue":1811})"));
        // The next step waits for its own start.
        QCOMPARE(report("CH2:1500us CRSF:992").value("state").toString(), QStringLiteral("waiting"));

        // Cancelling keeps what was recorded.
        QCOMPARE(c->request("action_cancel_calibration"), json(R"({"event":"action_cancel_calibration","success":true})"));
        const QJsonObject idle = c->request("get_calibration_status").value("data").toObject();
        QCOMPARE(idle.value("result").toObject().value("throttleMax").toInt(), 1811);

        // The app's calibration only listens: the receiver hears no calibration command.
        c->rig.rx.process();
        for (const QByteArray &line : c->rig.rx.lines()) {
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
        QVERIFY(startCalibration());
        step("skip");
        step("skip");
        step("skip");
        step("start"); // steering_left on CH1
        for (int i = 0; i < 20; ++i)
            report(QStringLiteral("CH1:%1us CRSF:300").arg(1000 + (i % 2) * spread).toLatin1());
        const QJsonObject push = tick();
        QCOMPARE(push.value("state").toString(), state);
        QCOMPARE(push.value("countdown").toInt(), state == "stable" ? 4 : 5);
    }

    void silentHoldRecordsNothing()
    {
        QVERIFY(startCalibration());
        step("start");
        for (int i = 0; i < 4; ++i)
            QCOMPARE(tick().value("state").toString(), QStringLiteral("stable"));
        QCOMPARE(tick(), json(R"({"step":"throttle_max","state":"unstable","message":"No signal on CH2 — check the wiring","countdown":5})"));
        // A line for the other channel is no signal on this one.
        report("CH1:1500us CRSF:992");
        for (int i = 0; i < 4; ++i)
            tick();
        QCOMPARE(tick().value("state").toString(), QStringLiteral("unstable"));
    }

    void skipToComplete()
    {
        QVERIFY(startCalibration());
        for (int i = 0; i < 5; ++i)
            step("skip");
        const qsizetype before = c->client.received.size();
        QCOMPARE(step("skip"), json(R"({"event":"action_calibration_step","success":true,"data":{"step":"complete"}})"));
        // The push comes before the reply.
        QCOMPARE(c->client.received.value(before), json(R"({"event":"event_calibration_progress","data":{"step":"complete","state":"waiting","countdown":0}})"));
    }
};

OSTRA_TEST_MAIN_CORE(TestWsCalibrationHandler)
#include "tst_wscalibrationhandler.moc"
