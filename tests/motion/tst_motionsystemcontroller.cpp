#include "motion/motionsystemcontroller.h"

#include "platform/serial/serialportlister.h"
#include "platform/storage/settingsfile.h"
#include "support/simulatedmotioncontroller.h"
#include "support/testenvironment.h"

#include <QSignalSpy>

#include <cmath>
#include <memory>

using corvane::MotionSystemController;
using corvane::MotionSystemSettings;
using ostratest::SimulatedMotionController;

namespace {

constexpr int Patience = 10000;

QByteArray hex(const QByteArray &bytes)
{
    return SimulatedMotionController::hex(bytes);
}

QStringList texts(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out.append(args.first().toString());
    return out;
}

// The full-test clock of a controller, set by the test instead of read from the wall.
class ClockedController : public MotionSystemController
{
public:
    qint64 elapsedMs = 0;

protected:
    qint64 fullTestElapsedMs() const override { return elapsedMs; }
};

// The set point of one motion channel after `tick` test ticks of 20 ms, written out from the
// board's contract: a sine with linear fade in and out over min(duration / 4, 0.6 s).
int setPoint(double coefficient, int travel, double hz, int durationMs, int tick)
{
    const double t = tick * 0.02;
    const double ramp = std::min(durationMs / 4000.0, 0.6);
    const double envelope = std::clamp(std::min(durationMs / 1000.0 - t, t) / ramp, 0.0, 1.0);
    const double value = coefficient * travel / 100.0 * envelope * 32767.0 * std::sin(2 * M_PI * hz * t) + 32767.0;
    return int(std::clamp(std::trunc(value), 0.0, 65535.0));
}

} // namespace

class TestMotionSystemController : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimulatedMotionController> m_board;
    std::unique_ptr<ClockedController> m_controller;

    // Connected, first heartbeat in the given state answered, records cleared.
    void connectAlive(const QByteArray &state = "ready")
    {
        QVERIFY(m_board->connectController(*m_controller, state));
    }

private slots:
    void init()
    {
        corvane::SettingsFile(QStringLiteral("MotionSystem")).remove(QString());
        m_board = std::make_unique<SimulatedMotionController>();
        m_controller = std::make_unique<ClockedController>();
    }

    void cleanup()
    {
        m_controller.reset();
        m_board.reset();
        corvane::SerialPortLister::useSystemPorts();
    }

    void firstHeartbeatSendsSettings()
    {
        QSignalSpy status(m_controller.get(), &MotionSystemController::statusLine);
        QSignalSpy connected(m_controller.get(), &MotionSystemController::connectedChanged);
        QVERIFY(m_controller->connectPort(m_board->portName()));
        QCOMPARE(connected.size(), 1);
        QTest::qWait(50);
        m_board->process();
        QCOMPARE(m_board->frames().size(), 0); // nothing goes out before the board is heard

        QVERIFY(m_board->sendHeartbeat("ready"));
        QVERIFY(m_board->waitForFrame('Q'));
        QCOMPARE(hex(m_board->rawReceived()),
                 QByteArray("50 53 00 96 21 21 50 43 00 64 00 8C 00 64 00 64 00 4B 21 21 "
                            "50 41 00 01 02 03 04 05 21 21 50 49 00 00 0A 21 21 50 51 21 21"));
        // Further heartbeats do not resend anything.
        QVERIFY(m_board->sendHeartbeat("ready"));
        QTest::qWait(50);
        m_board->process();
        QCOMPARE(m_board->letters(), QString("SCAIQ"));
    }

    void firstHeartbeatLate()
    {
        QSignalSpy errors(m_controller.get(), &MotionSystemController::errorOccurred);
        QVERIFY(m_controller->connectPort(m_board->portName()));
        QMetaObject::invokeMethod(m_controller.get(), "onFirstHeartbeatTimeout");
        QCOMPARE(texts(errors), QStringList(QString::fromUtf8("No heartbeat from the controller within 3.5 s \u2014 wrong port, or the ST-LINK is wedged (unplug and replug the USB).")));
        QVERIFY(m_board->sendHeartbeat("ready"));
        QVERIFY(m_board->waitForFrame('Q'));
        QCOMPARE(m_board->letters(), QString("SCAIQ"));
        // Once alive, the wait's expiry has nothing more to say.
        QMetaObject::invokeMethod(m_controller.get(), "onFirstHeartbeatTimeout");
        QCOMPARE(errors.size(), 1);
    }

    // The map goes again once, 1500 ms after the first heartbeat, unless the board echoed it.
    void mapResentUnlessConfirmed_data()
    {
        QTest::addColumn<QList<int>>("echo");
        QTest::addColumn<int>("maps");
        QTest::newRow("no echo") << QList<int>() << 2;
        QTest::newRow("wrong echo") << QList<int> { 1, 0, 2, 3, 4, 5 } << 2;
        QTest::newRow("confirmed") << QList<int> { 0, 1, 2, 3, 4, 5 } << 1;
    }

    void mapResentUnlessConfirmed()
    {
        QFETCH(QList<int>, echo);
        QFETCH(int, maps);
        QVERIFY(m_controller->connectPort(m_board->portName()));
        QVERIFY(m_board->sendHeartbeat("ready"));
        QVERIFY(m_board->waitForFrame('Q'));
        if (!echo.isEmpty()) {
            QVERIFY(m_board->sendMapEcho(echo));
            QVERIFY(m_board->waitFor([this] { return m_controller->isMapConfirmed(); }, 300) == (maps == 1));
        }
        QTest::qWait(MotionSystemController::MapResendMs + 500);
        m_board->process();
        QCOMPARE(m_board->frameCount('A'), maps);
        QCOMPARE(hex(m_board->frames('A').last().payload), QByteArray("00 01 02 03 04 05"));
    }

    void heartbeatLoss()
    {
        connectAlive();
        QSignalSpy errors(m_controller.get(), &MotionSystemController::errorOccurred);
        QSignalSpy states(m_controller.get(), &MotionSystemController::controllerStateChanged);
        QMetaObject::invokeMethod(m_controller.get(), "onHeartbeatTimeout");
        QCOMPARE(texts(errors), QStringList(QString::fromUtf8("Heartbeats stopped \u2014 link may be wedged (unplug and replug the USB if it persists).")));
        QVERIFY(m_board->sendHeartbeat("ready"));
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), QString("ready"), Patience);
        QCOMPARE(texts(states), QStringList({ QString(), "ready" }));
        m_board->process();
        QCOMPARE(m_board->frames().size(), 0); // the settings went out with the first heartbeat only
    }

    void hangUpReportedOnce()
    {
        connectAlive();
        QSignalSpy errors(m_controller.get(), &MotionSystemController::errorOccurred);
        QSignalSpy connected(m_controller.get(), &MotionSystemController::connectedChanged);
        m_board->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!m_controller->isConnected(), Patience);
        QTest::qWait(100);
        QCOMPARE(connected.size(), 1);
        QCOMPARE(texts(errors), QStringList("Motion controller disconnected (port lost)"));
        QCOMPARE(m_controller->state(), QString());
    }

    void portErrors()
    {
        QSignalSpy errors(m_controller.get(), &MotionSystemController::errorOccurred);
        QVERIFY(!m_controller->connectPort("/dev/ostra-no-such-port"));
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().first().toString().startsWith("Failed to open /dev/ostra-no-such-port: "));
        QVERIFY(!m_controller->isConnected());

        // A port another program holds.
        MotionSystemController other;
        QVERIFY(other.connectPort(m_board->portName()));
        QVERIFY(!m_controller->connectPort(m_board->portName()));
        QCOMPARE(errors.last().first().toString(),
                 m_board->portName() + " is in use by another program (PuTTY? a test script?). Close it and connect again.");
        QVERIFY(!m_controller->isConnected());
    }

    void lines_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("positions");
        QTest::addColumn<QChar>("sleep");
        QTest::addColumn<bool>("live");
        QTest::addColumn<int>("heartbeats");
        QTest::addColumn<QStringList>("status");

        const QList<QByteArray> none;
        QTest::newRow("heartbeat") << QList<QByteArray> { "[ready] ax0=75mm ax1=80mm slp=a\n" } << "ready" << "0=75 1=80" << QChar('a') << false << 1 << QStringList();
        QTest::newRow("empty brackets keep the state") << QList<QByteArray> { "[homing] slp=z\n[]\n" } << "homing" << "" << QChar('?') << false << 2 << QStringList();
        QTest::newRow("positions") << QList<QByteArray> { "@P 10 x 30\n" } << "ready" << "0=10 2=30" << QChar('?') << true << 0 << QStringList();
        QTest::newRow("more than six positions") << QList<QByteArray> { "@P 1 2 3 4 5 6 7\n" } << "ready" << "0=1 1=2 2=3 3=4 4=5 5=6" << QChar('?') << true << 0 << QStringList();
        QTest::newRow("split line") << QList<QByteArray> { "[cal", "ibrate] ax2=", "9mm\n" } << "calibrate" << "2=9" << QChar('?') << false << 1 << QStringList();
        QTest::newRow("test report in a heartbeat") << QList<QByteArray> { "[ready] #TST done\n" } << "ready" << "" << QChar('?') << false << 1 << QStringList();
        QTest::newRow("status") << QList<QByteArray> { "hello from the board\n\n" } << "ready" << "" << QChar('?') << false << 0 << QStringList("hello from the board");
        QTest::newRow("Latin-1") << QList<QByteArray> { "temp 40\xb0" "C\n" } << "ready" << "" << QChar('?') << false << 0 << QStringList(QString::fromUtf8("temp 40\u00b0C"));
        QTest::newRow("4097 bytes without a line end dropped") << QList<QByteArray> { QByteArray(4097, 'x'), "[busy]\n" } << "busy" << "" << QChar('?') << false << 1 << QStringList();
    }

    void lines()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QString, state);
        QFETCH(QString, positions);
        QFETCH(QChar, sleep);
        QFETCH(bool, live);
        QFETCH(int, heartbeats);
        QFETCH(QStringList, status);
        connectAlive();
        QSignalSpy heartbeat(m_controller.get(), &MotionSystemController::heartbeat);
        QSignalSpy statusSpy(m_controller.get(), &MotionSystemController::statusLine);
        for (const QByteArray &chunk : chunks) {
            QVERIFY(m_board->sendRaw(chunk));
            QTest::qWait(30); // each chunk arrives as a read of its own
        }
        // A closing line marks the end of what the rows sent.
        QVERIFY(m_board->sendLine("end"));
        QTRY_VERIFY_WITH_TIMEOUT(texts(statusSpy).contains("end"), Patience);
        QCOMPARE(m_controller->state(), state);
        QStringList mm;
        const QMap<int, int> map = m_controller->axisPositions();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            mm.append(QString("%1=%2").arg(it.key()).arg(it.value()));
        QCOMPARE(mm.join(' '), positions);
        QCOMPARE(m_controller->sleepFlag(), sleep);
        QCOMPARE(m_controller->hasLivePositions(), live);
        QCOMPARE(heartbeat.size(), heartbeats);
        QCOMPARE(texts(statusSpy), status + QStringList("end"));
    }

    void settingsEcho_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("echoed");
        QTest::addColumn<QList<int>>("values"); // intensity, travel, speed, accel, park, stroke
        QTest::newRow("without stroke") << "#CFG i=80 t=120 s=90 a=70 p=60" << true << QList<int> { 80, 120, 90, 70, 60, 150 };
        QTest::newRow("stored as sent") << "ok #CFG i=5 t=999 s=0 a=1 p=400\tst=0 trailing" << true << QList<int> { 5, 999, 0, 1, 400, 0 };
        QTest::newRow("not matching") << "#CFG i=80 t=120" << false << QList<int> { 100, 140, 100, 100, 75, 150 };
    }

    void settingsEcho()
    {
        QFETCH(QString, line);
        QFETCH(bool, echoed);
        QFETCH(QList<int>, values);
        MotionSystemSettings before;
        before.actuatorSlots = { 1, 0, 2, 3, 4, 5 };
        before.sleepEnabled = true;
        m_controller->applySettings(before, {"actuatorSlots", "sleepEnabled"});
        QSignalSpy echoSpy(m_controller.get(), &MotionSystemController::settingsEchoed);
        QSignalSpy applied(m_controller.get(), &MotionSystemController::settingsApplied);
        QSignalSpy status(m_controller.get(), &MotionSystemController::statusLine);
        m_controller->parseLine(line);
        const MotionSystemSettings s = m_controller->settings();
        QCOMPARE(QList<int>({ s.intensity, s.travelMm, s.speedPct, s.accelPct, s.parkMm, s.strokeMm }), values);
        QCOMPARE(s.actuatorSlots, before.actuatorSlots);
        QCOMPARE(echoSpy.size(), echoed ? 1 : 0);
        // Stored as echoed; a key nobody set stays out of the file and reads as its default.
        QCOMPARE(corvane::SettingsFile(QStringLiteral("MotionSystem")).value("travelMm", MotionSystemSettings().travelMm).toInt(), values.at(1));
    }

    void mapEcho_data()
    {
        QTest::addColumn<QList<int>>("actuatorSlots");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("confirmed");
        const QList<int> identity { 0, 1, 2, 3, 4, 5 };
        QTest::newRow("identity") << identity << "#MAP 0 1 2 3 4 5#" << true;
        QTest::newRow("wrong actuator") << identity << "#MAP 1 0 2 3 4 5#" << false;
        QTest::newRow("swapped map") << QList<int> { 1, 0, 2, 3, 4, 5 } << "#MAP 1 0 2 3 4 5#" << true;
        QTest::newRow("no closing mark") << identity << "#MAP 0 1 2 3 4 5" << false;
    }

    void mapEcho()
    {
        QFETCH(QList<int>, actuatorSlots);
        QFETCH(QString, line);
        QFETCH(bool, confirmed);
        MotionSystemSettings s;
        std::copy(actuatorSlots.begin(), actuatorSlots.end(), s.actuatorSlots.begin());
        m_controller->applySettings(s, {"actuatorSlots"});
        QSignalSpy changed(m_controller.get(), &MotionSystemController::mapConfirmedChanged);
        QSignalSpy errors(m_controller.get(), &MotionSystemController::errorOccurred);
        QSignalSpy status(m_controller.get(), &MotionSystemController::statusLine);
        m_controller->parseLine(line);
        QCOMPARE(m_controller->isMapConfirmed(), confirmed);
        QCOMPARE(texts(errors), confirmed ? QStringList() : QStringList("Controller did not take the actuator map (" + line + ")"));

        if (confirmed) {
            // Sending the map again waits for a fresh confirmation.
            m_controller->sendActuatorMap();
            QVERIFY(!m_controller->isMapConfirmed());
            QCOMPARE(changed.size(), 2);
        }
    }

    void commands()
    {
        connectAlive();
        QVERIFY(m_controller->moveAxis(2, 140));
        QVERIFY(m_controller->moveAxis(0, 400)); // clamped to the 150 mm stroke
        QVERIFY(!m_controller->moveAxis(6, 10));
        QVERIFY(!m_controller->moveAxis(-1, 10));
        m_controller->home();
        m_controller->requestCalibration();
        QVERIFY(m_board->waitForFrame('Z'));
        QCOMPARE(hex(m_board->rawReceived()),
                 QByteArray("50 4D 02 00 8C 21 21 50 4D 00 00 96 21 21 50 48 21 21 50 5A 21 21"));

        m_board->sendHeartbeat("FAIL");
        QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), QString("FAIL"), Patience);
        QVERIFY(!m_controller->moveAxis(2, 140));
        m_board->clearRecords();
        QSignalSpy errors(m_controller.get(), &MotionSystemController::errorOccurred);
        m_controller->home(); // homing is how a fault is cleared
        QVERIFY(m_board->waitForFrame('H'));
        QCOMPARE(errors.size(), 0);
    }

    void gate_data()
    {
        QTest::addColumn<bool>("connect");
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<QString>("boardText");
        QTest::addColumn<QString>("hostText");
        QTest::newRow("not connected") << false << QByteArray() << "Not connected" << "Not connected";
        QTest::newRow("no heartbeat yet") << true << QByteArray()
                                          << QString::fromUtf8("Controller is in \"\" state \u2014 tests need \"ready\"")
                                          << QString::fromUtf8("Waiting for controller status (heartbeat) \u2014 try again in a moment");
        QTest::newRow("fault") << true << QByteArray("FAIL")
                               << QString::fromUtf8("Controller is in \"FAIL\" state \u2014 tests need \"ready\"")
                               << QString::fromUtf8("Controller is in \"FAIL\" state \u2014 tests need \"ready\" (use Auto Home after fixing the cause)");
        QTest::newRow("released") << true << QByteArray("released")
                                  << QString::fromUtf8("Controller is in \"released\" state \u2014 tests need \"ready\"")
                                  << QString::fromUtf8("Controller is in \"released\" state \u2014 tests need \"ready\"");
    }

    void gate()
    {
        QFETCH(bool, connect);
        QFETCH(QByteArray, state);
        QFETCH(QString, boardText);
        QFETCH(QString, hostText);
        if (connect) {
            QVERIFY(m_controller->connectPort(m_board->portName()));
            if (!state.isEmpty()) {
                QVERIFY(m_board->sendHeartbeat(state));
                QTRY_COMPARE_WITH_TIMEOUT(m_controller->state(), QString::fromLatin1(state), Patience);
            }
        }
        m_board->clearRecords();
        QSignalSpy errors(m_controller.get(), &MotionSystemController::errorOccurred);
        QSignalSpy started(m_controller.get(), &MotionSystemController::testStarted);
        QVERIFY(!m_controller->startBoardTest(0, 50, 100, 5));
        QVERIFY(!m_controller->vibrate(-1, 10, 20, 3));
        QVERIFY(!m_controller->startFullSystemTest(5));
        QVERIFY(!m_controller->startHostTest(2, 50, 100, 5));
        QCOMPARE(texts(errors), QStringList({ boardText, boardText, boardText, hostText }));
        QCOMPARE(started.size(), 0);
        QTest::qWait(30);
        m_board->process();
        QCOMPARE(m_board->frames().size(), 0);
        QVERIFY(!m_controller->isBusy());
    }

    void busyGate()
    {
        connectAlive();
        QVERIFY(m_controller->startBoardTest(1, 50, 100, 5));
        QSignalSpy errors(m_controller.get(), &MotionSystemController::errorOccurred);
        QVERIFY(!m_controller->startHostTest(2, 50, 100, 5));
        QVERIFY(!m_controller->vibrate(0, 10, 20, 3));
        QCOMPARE(texts(errors), QStringList({ "Test already running", "Test already running" }));
    }

    void hostTest()
    {
        connectAlive();
        QSignalSpy status(m_controller.get(), &MotionSystemController::statusLine);
        QSignalSpy started(m_controller.get(), &MotionSystemController::testStarted);
        QSignalSpy finished(m_controller.get(), &MotionSystemController::testFinished);
        QVERIFY(m_controller->startHostTest(MotionSystemController::Pitch, 150, 5, 60));
        QCOMPARE(texts(status), QStringList(QString::fromUtf8("Testing Pitch \u2014 travel 100%, 0.10 Hz, 30 s")));
        QCOMPARE(started.first(), QList<QVariant>({ 2, 100 }));
        // Home is refused while frames are streamed.
        QSignalSpy errors(m_controller.get(), &MotionSystemController::errorOccurred);
        m_controller->home();
        QCOMPARE(texts(errors), QStringList(QString::fromUtf8("Test running \u2014 wait for it to finish")));

        // Every tick is one frame, whether the timer or the test ran it: 30 s are 1500 ticks.
        for (int tick = 0; tick < 1500; ++tick)
            QMetaObject::invokeMethod(m_controller.get(), "onTestTick");
        QVERIFY(!m_controller->isBusy());
        QVERIFY(m_board->waitFor([&] { return m_board->frameCount('6') >= 1500; }));
        const QList<SimulatedMotionController::Frame> frames = m_board->frames('6');
        QCOMPARE(frames.size(), 1500);
        const double pitch[6] = { -1, -1, 1, 1, 0, 0 };
        for (int tick : { 1, 25, 30, 31, 400, 1470, 1499 }) {
            const QByteArray &payload = frames.at(tick - 1).payload;
            QCOMPARE(payload.size(), 12);
            for (int channel = 0; channel < 6; ++channel) {
                const int value = (quint8(payload.at(2 * channel)) << 8) | quint8(payload.at(2 * channel + 1));
                QCOMPARE(value, setPoint(pitch[channel], 100, 0.1, 30000, tick));
            }
        }
        QCOMPARE(hex(frames.last().payload), QByteArray("7F FF 7F FF 7F FF 7F FF 7F FF 7F FF"));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(texts(status).last(), QString::fromUtf8("Test finished \u2014 recentered to park"));
    }

    void dofTest_data()
    {
        QTest::addColumn<int>("platform");
        QTest::addColumn<int>("dof");
        QTest::addColumn<bool>("board");
        QTest::newRow("3-DOF heave runs on the board") << 3 << 4 << true;
        QTest::newRow("2-DOF first DOF runs on the board") << 2 << 0 << true;
        QTest::newRow("3-DOF pitch is host-driven") << 3 << 2 << false;
        QTest::newRow("2-DOF second DOF is host-driven") << 2 << 1 << false;
        QTest::newRow("5-DOF heave is host-driven") << 5 << 4 << false;
    }

    void dofTest()
    {
        QFETCH(int, platform);
        QFETCH(int, dof);
        QFETCH(bool, board);
        m_controller->setPlatformDof(platform);
        connectAlive();
        QSignalSpy started(m_controller.get(), &MotionSystemController::testStarted);
        QVERIFY(m_controller->startDofTest(dof, 40, 150, 6));
        QCOMPARE(started.first(), QList<QVariant>({ board ? 4 : dof, 40 }));
        if (board) {
            QVERIFY(m_board->waitForFrame('T'));
            QCOMPARE(hex(m_board->frames('T').first().payload), QByteArray("FF 28 00 96 06"));
        } else {
            QMetaObject::invokeMethod(m_controller.get(), "onTestTick");
            QVERIFY(m_board->waitForFrame('6'));
            QCOMPARE(m_board->frameCount('T'), 0);
        }
        m_controller->release();
    }

    void unconfirmedMapWarning()
    {
        MotionSystemSettings s;
        s.actuatorSlots = { 1, 0, 2, 3, 4, 5 };
        m_controller->applySettings(s, {"actuatorSlots"});
        connectAlive();
        QSignalSpy status(m_controller.get(), &MotionSystemController::statusLine);
        QVERIFY(m_controller->startDofTest(MotionSystemController::Roll, 40, 150, 6));
        QCOMPARE(texts(status).first(),
                 QString::fromUtf8("! Actuator positions not confirmed by the controller \u2014 Roll may move the wrong actuators. Flash the latest firmware."));
        m_controller->release();
    }

    void boardTests()
    {
        connectAlive();
        QSignalSpy status(m_controller.get(), &MotionSystemController::statusLine);
        QSignalSpy started(m_controller.get(), &MotionSystemController::testStarted);
        QSignalSpy finished(m_controller.get(), &MotionSystemController::testFinished);
        QVERIFY(m_controller->startBoardTest(3, 150, 5000, 99));
        QCOMPARE(started.first(), QList<QVariant>({ 4, 150 }));
        QVERIFY(m_controller->isBusy());
        // A heartbeat that mentions the report is no report; the board's own line ends the test.
        QVERIFY(m_board->sendLine("[ready] #TST done"));
        QVERIFY(m_board->sendLine("#TST axis=3 running"));
        QTRY_VERIFY_WITH_TIMEOUT(texts(status).contains("#TST axis=3 running"), Patience);
        QVERIFY(m_controller->isBusy());
        QVERIFY(m_board->sendTestDone());
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, Patience);
        QVERIFY(!m_controller->isBusy());

        QVERIFY(m_controller->vibrate(-5, 90, 100, 0));
        QCOMPARE(started.last(), QList<QVariant>({ 4, 0 }));
        QMetaObject::invokeMethod(m_controller.get(), "onBoardTestTimeout");
        QCOMPARE(finished.size(), 2);
        QCOMPARE(texts(status).last(), QString("Board test assumed finished (no #TST done# seen)"));
        QMetaObject::invokeMethod(m_controller.get(), "onBoardTestTimeout"); // nothing runs any more
        QCOMPARE(finished.size(), 2);
        QVERIFY(m_board->waitForFrame('V'));
        QCOMPARE(hex(m_board->frames('T').first().payload), QByteArray("03 64 01 2C 1E"));
        QCOMPARE(hex(m_board->frames('V').first().payload), QByteArray("FF 32 50 01"));
    }

    void fullTestRelease()
    {
        connectAlive();
        QSignalSpy status(m_controller.get(), &MotionSystemController::statusLine);
        QSignalSpy started(m_controller.get(), &MotionSystemController::testStarted);
        QSignalSpy finished(m_controller.get(), &MotionSystemController::testFinished);
        QVERIFY(m_controller->startFullSystemTest(45));
        QCOMPARE(started.first(), QList<QVariant>({ 4, 100 }));
        QCOMPARE(texts(status), QStringList({ QString::fromUtf8("Full system test started \u2014 30 min"),
                                              QString::fromUtf8("Full test [30:00 left]: actuator 1 \u2014 travel 80%, 0.50 Hz, 8 s") }));
        QVERIFY(m_board->waitForFrame('T'));
        QCOMPARE(m_board->rawReceived(), QByteArray::fromHex("5054005000320821 21").replace(" ", ""));
        m_controller->release();
        QVERIFY(m_board->waitForFrame('R'));
        QCOMPARE(hex(m_board->rawReceived().right(4)), QByteArray("50 52 21 21"));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(texts(status).last(), QString::fromUtf8("Release requested \u2014 motion disabled, Home to resume"));
        QVERIFY(!m_controller->isBusy());
        QMetaObject::invokeMethod(m_controller.get(), "runFullTestStage");
        QCOMPARE(finished.size(), 1);
    }

    void fullTestStages()
    {
        m_controller->setPlatformDof(3);
        connectAlive();
        QSignalSpy status(m_controller.get(), &MotionSystemController::statusLine);
        QSignalSpy finished(m_controller.get(), &MotionSystemController::testFinished);
        QVERIFY(m_controller->startFullSystemTest(1));
        // One cycle on four actuators: 4 + 4 board stages, 2 on all, pitch and roll from here.
        const QStringList labels { "actuator 1", "actuator 2", "actuator 3", "actuator 4", "actuator 1", "actuator 2",
                                   "actuator 3", "actuator 4", "all actuators", "all actuators", "Pitch", "Roll", "actuator 1" };
        for (int stage = 0; stage < labels.size(); ++stage) {
            QVERIFY2(texts(status).last().contains(QString::fromUtf8(": %1 \u2014").arg(labels.at(stage))), qPrintable(texts(status).last()));
            QVERIFY(m_controller->isBusy());
            if (labels.at(stage).startsWith("actuator") || labels.at(stage) == "all actuators")
                m_controller->parseLine("#TST done");
            else
                for (int tick = 0; tick < 400; ++tick)
                    QMetaObject::invokeMethod(m_controller.get(), "onTestTick");
            QCOMPARE(finished.size(), 0);
            m_controller->elapsedMs += 1000;
            QMetaObject::invokeMethod(m_controller.get(), "runFullTestStage");
        }
        // The last seconds are cut to what remains, never below one.
        m_controller->parseLine("#TST done");
        m_controller->elapsedMs = 57400;
        QMetaObject::invokeMethod(m_controller.get(), "runFullTestStage");
        QCOMPARE(texts(status).last(), QString::fromUtf8("Full test [0:02 left]: actuator 3 \u2014 travel 80%, 0.50 Hz, 2 s"));
        m_controller->parseLine("#TST done");
        m_controller->elapsedMs = 59990;
        QMetaObject::invokeMethod(m_controller.get(), "runFullTestStage");
        QCOMPARE(texts(status).last(), QString::fromUtf8("Full test [0:00 left]: actuator 4 \u2014 travel 80%, 0.50 Hz, 1 s"));
        m_controller->parseLine("#TST done");
        m_controller->elapsedMs = 60000;
        QMetaObject::invokeMethod(m_controller.get(), "runFullTestStage");
        QCOMPARE(texts(status).last(), QString("Full system test complete"));
        QCOMPARE(finished.size(), 1);
        QVERIFY(!m_controller->isBusy());
        QVERIFY(m_board->waitFor([&] { return m_board->frameCount('T') >= 14; }));
        const QList<SimulatedMotionController::Frame> t = m_board->frames('T');
        QCOMPARE(hex(t.at(4).payload), QByteArray("00 1E 00 C8 05"));
        QCOMPARE(hex(t.at(8).payload), QByteArray("FF 3C 00 64 08"));
        QCOMPARE(hex(t.at(9).payload), QByteArray("FF 19 00 FA 05"));
        QCOMPARE(hex(t.last().payload), QByteArray("03 50 00 32 01"));
    }

    void fullTestLeavesReady()
    {
        connectAlive();
        QSignalSpy status(m_controller.get(), &MotionSystemController::statusLine);
        QSignalSpy finished(m_controller.get(), &MotionSystemController::testFinished);
        QVERIFY(m_controller->startFullSystemTest(1));
        QVERIFY(m_board->sendHeartbeat("FAIL"));
        QVERIFY(m_board->sendTestDone());
        QTRY_VERIFY_WITH_TIMEOUT(texts(status).contains("#TST done#"), Patience);
        QCOMPARE(finished.size(), 0);
        QMetaObject::invokeMethod(m_controller.get(), "runFullTestStage");
        QCOMPARE(texts(status).last(), QString("Full system test stopped (controller left ready state)"));
        QCOMPARE(finished.size(), 1);
        QVERIFY(!m_controller->isBusy());
    }

    void disconnectEndsTests()
    {
        connectAlive();
        QSignalSpy finished(m_controller.get(), &MotionSystemController::testFinished);
        QSignalSpy status(m_controller.get(), &MotionSystemController::statusLine);
        QVERIFY(m_controller->startHostTest(MotionSystemController::Roll, 50, 100, 10));
        m_controller->disconnectPort();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(texts(status).last(), QString("Disconnected"));
        QVERIFY(!m_controller->isBusy());
        m_controller->disconnectPort(); // closing twice says nothing more

        QCOMPARE(status.size(), 2);
    }

    // Its owner is being destroyed: a running test and the open port end without a word.
    void destructionIsSilent()
    {
        connectAlive();
        QVERIFY(m_controller->startHostTest(MotionSystemController::Roll, 50, 100, 10));
        QSignalSpy connected(m_controller.get(), &MotionSystemController::connectedChanged);
        QSignalSpy finished(m_controller.get(), &MotionSystemController::testFinished);
        QSignalSpy status(m_controller.get(), &MotionSystemController::statusLine);
        m_controller.reset();
        QCOMPARE(connected.size() + finished.size() + status.size(), 0);
        // The port is closed: the board hears nothing more.
        m_board->clearRecords();
        QTest::qWait(100);
        m_board->process();
        QCOMPARE(m_board->frames().size(), 0);
    }
};

OSTRA_TEST_MAIN_CORE(TestMotionSystemController)
#include "tst_motionsystemcontroller.moc"
