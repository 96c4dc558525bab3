#include "bridge/telemetrysensor.h"

#include "bridge/corvanecontroller.h"
#include "profiles/profilemanager.h"
#include "platform/storage/settingsfile.h"
#include "support/simulatedtransmitter.h"
#include "support/testenvironment.h"
#include "support/writesdone.h"

#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>

#include <memory>

using corvane::CorvaneController;
using corvane::CrsfProtocol;
using corvane::TelemetrySensor;
using ostratest::SimulatedTransmitter;

namespace {

// Generous on a loaded machine; waits end as soon as their condition holds.
constexpr int Patience = 10000;

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// id=value pairs in order, e.g. "RxBt=12.6 V|Curr=1.5 A".
QString summary(const QList<TelemetrySensor> &sensors)
{
    QStringList parts;
    for (const TelemetrySensor &s : sensors)
        parts << s.id + QLatin1Char('=') + s.value;
    return parts.join(QLatin1Char('|'));
}

QString sensorValue(const CorvaneController &controller, const QString &id)
{
    for (const TelemetrySensor &s : controller.telemetrySensors()) {
        if (s.id == id)
            return s.value;
    }
    return QStringLiteral("<none>");
}

// The float arguments of the last emission, two decimals each: "1.00 -0.50 0.25".
QString floats(const QSignalSpy &spy)
{
    QStringList out;
    for (const QVariant &v : spy.constLast())
        out << QString::number(v.toFloat() + 0.0f, 'f', 2);
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestTelemetry : public QObject
{
    Q_OBJECT

    std::unique_ptr<CorvaneController> m_controller;
    std::unique_ptr<SimulatedTransmitter> m_tx;

private slots:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("expected");
        QTest::newRow("battery, capacity unfilled") << bytes({ 0x00, 0x7E, 0x00, 0x0F, 0xFF, 0xFF, 0xFF, 80 }) << 1
                                                    << "RxBt=12.6 V|Curr=1.5 A|Bat%=80 %";
        QTest::newRow("battery too short") << bytes({ 1, 2, 3, 4, 5 }) << 0 << "";
    }

    void decode()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, level);
        QFETCH(QString, expected);
        QCOMPARE(summary(CrsfProtocol::decodeTelemetry(0x08, payload, level)), expected);
    }

    void init()
    {
        ostratest::freshDataFolder();
        corvane::SettingsFile().remove(QString());
        m_controller = std::make_unique<CorvaneController>();
        m_tx = std::make_unique<SimulatedTransmitter>();
        QSignalSpy auth(m_controller.get(), &CorvaneController::transmitterAuthorizationChanged);
        QVERIFY(m_controller->connectTransmitter(m_tx->portName(), 420000));
        QVERIFY(auth.wait(Patience));
    }

    void cleanup()
    {
        m_controller.reset();
        m_tx.reset();
    }

    // A frame without a position re-announces the last good fix, with the new satellite count.
    void gpsFrames()
    {
        QSignalSpy gps(m_controller.get(), &CorvaneController::gpsUpdated);
        QVERIFY(m_tx->sendGps(52.5, 13.4, 36.5, 90.0, 34, 9));
        QVERIFY(gps.wait(Patience));
        // Satellites count only while the car link is up.
        QVERIFY(m_tx->sendLinkStatistics(-60, -62, 100, 9));
        QVERIFY(m_tx->sendGps(0.0, 0.0, 0.0, 0.0, 0, 3));
        QVERIFY(gps.wait(Patience));
        QCOMPARE(gps.constLast().at(0).value<corvane::GpsFix>().longitude, 13.4);
        QCOMPARE(m_controller->gpsSatellites(), 3);
    }

    void framesIn_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("announced");
        QTest::addColumn<QString>("sensor");
        const QByteArray motion = SIGNAL(carMotionReceived(float, float, float));
        QTest::newRow("g-force wrapped in 0x50") << "wrapped" << motion << "1.00 -0.50 0.25" << 0x23 << "GLat=-0.50 g";
        QTest::newRow("attitude, helicopter pitch inverted")
            << "attitude inverted" << QByteArray(SIGNAL(heliAttitudeReceived(float, float, float)))
            << "-5.00 -5.00 0.00" << 0x1E << "Roll=-5.0 °";
        // Bytes 0..1 = 196: 1.96 m/s2 lateral, -0.20 g.
        QTest::newRow("battery, plain receiver: motion")
            << "battery" << motion << "0.00 -0.20 0.00" << 0x08 << "latA=1.96 m/s²";
        QTest::newRow("battery, capable receiver")
            << "battery firmware" << QByteArray(SIGNAL(telemetrySensorsUpdated())) << "" << 0x08 << "RxBt=19.6 V";
    }

    void framesIn()
    {
        QFETCH(QString, frame);
        QFETCH(QByteArray, signal);
        QFETCH(QString, args);
        QFETCH(int, announced);
        QFETCH(QString, sensor);
        CorvaneController &c = *m_controller;
        HelicopterConfig config = c.profileManager()->helicopterConfig();
        config.attitude.invertPitch = frame.contains("inverted");
        c.profileManager()->setHelicopterConfig(config);
        if (frame.contains("firmware"))
            c.profileManager()->mutableActiveProfile()->receiverCaps.firmware = QStringLiteral("4.3.0");
        QSignalSpy spy(&c, signal.constData());
        QSignalSpy motion(&c, &CorvaneController::carMotionReceived);
        QSignalSpy frames(&c, &CorvaneController::crsfFrameReceived);
        if (frame.startsWith("attitude"))
            QVERIFY(m_tx->sendAttitude(0.0873, -0.0873, 0.0)); // raw 873 is 5.00 degrees
        else if (frame.startsWith("battery"))
            QVERIFY(m_tx->sendBattery(19.6, 15.0, 1234, 80));
        else
            QVERIFY(m_tx->sendWrappedGForce(1.0, -0.5, 0.25, 10));
        QVERIFY(spy.wait(Patience));
        QCOMPARE(floats(spy), args);
        QVERIFY2(summary(c.telemetrySensors()).split('|').contains(sensor), qPrintable(summary(c.telemetrySensors())));
        // A wrapped sample is announced as the frame it carries.
        QCOMPARE(frames.count(), 1);
        QCOMPARE(frames.at(0).at(0).value<quint8>(), quint8(announced));
        QCOMPARE(motion.count(), signal.contains("carMotion") ? 1 : 0);
    }

    void sensorsRenamedRemovedDiscoveredAndSaved()
    {
        CorvaneController &c = *m_controller;
        const QList<TelemetrySensorEntry> &saved = c.profileManager()->activeProfile()->telemetrySensors;
        QVERIFY(m_tx->sendGForce(0.1, 0.2, 0.3));
        QTRY_COMPARE_WITH_TIMEOUT(c.telemetrySensors().size(), 3, Patience);
        QSignalSpy listChanged(&c, &CorvaneController::telemetrySensorListChanged);
        c.renameTelemetrySensor(QStringLiteral("GLon"), QStringLiteral("  Braking  "));
        c.renameTelemetrySensor(QStringLiteral("nope"), QStringLiteral("x"));
        QCOMPARE(saved.constFirst().name, QStringLiteral("Braking"));
        c.removeTelemetrySensor(QStringLiteral("GLon"));
        c.removeTelemetrySensor(QStringLiteral("GLon"));
        QCOMPARE(summary(c.telemetrySensors()), QStringLiteral("GLat=0.20 g|GVrt=0.30 g"));
        QCOMPARE(saved.size(), 2);
        QCOMPARE(listChanged.count(), 2);

        // With discovery off, known sensors still update and new ones are not added.
        c.setTelemetryDiscover(false);
        QVERIFY(m_tx->sendLinkStatistics(-60, -62, 100, 9));
        QVERIFY(m_tx->sendGForce(1.0, 0.5, 0.3));
        QTRY_COMPARE_WITH_TIMEOUT(summary(c.telemetrySensors()), QStringLiteral("GLat=0.50 g|GVrt=0.30 g"), Patience);
        // Discovered sensors are saved with the profile a second after the last discovery.
        c.setTelemetryDiscover(true);
        QVERIFY(m_tx->sendLinkStatistics(-60, -62, 100, 9));
        QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 12, Patience);
        QCOMPARE(saved.at(2).label, QStringLiteral("1RSS · Up RSSI ant1"));
        // A controller started later finds the list, without values.
        m_controller.reset();
        CorvaneController again;
        QCOMPARE(again.telemetrySensors().size(), 12);
        QCOMPARE(again.telemetrySensors().constFirst().value, QString());
    }

    void carLinkStaleAndBack()
    {
        CorvaneController &c = *m_controller;
        QVERIFY(m_tx->sendGForce(0.5, 0.5, 0.5));
        QTRY_COMPARE_WITH_TIMEOUT(sensorValue(c, QStringLiteral("GLon")), QStringLiteral("0.50 g"), Patience);
        QSignalSpy link(&c, &CorvaneController::carLinkChanged);
        QSignalSpy motion(&c, &CorvaneController::carMotionReceived);
        QVERIFY(m_tx->sendLinkStatistics(-60, -62, 97, 9));
        QVERIFY(link.wait(Patience));
        QVERIFY(c.isCarLinked());

        // Silence: the link drops, the sensors show zero readings and the motion returns to rest.
        QTRY_VERIFY_WITH_TIMEOUT(!c.isCarLinked(), Patience);
        QCOMPARE(link.count(), 2);
        QCOMPARE((QStringList { sensorValue(c, "RQly"), sensorValue(c, "GLon"), sensorValue(c, "1RSS") }),
                 (QStringList { "0 %", "0.00 g", "0 dBm" }));
        QCOMPARE(motion.count(), 1);
        QCOMPARE(floats(motion), QStringLiteral("0.00 0.00 0.00"));

        QVERIFY(m_tx->sendLinkStatistics(-61, -62, 88, 9));
        QVERIFY(link.wait(Patience));
        QVERIFY(c.isCarLinked());
    }

    void wrappedFrameWithOtherTagIsDropped()
    {
        CorvaneController &c = *m_controller;
        QSignalSpy frames(&c, &CorvaneController::crsfFrameReceived);
        QVERIFY(m_tx->sendFrame(0x50, bytes({ 0xEA, 0xCB, 1, 3, 0xE8, 0, 0, 0, 0 })));
        // A frame behind it shows that the first has been dealt with.
        QVERIFY(m_tx->sendLinkStatistics(-60, -60, 0, 0));
        QTRY_COMPARE_WITH_TIMEOUT(frames.count(), 1, Patience);
        QCOMPARE(frames.at(0).at(0).value<quint8>(), quint8(0x14));
        QCOMPARE(c.telemetrySensors().size(), 10);
    }
};

OSTRA_TEST_MAIN_CORE(TestTelemetry)
#include "tst_telemetry.moc"
