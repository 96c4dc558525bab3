#include "bridge/crsfprotocol.h"

namespace corvane {

namespace {

constexpr double RadToDeg = 57.29577951308232;
// CRSF transmit power index -> mW.
constexpr int PowerTableMw[] = { 0, 10, 25, 100, 500, 1000, 2000, 250, 50 };

void addSensor(QList<TelemetrySensor> &list, const char *id, const QString &label, const QString &value)
{
    TelemetrySensor sensor;
    sensor.id = QString::fromLatin1(id);
    sensor.label = label;
    sensor.value = value;
    list.append(sensor);
}

// A field the sender left unfilled is all 0xFF.
bool allFF(const QByteArray &payload, int start, int count)
{
    for (int i = start; i < start + count; ++i) {
        if (i >= payload.size() || quint8(payload.at(i)) != 0xFF)
            return false;
    }
    return true;
}

int s16(const QByteArray &p, int at)
{
    return int(qint16(quint16(CrsfProtocol::readBe16(p, at))));
}

int u16(const QByteArray &p, int at)
{
    return CrsfProtocol::readBe16(p, at);
}

int u24(const QByteArray &p, int at)
{
    return (int(quint8(p.at(at))) << 16) | (int(quint8(p.at(at + 1))) << 8) | int(quint8(p.at(at + 2)));
}

int s24(const QByteArray &p, int at)
{
    const int v = u24(p, at);
    return (v & 0x800000) ? v - 0x1000000 : v;
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString unit(const char *format, const QString &number)
{
    return QString::fromUtf8(format).arg(number);
}

QString label(const char *text)
{
    return QString::fromUtf8(text);
}

void decodeLinkStatistics(QList<TelemetrySensor> &out, const QByteArray &payload)
{
    const LinkStatistics s = CrsfProtocol::parseLinkStatistics(payload);
    addSensor(out, "1RSS", label("1RSS · Up RSSI ant1"), unit("%1 dBm", QString::number(s.uplinkRssi1)));
    addSensor(out, "2RSS", label("2RSS · Up RSSI ant2"), unit("%1 dBm", QString::number(s.uplinkRssi2)));
    addSensor(out, "RQly", label("RQly · Up link quality"), unit("%1 %", QString::number(s.linkQuality)));
    addSensor(out, "RSNR", label("RSNR · Up SNR"), unit("%1 dB", QString::number(s.snr)));
    addSensor(out, "ANT", label("ANT · Active antenna"), QString::number(s.antenna));
    addSensor(out, "RFMD", label("RFMD · RF mode"), QString::number(s.rfMode));
    const int powers = int(sizeof PowerTableMw / sizeof PowerTableMw[0]);
    addSensor(out, "TPWR", label("TPWR · TX power"),
              s.txPower < powers ? unit("%1 mW", QString::number(PowerTableMw[s.txPower])) : QString::number(s.txPower));
    addSensor(out, "TRSS", label("TRSS · Down RSSI"), unit("%1 dBm", QString::number(s.downlinkRssi)));
    addSensor(out, "TQly", label("TQly · Down link quality"), unit("%1 %", QString::number(s.downlinkLinkQuality)));
    addSensor(out, "TSNR", label("TSNR · Down SNR"), unit("%1 dB", QString::number(s.downlinkSnr)));
}

void decodeGps(QList<TelemetrySensor> &out, const QByteArray &payload)
{
    const GpsFix fix = CrsfProtocol::parseGps(payload);
    addSensor(out, "GPS", label("GPS · Position"),
              fix.valid ? QStringLiteral("%1, %2").arg(fixed(fix.latitude, 6), fixed(fix.longitude, 6))
                        : QStringLiteral("No fix"));
    addSensor(out, "GSpd", label("GSpd · GPS speed"), unit("%1 km/h", fixed(fix.speedKmh, 1)));
    addSensor(out, "Hdg", label("Hdg · Course"), unit("%1 °", fixed(fix.headingDeg, 0)));
    addSensor(out, "GAlt", label("GAlt · Altitude"), unit("%1 m", QString::number(fix.altitudeM)));
    addSensor(out, "Sats", label("Sats · Satellites"), QString::number(fix.satellites));
}

void decodeGForce(QList<TelemetrySensor> &out, const QByteArray &p)
{
    addSensor(out, "GLon", label("GLon · Longitudinal G"), unit("%1 g", fixed(s16(p, 1) / 1000.0, 2)));
    addSensor(out, "GLat", label("GLat · Lateral G"), unit("%1 g", fixed(s16(p, 3) / 1000.0, 2)));
    addSensor(out, "GVrt", label("GVrt · Vertical G"), unit("%1 g", fixed(s16(p, 5) / 1000.0, 2)));
}

void decodeAttitude(QList<TelemetrySensor> &out, const QByteArray &p)
{
    auto degrees = [&](int at) { return unit("%1 °", fixed(s16(p, at) / 10000.0 * RadToDeg, 1)); };
    addSensor(out, "Ptch", label("Ptch · Pitch"), degrees(0));
    addSensor(out, "Roll", label("Roll · Roll"), degrees(2));
    addSensor(out, "Yaw", label("Yaw · Yaw"), degrees(4));
}

void decodeBattery(QList<TelemetrySensor> &out, const QByteArray &p, int motionLevel)
{
    const int size = int(p.size());
    if (size < 6)
        return;
    if (size < 8 || motionLevel == 0) {
        addSensor(out, "latA", label("latA · Lateral accel"), unit("%1 m/s²", fixed(s16(p, 0) / 100.0, 2)));
        addSensor(out, "yawR", label("yawR · Yaw rate"), unit("%1 rad/s", fixed(s16(p, 2) / 100.0, 2)));
        addSensor(out, "jerk", label("jerk · Lateral jerk"), unit("%1 m/s³", fixed(s16(p, 4) / 10.0, 1)));
        if (size >= 8)
            addSensor(out, "Curr", label("Curr · Current"), unit("%1 A", fixed(quint8(p.at(7)) / 10.0, 1)));
        return;
    }
    if (motionLevel == 2) {
        if (!allFF(p, 0, 2))
            addSensor(out, "RxBt", label("RxBt · Longitudinal G (radio copy)"), unit("%1 g", fixed(s16(p, 0) / 10.0, 1)));
        if (!allFF(p, 2, 2))
            addSensor(out, "Curr", label("Curr · Lateral G (radio copy)"), unit("%1 g", fixed(s16(p, 2) / 10.0, 1)));
        if (!allFF(p, 4, 3))
            addSensor(out, "Capa", label("Capa · Vertical G (radio copy)"), unit("%1 g", fixed(s24(p, 4) / 1000.0, 2)));
    } else if (motionLevel == 1) {
        if (!allFF(p, 0, 2))
            addSensor(out, "RxBt", label("RxBt · Battery voltage"), unit("%1 V", fixed(u16(p, 0) / 10.0, 1)));
        if (!allFF(p, 2, 2))
            addSensor(out, "Curr", label("Curr · Current"), unit("%1 A", fixed(u16(p, 2) / 10.0, 1)));
        if (!allFF(p, 4, 3))
            addSensor(out, "Capa", label("Capa · Used capacity"), unit("%1 mAh", QString::number(u24(p, 4))));
    } else {
        return;
    }
    if (!allFF(p, 7, 1))
        addSensor(out, "Bat%", label("Bat% · Battery"), unit("%1 %", QString::number(quint8(p.at(7)))));
}

} // namespace

QList<TelemetrySensor> CrsfProtocol::decodeTelemetry(quint8 frameType, const QByteArray &payload,
                                                    int motionLevel)
{
    QList<TelemetrySensor> out;
    const int size = int(payload.size());
    switch (frameType) {
    case CrsfProtocol::FrameLinkStatistics:
        if (size >= 10)
            decodeLinkStatistics(out, payload);
        break;
    case CrsfProtocol::FrameGps:
        if (size >= 15)
            decodeGps(out, payload);
        break;
    case CrsfProtocol::FrameGForce:
        if (size >= 7)
            decodeGForce(out, payload);
        break;
    case CrsfProtocol::FrameAttitude:
        if (size >= 6)
            decodeAttitude(out, payload);
        break;
    case CrsfProtocol::FrameBattery:
        decodeBattery(out, payload, motionLevel);
        break;
    default:
        break;
    }
    return out;
}

} // namespace corvane
