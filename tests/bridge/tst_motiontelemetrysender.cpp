#include "bridge/motiontelemetrysender.h"

#include "support/testenvironment.h"

#include <QNetworkDatagram>
#include <QSettings>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtEndian>

#include <cmath>

using corvane::MotionTelemetrySender;

namespace {

// Generous on a loaded machine; waits end as soon as their condition holds.
constexpr int Patience = 10000;

// Listens on 127.0.0.1 at a free port and hands back the newest packet the sender wrote.
class PacketReader
{
public:
    PacketReader() { m_socket.bind(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_socket.localPort(); }

    // The last datagram that is waiting, after the sender wrote at least one; empty on time-out.
    QByteArray latest(int timeoutMs = Patience)
    {
        if (!m_socket.hasPendingDatagrams() && !m_socket.waitForReadyRead(timeoutMs))
            return {};
        QByteArray last;
        while (m_socket.hasPendingDatagrams())
            last = m_socket.receiveDatagram().data();
        return last;
    }

    bool nothingWithin(int ms) { return !m_socket.hasPendingDatagrams() && !m_socket.waitForReadyRead(ms); }

    void drop()
    {
        while (m_socket.hasPendingDatagrams())
            m_socket.receiveDatagram();
    }

private:
    QUdpSocket m_socket;
};

// NaN when the packet is too short to hold the float, so a missing packet fails the comparison.
float floatAt(const QByteArray &packet, int index)
{
    if (packet.size() < 4 * (index + 1))
        return std::nanf("");
    return qFromLittleEndian<float>(packet.constData() + 4 * index);
}

void tick(MotionTelemetrySender &sender, int times = 1)
{
    for (int i = 0; i < times; ++i)
        QMetaObject::invokeMethod(&sender, "sendPacket");
}

} // namespace

class TestMotionTelemetrySender : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QSettings().remove(QStringLiteral("motionTelemetry"));
    }

    void freshSettings()
    {
        MotionTelemetrySender sender;
        QVERIFY(!sender.isEnabled());
        QCOMPARE(sender.host(), QStringLiteral("127.0.0.1"));
        QCOMPARE(sender.port(), quint16(20777));
        QCOMPARE(sender.msSinceGForces(), qint64(-1));
    }

    void settingsSurviveRestart()
    {
        {
            MotionTelemetrySender sender;
            QSignalSpy enabled(&sender, &MotionTelemetrySender::enabledChanged);
            sender.setTarget(QStringLiteral("127.0.0.5"), 4321);
            sender.setEnabled(true);
            sender.setEnabled(true);
            QCOMPARE(enabled.count(), 1);
            QCOMPARE(enabled.at(0).at(0).toBool(), true);
        }
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("motionTelemetry/host")).toString(), QStringLiteral("127.0.0.5"));
        QCOMPARE(settings.value(QStringLiteral("motionTelemetry/port")).toUInt(), 4321u);
        QCOMPARE(settings.value(QStringLiteral("motionTelemetry/enabled")).toBool(), true);
        MotionTelemetrySender again;
        QVERIFY(again.isEnabled());
        QCOMPARE(again.host(), QStringLiteral("127.0.0.5"));
        QCOMPARE(again.port(), quint16(4321));
    }

    void hostFallsBackToLocalHost_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("name") << QStringLiteral("localhost");
        QTest::newRow("empty") << QString();
        QTest::newRow("garbage") << QStringLiteral("300.1.2.3");
        QTest::newRow("address") << QStringLiteral("127.0.0.1");
    }

    void hostFallsBackToLocalHost()
    {
        QFETCH(QString, host);
        PacketReader reader;
        MotionTelemetrySender sender;
        sender.setTarget(host, reader.port());
        sender.setEnabled(true);
        tick(sender);
        const QByteArray packet = reader.latest();
        QCOMPARE(packet.size(), 264);
        QVERIFY(sender.packetCount() >= 1);
        QCOMPARE(sender.host(), host);
    }

    void constantFields()
    {
        PacketReader reader;
        MotionTelemetrySender sender;
        sender.setTarget(QStringLiteral("127.0.0.1"), reader.port());
        sender.setEnabled(true);
        tick(sender);
        const QByteArray packet = reader.latest();
        QCOMPARE(packet.size(), MotionTelemetrySender::PacketSize);
        QCOMPARE(floatAt(packet, 63), 800.0f);
        QCOMPARE(floatAt(packet, 64), 100.0f);
        QCOMPARE(floatAt(packet, 65), 6.0f);
        // No controls provider: the engine idles and the controls stay at zero.
        QCOMPARE(floatAt(packet, 37), 100.0f);
        for (int i : { 29, 30, 31, 32, 33, 34, 35 })
            QCOMPARE(floatAt(packet, i), 0.0f);
        // Level car heading straight: the orientation vectors are the axes.
        QCOMPARE(floatAt(packet, 11), 1.0f);
        QCOMPARE(floatAt(packet, 16), 1.0f);
        for (int i : { 12, 13, 14, 15 })
            QCOMPARE(floatAt(packet, i), 0.0f);
        // Every slot the layout leaves alone is zero.
        const QList<int> used { 0, 1, 9, 11, 12, 13, 14, 15, 16, 29, 30, 31, 32, 33, 34, 35, 37, 63, 64, 65 };
        for (int i = 0; i < 66; ++i) {
            if (!used.contains(i))
                QVERIFY2(floatAt(packet, i) == 0.0f, qPrintable(QString::number(i)));
        }
        QVERIFY(floatAt(packet, 0) >= 0.0f);
        QCOMPARE(floatAt(packet, 0), floatAt(packet, 1));
    }

    void controlsFromProvider_data()
    {
        QTest::addColumn<float>("throttle");
        QTest::addColumn<int>("gear");
        QTest::addColumn<float>("gearValue");
        QTest::addColumn<float>("engineRate");
        QTest::newRow("reverse full throttle") << 1.0f << -1 << 10.0f << 800.0f;
        QTest::newRow("neutral idle") << 0.0f << 0 << 0.0f << 100.0f;
        QTest::newRow("third half throttle") << 0.5f << 3 << 3.0f << 450.0f;
        QTest::newRow("seventh") << 0.25f << 7 << 7.0f << 275.0f;
    }

    void controlsFromProvider()
    {
        QFETCH(float, throttle);
        QFETCH(int, gear);
        QFETCH(float, gearValue);
        QFETCH(float, engineRate);
        PacketReader reader;
        MotionTelemetrySender sender;
        sender.setTarget(QStringLiteral("127.0.0.1"), reader.port());
        sender.setControlsProvider([=] {
            MotionTelemetrySender::Controls c;
            c.steering = -0.5f;
            c.throttle = throttle;
            c.brake = 0.75f;
            c.clutch = 0.125f;
            c.gear = gear;
            return c;
        });
        sender.setEnabled(true);
        tick(sender);
        const QByteArray packet = reader.latest();
        QCOMPARE(floatAt(packet, 29), throttle);
        QCOMPARE(floatAt(packet, 30), -0.5f);
        QCOMPARE(floatAt(packet, 31), 0.75f);
        QCOMPARE(floatAt(packet, 32), 0.125f);
        QCOMPARE(floatAt(packet, 33), gearValue);
        QCOMPARE(floatAt(packet, 37), engineRate);
    }

    void gForcesAreSmoothed()
    {
        PacketReader reader;
        MotionTelemetrySender sender;
        sender.setTarget(QStringLiteral("127.0.0.1"), reader.port());
        sender.setEnabled(true);
        float lon = 0.0f, lat = 0.0f;
        for (int i = 0; i < 4; ++i) {
            // A sample older than 300 ms counts as none; feeding one per tick keeps a slow
            // machine from turning the test into a decay.
            sender.setGForces(1.0f, -2.0f, 0.5f);
            QVERIFY(sender.msSinceGForces() >= 0);
            tick(sender);
            const QByteArray packet = reader.latest();
            lon += (1.0f - lon) * 0.25f;
            lat += (-2.0f - lat) * 0.25f;
            QCOMPARE(floatAt(packet, 35), lon);
            QCOMPARE(floatAt(packet, 34), lat);
        }
        sender.setGForces(1.0f, -2.0f, 0.5f);
        const MotionTelemetrySender::PreviewState state = sender.previewState();
        QVERIFY(state.gForcesLive);
        QCOMPARE(state.lon, lon);
        QCOMPARE(state.lat, lat);
    }

    void upwardAccelerationBuildsHeave()
    {
        PacketReader reader;
        MotionTelemetrySender sender;
        sender.setTarget(QStringLiteral("127.0.0.1"), reader.port());
        sender.setEnabled(true);
        sender.setGForces(0.0f, 0.0f, 1.0f);
        // Heave integrates over the time between ticks, so let some pass.
        for (int i = 0; i < 3; ++i) {
            QTest::qWait(20);
            sender.setGForces(0.0f, 0.0f, 1.0f);
            tick(sender);
        }
        QVERIFY(floatAt(reader.latest(), 9) > 0.0f);
        QVERIFY(sender.previewState().heaveVelocity > 0.0f);
    }

    void staleGForcesDecay()
    {
        PacketReader reader;
        MotionTelemetrySender sender;
        sender.setTarget(QStringLiteral("127.0.0.1"), reader.port());
        sender.setEnabled(true);
        sender.setGForces(1.0f, 1.0f, 0.0f);
        tick(sender, 3);
        // Staleness is judged by the age of the last sample; there is no other clock to move.
        QTest::qWait(320);
        QVERIFY(!sender.previewState().gForcesLive);
        for (int i = 0; i < 3; ++i) {
            const float before = sender.previewState().lon;
            QVERIFY(before > 0.0f);
            reader.drop();
            tick(sender);
            const QByteArray packet = reader.latest();
            QCOMPARE(floatAt(packet, 35), before * 0.75f);
            QCOMPARE(floatAt(packet, 34), before * 0.75f);
        }
    }

    void yawUnwrapsAcrossTheSeam()
    {
        PacketReader reader;
        MotionTelemetrySender sender;
        sender.setTarget(QStringLiteral("127.0.0.1"), reader.port());
        sender.setEnabled(true);
        sender.setAttitude(0.0f, 0.0f, 170.0f);
        sender.setAttitude(0.0f, 0.0f, -170.0f);
        tick(sender);
        const QByteArray packet = reader.latest();
        // The target moved +20 degrees, not -340: one smoothing step of 8 % of it.
        const float yaw = 20.0f * 0.017453292f * 0.08f;
        QVERIFY(std::abs(floatAt(packet, 13) - -std::sin(yaw)) < 1e-6f);
        QVERIFY(std::abs(floatAt(packet, 14) - std::sin(yaw)) < 1e-6f);
        QVERIFY(std::abs(sender.previewState().yawDeg - 1.6f) < 1e-3f);
    }

    void attitudeVectors()
    {
        PacketReader reader;
        MotionTelemetrySender sender;
        sender.setTarget(QStringLiteral("127.0.0.1"), reader.port());
        sender.setEnabled(true);
        sender.setAttitude(10.0f, -20.0f, 0.0f);
        for (int i = 0; i < 200; ++i) {
            sender.setAttitude(10.0f, -20.0f, 0.0f);
            tick(sender);
        }
        const QByteArray packet = reader.latest();
        const float pitch = 10.0f * 0.017453292f;
        const float roll = -20.0f * 0.017453292f;
        QVERIFY(std::abs(floatAt(packet, 15) - std::sin(pitch)) < 1e-4f);
        QVERIFY(std::abs(floatAt(packet, 12) - -std::sin(roll)) < 1e-4f);
        QVERIFY(std::abs(floatAt(packet, 16) - std::cos(pitch)) < 1e-4f);
        QVERIFY(std::abs(floatAt(packet, 11) - std::cos(roll)) < 1e-4f);
        const MotionTelemetrySender::PreviewState state = sender.previewState();
        QVERIFY(state.attitudeLive);
        QVERIFY(std::abs(state.pitchDeg - 10.0f) < 0.01f);
        QVERIFY(std::abs(state.rollDeg + 20.0f) < 0.01f);
    }

    void speedActsAsYawRateWithoutAttitude()
    {
        MotionTelemetrySender sender;
        sender.addUser();
        sender.setGForces(0.0f, 0.0f, 0.0f);
        sender.setSpeed(2.0f);
        tick(sender);
        QTest::qWait(20);
        tick(sender);
        // Only the direction is asserted: the step depends on the time between ticks.
        QVERIFY(sender.previewState().yawDeg > 0.0f);
        const float yaw = sender.previewState().yawDeg;
        QVERIFY(yaw >= -180.0f && yaw <= 180.0f);
    }

    void previewWithoutOutput()
    {
        PacketReader reader;
        MotionTelemetrySender sender;
        sender.setTarget(QStringLiteral("127.0.0.1"), reader.port());
        sender.addUser();
        sender.setGForces(0.0f, 1.0f, 0.0f);
        tick(sender);
        QCOMPARE(sender.previewState().lat, 0.25f);
        QVERIFY(reader.nothingWithin(50));
        QCOMPARE(sender.packetCount(), 0);
        sender.removeUser();
        sender.removeUser();
        sender.addUser();
        tick(sender);
        QVERIFY(reader.nothingWithin(50));
    }

    void timerSendsWhileEnabled()
    {
        PacketReader reader;
        MotionTelemetrySender sender;
        sender.setTarget(QStringLiteral("127.0.0.1"), reader.port());
        sender.setEnabled(true);
        // The run clock counts in seconds from enabling: let it pass half a second.
        float runTime = 0.0f;
        auto halfASecondRun = [&] {
            const QByteArray packet = reader.latest(10);
            if (!packet.isEmpty())
                runTime = floatAt(packet, 0);
            return runTime >= 0.5f;
        };
        QTRY_VERIFY_WITH_TIMEOUT(halfASecondRun(), Patience);
        QVERIFY(sender.packetCount() >= 2);
        sender.setEnabled(false);
        const int sent = sender.packetCount();
        QTest::qWait(60);
        QCOMPARE(sender.packetCount(), sent);
        // Enabling again starts the count and the run clock afresh.
        reader.drop();
        sender.setEnabled(true);
        QCOMPARE(sender.packetCount(), 0);
        tick(sender);
        QVERIFY(floatAt(reader.latest(), 0) < runTime);
    }
};

OSTRA_TEST_MAIN_CORE(TestMotionTelemetrySender)
#include "tst_motiontelemetrysender.moc"
