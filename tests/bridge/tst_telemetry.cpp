#include "bridge/telemetrysensor.h"

#include "support/testenvironment.h"

#include <QMap>

using corvane::TelemetrySensor;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// id=value pairs in decoding order, e.g. "RxBt=12.6 V|Curr=1.5 A".
QString summary(const QList<TelemetrySensor> &sensors)
{
    QStringList parts;
    for (const TelemetrySensor &s : sensors)
        parts << s.id + QLatin1Char('=') + s.value;
    return parts.join(QLatin1Char('|'));
}

} // namespace

class TestTelemetry : public QObject
{
    Q_OBJECT
private slots:
    void decode_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("expected");

        QTest::newRow("link statistics")
            << 0x14 << bytes({ 60, 0xC0, 98, 0xF6, 1, 4, 3, 70, 100, 8 }) << 1
            << "1RSS=-60 dBm|2RSS=-64 dBm|RQly=98 %|RSNR=-10 dB|ANT=1|RFMD=4|TPWR=100 mW|TRSS=-70 dBm|TQly=100 %|TSNR=8 dB";
        QTest::newRow("power index past the table")
            << 0x14 << bytes({ 0, 0, 0, 0, 0, 0, 12, 0, 0, 0 }) << 1
            << "1RSS=0 dBm|2RSS=0 dBm|RQly=0 %|RSNR=0 dB|ANT=0|RFMD=0|TPWR=12|TRSS=0 dBm|TQly=0 %|TSNR=0 dB";
        QTest::newRow("link statistics too short") << 0x14 << bytes({ 1, 2, 3, 4, 5, 6, 7, 8, 9 }) << 1 << "";
        // 52.5 N, 13.4 E, 36.5 km/h, heading 90.00, 1034 - 1000 m, 9 satellites.
        QTest::newRow("gps")
            << 0x02 << bytes({ 0x1F, 0x4A, 0xDD, 0x40, 0x07, 0xFC, 0xAD, 0x80, 0x01, 0x6D, 0x23, 0x28, 0x04, 0x0A, 9 }) << 1
            << "GPS=52.500000, 13.400000|GSpd=36.5 km/h|Hdg=90 °|GAlt=34 m|Sats=9";
        QTest::newRow("gps without position")
            << 0x02 << bytes({ 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0x03, 0xE8, 4 }) << 1
            << "GPS=No fix|GSpd=1.0 km/h|Hdg=0 °|GAlt=0 m|Sats=4";
        QTest::newRow("g-force")
            << 0x23 << bytes({ 7, 0x03, 0xE8, 0xFE, 0x0C, 0x00, 0x00 }) << 1 << "GLon=1.00 g|GLat=-0.50 g|GVrt=0.00 g";
        QTest::newRow("attitude")
            << 0x1E << bytes({ 0x03, 0x69, 0xFC, 0x97, 0x00, 0x00 }) << 1 << "Ptch=5.0 °|Roll=-5.0 °|Yaw=0.0 °";
        const QByteArray battery = bytes({ 0x00, 0x7E, 0x00, 0x0F, 0x00, 0x04, 0xD2, 80 });
        QTest::newRow("battery reading")
            << 0x08 << battery << 1 << "RxBt=12.6 V|Curr=1.5 A|Capa=1234 mAh|Bat%=80 %";
        QTest::newRow("battery, capacity unfilled")
            << 0x08 << bytes({ 0x00, 0x7E, 0x00, 0x0F, 0xFF, 0xFF, 0xFF, 80 }) << 1 << "RxBt=12.6 V|Curr=1.5 A|Bat%=80 %";
        QTest::newRow("battery, percent unfilled")
            << 0x08 << bytes({ 0x00, 0x7E, 0x00, 0x0F, 0x00, 0x04, 0xD2, 0xFF }) << 1
            << "RxBt=12.6 V|Curr=1.5 A|Capa=1234 mAh";
        QTest::newRow("motion reading at level 0")
            << 0x08 << battery << 0 << "latA=1.26 m/s²|yawR=0.15 rad/s|jerk=0.4 m/s³|Curr=8.0 A";
        QTest::newRow("motion reading of six bytes")
            << 0x08 << bytes({ 0xFF, 0x9C, 0x00, 0x64, 0xFF, 0xF6 }) << 2 << "latA=-1.00 m/s²|yawR=1.00 rad/s|jerk=-1.0 m/s³";
        QTest::newRow("g reading at level 2")
            << 0x08 << bytes({ 0x00, 0x0A, 0xFF, 0xFB, 0xFF, 0xFC, 0x18, 55 }) << 2
            << "RxBt=1.0 g|Curr=-0.5 g|Capa=-1.00 g|Bat%=55 %";
        QTest::newRow("battery too short") << 0x08 << bytes({ 1, 2, 3, 4, 5 }) << 0 << "";
        QTest::newRow("rc channels make no sensors") << 0x16 << QByteArray(22, '\0') << 1 << "";
    }

    void decode()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, payload);
        QFETCH(int, level);
        QFETCH(QString, expected);
        const QList<TelemetrySensor> sensors = corvane::decodeTelemetry(quint8(type), payload, level);
        QCOMPARE(summary(sensors), expected);
        for (const TelemetrySensor &s : sensors) {
            QVERIFY(s.label.startsWith(s.id + QStringLiteral(" · ")));
            QVERIFY(s.name.isEmpty());
            QCOMPARE(s.lastUpdateMs, qint64(0));
        }
    }
};

OSTRA_TEST_MAIN_CORE(TestTelemetry)
#include "tst_telemetry.moc"
