#include "bridge/motiontelemetrysender.h"

#include "platform/storage/settingsfile.h"
#include "support/netnamespaces.h"
#include "support/testenvironment.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtEndian>

#include <cmath>
#include <memory>

using corvane::MotionTelemetrySender;

namespace {

// Generous on a loaded machine; waits end as soon as their condition holds.
constexpr int Patience = 10000;

// NaN when the packet is too short to hold the float, so a missing packet fails the comparison.
float floatAt(const QByteArray &packet, int index)
{
    if (packet.size() < 4 * (index + 1))
        return std::nanf("");
    return qFromLittleEndian<float>(packet.constData() + 4 * index);
}

} // namespace

class TestMotionTelemetrySender : public QObject
{
    Q_OBJECT

    // Listens on 127.0.0.1 at a free port.
    QUdpSocket m_socket;
    std::unique_ptr<MotionTelemetrySender> m_sender;

    // The newest datagram waiting, after the sender wrote at least one; empty on time-out.
    QByteArray latest(int timeoutMs = Patience)
    {
        if (!m_socket.hasPendingDatagrams() && !m_socket.waitForReadyRead(timeoutMs))
            return {};
        QByteArray last;
        while (m_socket.hasPendingDatagrams())
            last = m_socket.receiveDatagram().data();
        return last;
    }

    // One run of the 16 ms timer, written out at once.
    QByteArray tick()
    {
        QMetaObject::invokeMethod(m_sender.get(), "sendPacket");
        return latest();
    }

    // A sender that writes to this test's socket.
    MotionTelemetrySender &enabled()
    {
        m_sender->setTarget(QStringLiteral("127.0.0.1"), m_socket.localPort());
        m_sender->setEnabled(true);
        return *m_sender;
    }

private slots:
    void initTestCase() { QVERIFY(m_socket.bind(QHostAddress::LocalHost, 0)); }

    void init()
    {
        corvane::SettingsFile().remove(QStringLiteral("motionTelemetry"));
        while (m_socket.hasPendingDatagrams())
            m_socket.receiveDatagram();
        m_sender = std::make_unique<MotionTelemetrySender>();
    }

    void cleanup() { m_sender.reset(); }

    void settingsSurviveRestart()
    {
        QSignalSpy changed(m_sender.get(), &MotionTelemetrySender::enabledChanged);
        m_sender->setTarget(QStringLiteral("127.0.0.5"), 4321);
        m_sender->setEnabled(true);
        m_sender->setEnabled(true);
        QCOMPARE(changed.count(), 1);
        m_sender.reset();
        QCOMPARE(corvane::SettingsFile().value(QStringLiteral("motionTelemetry/port")).toUInt(), 4321u);
        MotionTelemetrySender again;
        QVERIFY(again.isEnabled());
        QCOMPARE(again.host(), QStringLiteral("127.0.0.5"));
    }

    void packetFields_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("provider");
        QTest::addColumn<float>("throttle");
        QTest::addColumn<int>("gear");
        QTest::addColumn<float>("gearValue");
        QTest::addColumn<float>("engineRate");
        // A host that is no address falls back to 127.0.0.1.
        QTest::newRow("no controls, empty host") << "" << false << 0.0f << 0 << 0.0f << 100.0f;
        QTest::newRow("reverse full throttle, host name") << "localhost" << true << 1.0f << -1 << 10.0f << 800.0f;
        QTest::newRow("third half throttle, bad address") << "300.1.2.3" << true << 0.5f << 3 << 3.0f << 450.0f;
    }

    void packetFields()
    {
        QFETCH(QString, host);
        QFETCH(bool, provider);
        QFETCH(float, throttle);
        QFETCH(int, gear);
        QFETCH(float, gearValue);
        QFETCH(float, engineRate);
        if (provider) {
            m_sender->setControlsProvider([=] {
                return MotionTelemetrySender::Controls { -0.5f, throttle, 0.75f, 0.125f, gear };
            });
        }
        m_sender->setTarget(host, m_socket.localPort());
        m_sender->setEnabled(true);
        const QByteArray packet = tick();
        QCOMPARE(packet.size(), 264);
        // Run time twice, level car heading straight (orientation vectors on the axes), the
        // controls, engine limits and gear count; every slot the layout leaves alone is zero.
        QCOMPARE(floatAt(packet, 0), floatAt(packet, 1));
        const QHash<int, float> expected { { 11, 1.0f }, { 16, 1.0f }, { 29, throttle },
                                           { 30, provider ? -0.5f : 0.0f }, { 31, provider ? 0.75f : 0.0f },
                                           { 32, provider ? 0.125f : 0.0f }, { 33, gearValue }, { 37, engineRate },
                                           { 63, 800.0f }, { 64, 100.0f }, { 65, 6.0f } };
        for (int i = 2; i < 66; ++i)
            QVERIFY2(floatAt(packet, i) == expected.value(i, 0.0f), qPrintable(QString::number(i)));
    }

    void gForcesSmoothedAndDecaying()
    {
        MotionTelemetrySender &sender = enabled();
        float lon = 0.0f, lat = 0.0f;
        for (int i = 0; i < 4; ++i) {
            // A sample older than 300 ms counts as none: one per tick keeps a slow machine fresh.
            sender.setGForces(1.0f, -2.0f, 0.5f);
            const QByteArray packet = tick();
            lon += (1.0f - lon) * 0.25f;
            lat += (-2.0f - lat) * 0.25f;
            QCOMPARE(floatAt(packet, 35), lon);
            QCOMPARE(floatAt(packet, 34), lat);
        }
        QVERIFY(sender.previewState().gForcesLive);
        // Staleness is judged by the age of the last sample; there is no other clock to move.
        QTest::qWait(320);
        QVERIFY(!sender.previewState().gForcesLive);
        for (int i = 0; i < 3; ++i) {
            const float before = sender.previewState().lon;
            QCOMPARE(floatAt(tick(), 35), before * 0.75f);
        }
    }

    void timerSendsWhileEnabled()
    {
        MotionTelemetrySender &sender = enabled();
        // The run clock counts in seconds from enabling: let it pass half a second.
        float runTime = 0.0f;
        QTRY_VERIFY_WITH_TIMEOUT((runTime = std::max(runTime, floatAt(latest(10), 0))) >= 0.5f, Patience);
        sender.setEnabled(false);
        const int sent = sender.packetCount();
        QVERIFY(sent >= 2);
        QTest::qWait(60);
        QCOMPARE(sender.packetCount(), sent);
        // Datagrams sent before the switch-off may still wait in the socket.
        latest(0);
        // Enabling again starts the count and the run clock afresh.
        sender.setEnabled(true);
        QCOMPARE(sender.packetCount(), 0);
        QVERIFY(floatAt(tick(), 0) < runTime);
    }

    // A datagram that cannot leave is counted as nothing and named; a new target starts afresh.
    void sendFailureNamed_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("failure");
        QTest::newRow("no route") << "192.168.1.20" << "network unreachable";
        QTest::newRow("IPv6, no route") << "2001:db8::20" << "network unreachable";
        QTest::newRow("this PC") << "127.0.0.1" << "";
    }

    void sendFailureNamed()
    {
        QFETCH(QString, host);
        QFETCH(QString, failure);
        // Loopback alone, as on a PC off every network.
        const ostratest::OwnLoopback loopbackOnly;
        if (!loopbackOnly.entered())
            QSKIP("needs root for a network namespace of its own");
        MotionTelemetrySender sender;
        sender.setTarget(host, 20777);
        sender.setEnabled(true);
        QMetaObject::invokeMethod(&sender, "sendPacket");
        QCOMPARE(sender.sendFailure(), failure);
        QCOMPARE(sender.packetCount(), failure.isEmpty() ? 1 : 0);
        sender.setTarget(QStringLiteral("127.0.0.1"), 20777);
        QCOMPARE(sender.sendFailure(), QString());
        QMetaObject::invokeMethod(&sender, "sendPacket");
        QCOMPARE(sender.sendFailure(), QString());
        sender.setEnabled(false);
    }
};

OSTRA_TEST_MAIN_CORE(TestMotionTelemetrySender)
#include "tst_motiontelemetrysender.moc"
