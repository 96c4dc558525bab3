#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <array>
#include <cmath>
#include <limits>

#include "bridge/crsfprotocol.h"
#include "support/testenvironment.h"

using corvane::CrsfProtocol;

namespace {

using Channels = std::array<qint32, 16>;

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Bit by bit, independent of the codec's table.
quint8 referenceCrc(const QByteArray &bytes)
{
    quint8 crc = 0;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) ? quint8((crc << 1) ^ 0xD5) : quint8(crc << 1);
    }
    return crc;
}

// A frame without addresses, as the transmitter sends telemetry.
QByteArray plainFrame(quint8 type, const QByteArray &payload, quint8 sync = 0xC8)
{
    QByteArray body;
    body.append(char(type));
    body.append(payload);
    QByteArray frame;
    frame.append(char(sync));
    frame.append(char(quint8(body.size() + 1)));
    frame.append(body);
    frame.append(char(referenceCrc(body)));
    return frame;
}

Channels unpack(const QByteArray &frame)
{
    Channels channels {};
    for (int ch = 0; ch < 16; ++ch) {
        int value = 0;
        for (int bit = 0; bit < 11; ++bit) {
            const int at = ch * 11 + bit;
            if (quint8(frame.at(3 + at / 8)) & (1 << (at % 8)))
                value |= 1 << bit;
        }
        channels[size_t(ch)] = value;
    }
    return channels;
}

Channels filled(qint32 value)
{
    Channels channels;
    channels.fill(value);
    return channels;
}

// Every accepted frame as (type, payload), in order.
struct FrameLog
{
    explicit FrameLog(CrsfProtocol &codec)
    {
        QObject::connect(&codec, &CrsfProtocol::frameReceived,
                         [this](quint8 type, const QByteArray &payload) {
                             frames.append(QByteArray(1, char(type)) + payload);
                         });
    }
    QList<QByteArray> frames;
};

} // namespace

Q_DECLARE_METATYPE(Channels)

class TestCrsfProtocol : public QObject
{
    Q_OBJECT
private slots:
    void knownFrames_data()
    {
        QTest::addColumn<QByteArray>("built");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("all channels centred")
            << CrsfProtocol::buildRcChannelsFrame(filled(992))
            << hex("C81816E0031FF8C0073EF0810F7CE0031FF8C0073EF0810F7CAD");
        QTest::newRow("device ping") << CrsfProtocol::buildDevicePing(0x00, 0xEA)
                                     << hex("C8042800EA54");
    }

    void knownFrames()
    {
        QFETCH(QByteArray, built);
        QFETCH(QByteArray, expected);
        QCOMPARE(built.toHex(' '), expected.toHex(' '));
    }

    void extendedFrames_data()
    {
        QTest::addColumn<QByteArray>("built");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("parameter read")
            << CrsfProtocol::buildParameterRead(7, 2, 0xC8, 0xEF) << hex("2CC8EF0702");
        QTest::newRow("parameter write")
            << CrsfProtocol::buildParameterWrite(12, hex("0304"), 0xC8, 0xEF) << hex("2DC8EF0C0304");
        QTest::newRow("parameter write, no value")
            << CrsfProtocol::buildParameterWrite(12, QByteArray(), 0xEE, 0xEA) << hex("2DEEEA0C");
        QTest::newRow("generic, long payload")
            << CrsfProtocol::buildFrame(0x29, 0xEA, 0xEE, QByteArray(40, 'x'))
            << hex("29EAEE") + QByteArray(40, 'x');
    }

    void extendedFrames()
    {
        QFETCH(QByteArray, built);
        QFETCH(QByteArray, body);
        QCOMPARE(built.size(), body.size() + 3);
        QCOMPARE(quint8(built.at(0)), quint8(0xC8));
        QCOMPARE(int(quint8(built.at(1))), body.size() + 1);
        QCOMPARE(built.mid(2, body.size()).toHex(' '), body.toHex(' '));
        QCOMPARE(quint8(built.back()), referenceCrc(body));
    }

    void channelPacking_data()
    {
        QTest::addColumn<Channels>("channels");
        QTest::addColumn<Channels>("sent");
        Channels ramp;
        for (int i = 0; i < 16; ++i)
            ramp[size_t(i)] = i * 131;
        Channels alternating;
        for (int i = 0; i < 16; ++i)
            alternating[size_t(i)] = (i % 2) ? 2047 : 0;
        Channels outOfRange = filled(992);
        outOfRange[0] = -5;
        outOfRange[1] = 3000;
        outOfRange[15] = std::numeric_limits<qint32>::min();
        outOfRange[14] = std::numeric_limits<qint32>::max();
        Channels clamped = outOfRange;
        clamped[0] = 0;
        clamped[1] = 2047;
        clamped[15] = 0;
        clamped[14] = 2047;
        QTest::newRow("zeros") << filled(0) << filled(0);
        QTest::newRow("full") << filled(2047) << filled(2047);
        QTest::newRow("stick limits") << filled(172) << filled(172);
        QTest::newRow("ramp") << ramp << ramp;
        QTest::newRow("alternating") << alternating << alternating;
        QTest::newRow("out of range is clamped") << outOfRange << clamped;
    }

    void channelPacking()
    {
        QFETCH(Channels, channels);
        QFETCH(Channels, sent);
        const QByteArray frame = CrsfProtocol::buildRcChannelsFrame(channels);
        QCOMPARE(frame.size(), 26);
        QCOMPARE(frame.left(3), hex("C81816"));
        QCOMPARE(quint8(frame.back()), referenceCrc(frame.mid(2, 23)));
        QCOMPARE(unpack(frame), sent);

        char raw[CrsfProtocol::RcChannelsFrameSize];
        CrsfProtocol::buildRcChannelsFrame(channels, raw);
        QCOMPARE(QByteArray(raw, sizeof raw), frame);

        // What goes out comes back through the parser unchanged.
        CrsfProtocol codec;
        FrameLog log(codec);
        codec.feed(frame);
        QCOMPARE(log.frames, QList<QByteArray>{frame.mid(2, 23)});
    }

    void conversions_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<double>("input");
        QTest::addColumn<int>("expected");
        const auto row = [](const char *fn, double in, int out) {
            QTest::addRow("%s(%g)", fn, in) << QString::fromLatin1(fn) << in << out;
        };
        row("bipolar", 0.0, 992);
        row("bipolar", 1.0, 1811);
        row("bipolar", -1.0, 173);
        row("bipolar", 5.0, 1811);
        row("bipolar", -7.5, 173);
        row("bipolar", 0.8, 1648);
        row("bipolar", 0.5, 1402);
        row("unipolar", 0.0, 172);
        row("unipolar", 1.0, 1811);
        row("unipolar", 0.5, 992);
        row("unipolar", -1.0, 172);
        row("unipolar", 2.0, 1811);
        row("toMicroseconds", 992, 1500);
        row("toMicroseconds", 172, 988);
        row("toMicroseconds", 1811, 2012);
        row("toMicroseconds", 0, 880);
        row("toMicroseconds", 2047, 2159);
        row("toMicroseconds", 1, 881);
        row("toMicroseconds", 4, 883);
        row("fromMicroseconds", 1500, 992);
        row("fromMicroseconds", 800, 0);
        row("fromMicroseconds", 2300, 2047);
        row("fromMicroseconds", 988, 173);
        row("fromMicroseconds", 2012, 1811);
        row("fromMicroseconds", 881, 2);
        row("axis", -1.0, 0);
        row("axis", 1.0, 2047);
        row("axis", 0.0, 1023);
        row("axis", -0.5, 511);
        row("axis", 0.5, 1535);
        row("axis", 1.5, 2558);
    }

    void conversions()
    {
        QFETCH(QString, function);
        QFETCH(double, input);
        QFETCH(int, expected);
        int actual = -1;
        if (function == "bipolar")
            actual = CrsfProtocol::bipolarToCrsf(float(input));
        else if (function == "unipolar")
            actual = CrsfProtocol::unipolarToCrsf(float(input));
        else if (function == "toMicroseconds")
            actual = CrsfProtocol::crsfToMicroseconds(int(input));
        else if (function == "fromMicroseconds")
            actual = CrsfProtocol::microsecondsToCrsf(int(input));
        else if (function == "axis")
            actual = CrsfProtocol::axisToRaw11(float(input));
        QCOMPARE(actual, expected);
    }

    void notANumberIsNeutral()
    {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        QCOMPARE(CrsfProtocol::bipolarToCrsf(nan), 992);
        QCOMPARE(CrsfProtocol::unipolarToCrsf(nan), 172);
    }

    void readBe16_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("expected");
        QTest::newRow("start") << hex("1234") << 0 << 0x1234;
        QTest::newRow("unsigned") << hex("00FFFE") << 1 << 0xFFFE;
        QTest::newRow("last pair") << hex("000102") << 1 << 0x0102;
        QTest::newRow("one byte short") << hex("000102") << 2 << 0;
        QTest::newRow("empty") << QByteArray() << 0 << 0;
        QTest::newRow("negative offset") << hex("1234") << -1 << 0;
    }

    void readBe16()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, offset);
        QFETCH(int, expected);
        QCOMPARE(CrsfProtocol::readBe16(payload, offset), expected);
    }

    void linkStatistics_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QList<int>>("fields");
        // rssi1, rssi2, lq, snr, antenna, rfMode, txPower, downRssi, downLq, downSnr
        QTest::newRow("magnitudes") << hex("4050640A0103024864F6")
                                    << QList<int>{-64, -80, 100, 10, 1, 3, 2, -72, 100, -10};
        QTest::newRow("signed bytes") << hex("C0B0320000010481FF7F")
                                      << QList<int>{-64, -80, 50, 0, 0, 1, 4, -127, 255, 127};
        QTest::newRow("zero rssi stays zero") << hex("00000000000000000000")
                                              << QList<int>(10, 0);
        QTest::newRow("most negative magnitude") << hex("7F800000000000010000")
                                                 << QList<int>{-127, -128, 0, 0, 0, 0, 0, -1, 0, 0};
        QTest::newRow("short payload is zeros") << hex("405064") << QList<int>(10, 0);
    }

    void linkStatistics()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QList<int>, fields);
        const auto check = [&](const corvane::LinkStatistics &s) {
            const QList<int> actual {s.uplinkRssi1, s.uplinkRssi2, s.linkQuality, s.snr,
                                     s.antenna, s.rfMode, s.txPower, s.downlinkRssi,
                                     s.downlinkLinkQuality, s.downlinkSnr};
            QCOMPARE(actual, fields);
        };
        check(CrsfProtocol::parseLinkStatistics(payload));
        if (QTest::currentTestFailed())
            return;

        CrsfProtocol codec;
        QSignalSpy spy(&codec, &CrsfProtocol::linkStatisticsReceived);
        codec.feed(plainFrame(0x14, payload));
        QCOMPARE(spy.size(), 1);
        check(spy.at(0).at(0).value<corvane::LinkStatistics>());
    }

    void battery_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<float>("voltage");
        QTest::addColumn<float>("current");
        QTest::addColumn<uint>("capacity");
        QTest::addColumn<int>("remaining");
        QTest::newRow("typical") << hex("00A5003201F45A") + hex("4B") << 16.5f << 5.0f << 128090u << 75;
        QTest::newRow("maximum") << hex("FFFFFFFFFFFFFFFF") << 6553.5f << 6553.5f << 0xFFFFFFu << 255;
        QTest::newRow("longer payload") << hex("007B000A0000640099") << 12.3f << 1.0f << 100u << 0;
        QTest::newRow("short payload is zeros") << hex("00A5003201F45A") << 0.0f << 0.0f << 0u << 0;
    }

    void battery()
    {
        QFETCH(QByteArray, payload);
        QFETCH(float, voltage);
        QFETCH(float, current);
        QFETCH(uint, capacity);
        QFETCH(int, remaining);
        CrsfProtocol codec;
        QSignalSpy spy(&codec, &CrsfProtocol::batterySensorReceived);
        codec.feed(plainFrame(0x08, payload));
        QCOMPARE(spy.size(), 1);
        const auto battery = spy.at(0).at(0).value<corvane::BatterySensor>();
        QCOMPARE(battery.voltage, voltage);
        QCOMPARE(battery.current, current);
        QCOMPARE(uint(battery.capacity), capacity);
        QCOMPARE(int(battery.remaining), remaining);
    }

    void gps_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("latitude");
        QTest::addColumn<double>("longitude");
        QTest::addColumn<float>("speed");
        QTest::addColumn<float>("heading");
        QTest::addColumn<int>("altitude");
        QTest::addColumn<int>("satellites");
        // 52.5200000, 13.4050000; 123.4 km/h; 271.15 deg; 1034 - 1000 m; 9 satellites
        QTest::newRow("fix") << hex("1F4DEA80 07FD70D0 04D2 69EB 040A 09")
                             << true << 52.52 << 13.405 << 123.4f << 271.15f << 34 << 9;
        QTest::newRow("southern, western, below zero")
            << hex("E0B21580 F8028F30 0000 0000 0000 04")
            << true << -52.52 << -13.405 << 0.0f << 0.0f << -1000 << 4;
        QTest::newRow("both coordinates zero") << hex("00000000 00000000 0064 0000 03F2 00")
                                               << false << 0.0 << 0.0 << 10.0f << 0.0f << 10 << 0;
        QTest::newRow("latitude 91") << hex("363D7F80 00000000 0000 0000 03E8 05")
                                     << false << 91.0 << 0.0 << 0.0f << 0.0f << 0 << 5;
        QTest::newRow("longitude -180 is valid") << hex("00000001 94B62E00 0000 0000 03E8 05")
                                                 << true << 1e-7 << -180.0 << 0.0f << 0.0f << 0 << 5;
        QTest::newRow("short payload") << hex("1F4DEA80 07FD70D0 04D2 69EB 040A")
                                       << false << 0.0 << 0.0 << 0.0f << 0.0f << 0 << 0;
    }

    void gps()
    {
        QFETCH(QByteArray, payload);
        QFETCH(bool, valid);
        QFETCH(double, latitude);
        QFETCH(double, longitude);
        QFETCH(float, speed);
        QFETCH(float, heading);
        QFETCH(int, altitude);
        QFETCH(int, satellites);
        const corvane::GpsFix fix = CrsfProtocol::parseGps(payload);
        QCOMPARE(fix.valid, valid);
        QCOMPARE(fix.latitude, latitude);
        QCOMPARE(fix.longitude, longitude);
        QCOMPARE(fix.speedKmh, speed);
        QCOMPARE(fix.headingDeg, heading);
        QCOMPARE(fix.altitudeM, altitude);
        QCOMPARE(int(fix.satellites), satellites);
    }

    void gForce_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("sequence");
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        QTest::addColumn<float>("z");
        QTest::newRow("signed") << hex("2A 04D2 FB2E 03E8") << true << 42 << 1.234f << -1.234f << 1.0f;
        QTest::newRow("extremes") << hex("FF 7FFF 8000 0000") << true << 255 << 32.767f << -32.768f
                                  << 0.0f;
        QTest::newRow("short") << hex("2A 04D2 FB2E 03") << false << 0 << 0.0f << 0.0f << 0.0f;
    }

    void gForce()
    {
        QFETCH(QByteArray, payload);
        QFETCH(bool, valid);
        QFETCH(int, sequence);
        QFETCH(float, x);
        QFETCH(float, y);
        QFETCH(float, z);
        const corvane::GForceSample sample = CrsfProtocol::parseGForceFrame(payload);
        QCOMPARE(sample.valid, valid);
        QCOMPARE(int(sample.sequence), sequence);
        QCOMPARE(sample.x, x);
        QCOMPARE(sample.y, y);
        QCOMPARE(sample.z, z);
    }

    void signalsOfOneFrame_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QStringList>("emitted");
        QTest::newRow("parameter entry") << plainFrame(0x2B, hex("EAEE0501"), 0xEA)
                                         << QStringList{"extended 2b ea ee 05 01", "frame 2b ea ee 05 01"};
        QTest::newRow("ping") << CrsfProtocol::buildDevicePing(0x00, 0xEA)
                              << QStringList{"extended 28 00 ea", "frame 28 00 ea"};
        QTest::newRow("device info, one byte") << plainFrame(0x29, hex("EA"), 0xEE)
                                               << QStringList{"frame 29 ea"};
        QTest::newRow("device info, empty") << plainFrame(0x29, QByteArray())
                                            << QStringList{"frame 29"};
        QTest::newRow("0x2A is not extended") << plainFrame(0x2A, hex("EAEE01"))
                                              << QStringList{"frame 2a ea ee 01"};
        QTest::newRow("link statistics") << plainFrame(0x14, hex("4050640A0103024864F6"))
                                         << QStringList{"frame 14 40 50 64 0a 01 03 02 48 64 f6",
                                                        "stats -64"};
        QTest::newRow("battery, short") << plainFrame(0x08, hex("00A5"))
                                        << QStringList{"frame 08 00 a5", "battery 0"};
        QTest::newRow("rc channels") << plainFrame(0x16, hex("00"))
                                     << QStringList{"frame 16 00"};
    }

    void signalsOfOneFrame()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QStringList, emitted);
        CrsfProtocol codec;
        QStringList seen;
        connect(&codec, &CrsfProtocol::extendedFrameReceived,
                [&](quint8 type, quint8 dest, quint8 origin, const QByteArray &payload) {
                    seen << QStringLiteral("extended %1")
                                .arg(QString::fromLatin1(
                                    (QByteArray(1, char(type)) + char(dest) + char(origin) + payload)
                                        .toHex(' ')));
                });
        connect(&codec, &CrsfProtocol::frameReceived, [&](quint8 type, const QByteArray &payload) {
            seen << QStringLiteral("frame %1")
                        .arg(QString::fromLatin1((QByteArray(1, char(type)) + payload).toHex(' ')));
        });
        connect(&codec, &CrsfProtocol::linkStatisticsReceived,
                [&](const corvane::LinkStatistics &s) {
                    seen << QStringLiteral("stats %1").arg(s.uplinkRssi1);
                });
        connect(&codec, &CrsfProtocol::batterySensorReceived,
                [&](const corvane::BatterySensor &b) {
                    seen << QStringLiteral("battery %1").arg(double(b.voltage));
                });
        codec.feed(frame);
        QCOMPARE(seen, emitted);
    }

    void streamCutting_data()
    {
        const QByteArray a = plainFrame(0x14, hex("4050640A0103024864F6"));
        const QByteArray b = CrsfProtocol::buildDevicePing(0x00, 0xEA);
        QByteArray badCrc = a;
        badCrc.back() = char(badCrc.back() ^ 0x01);
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QList<QByteArray>>("frames");
        const QList<QByteArray> both {a.mid(2, a.size() - 3), b.mid(2, b.size() - 3)};
        QTest::newRow("back to back") << QList<QByteArray>{a + b} << both;
        QTest::newRow("garbage before") << QList<QByteArray>{hex("000102FF7FC9") + a + b} << both;
        QTest::newRow("garbage between") << QList<QByteArray>{a + hex("55AA") + b} << both;
        QTest::newRow("wrong crc, then frames") << QList<QByteArray>{badCrc + a + b} << both;
        QTest::newRow("length 0 and 1") << QList<QByteArray>{hex("C800EA01C801") + a + b} << both;
        // A stray sync byte with a large length holds the frames back until enough bytes
        // arrive to show its CRC is wrong.
        QTest::newRow("sync bytes as garbage")
            << QList<QByteArray>{hex("EEEEC8C8EAEA") + a + b, QByteArray(240, '\0')} << both;
        QTest::newRow("truncated frame, then frames") << QList<QByteArray>{a.left(8) + a + b}
                                                      << both;
        QTest::newRow("incomplete frame waits") << QList<QByteArray>{a + b.left(5)}
                                                << QList<QByteArray>{both[0]};
        QTest::newRow("alternative sync bytes")
            << QList<QByteArray>{plainFrame(0x02, hex("01"), 0xEA) + plainFrame(0x1E, hex("02"), 0xEE)}
            << QList<QByteArray>{hex("0201"), hex("1E02")};
        QTest::newRow("empty chunks") << QList<QByteArray>{QByteArray(), a, QByteArray(), b} << both;
        QList<QByteArray> bytewise;
        for (const char c : a + b)
            bytewise << QByteArray(1, c);
        QTest::newRow("one byte at a time") << bytewise << both;
        for (int cut = 1; cut < a.size(); ++cut)
            QTest::addRow("split at %d", cut) << QList<QByteArray>{a.left(cut), a.mid(cut) + b} << both;
    }

    void streamCutting()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<QByteArray>, frames);
        CrsfProtocol codec;
        FrameLog log(codec);
        for (const QByteArray &chunk : chunks)
            codec.feed(chunk);
        QCOMPARE(log.frames, frames);
    }

    void everyLengthByte_data()
    {
        QTest::addColumn<int>("length");
        for (int length = 0; length < 256; ++length)
            QTest::addRow("%d", length) << length;
    }

    // A frame of any length is taken whole; a length below 2 is skipped and the frame
    // behind it still found.
    void everyLengthByte()
    {
        QFETCH(int, length);
        QByteArray payload;
        for (int i = 0; i < length - 2; ++i)
            payload.append(char(0x30 + i % 64));
        const QByteArray marker = CrsfProtocol::buildDevicePing(0x10, 0x20);
        QByteArray frame;
        if (length >= 2)
            frame = plainFrame(0x7F, payload);
        else
            frame = QByteArray(1, char(0xC8)) + char(length) + hex("7F7F");

        CrsfProtocol codec;
        FrameLog log(codec);
        codec.feed(frame.left(frame.size() - 1));
        codec.feed(frame.right(1) + marker);
        QList<QByteArray> expected;
        if (length >= 2)
            expected << QByteArray(1, char(0x7F)) + payload;
        expected << marker.mid(2, marker.size() - 3);
        QCOMPARE(log.frames, expected);
    }

    void randomStreamKeepsEveryFrame_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::newRow("seed 1") << 1u;
        QTest::newRow("seed 2026") << 2026u;
        QTest::newRow("seed 77777") << 77777u;
    }

    // Noise of every byte value, broken and truncated frames, and good frames of every
    // size, cut into chunks of random sizes: every good frame comes out, in order.
    void randomStreamKeepsEveryFrame()
    {
        QFETCH(quint32, seed);
        QRandomGenerator rng(seed);
        const auto isSync = [](char c) {
            return quint8(c) == 0xC8 || quint8(c) == 0xEA || quint8(c) == 0xEE;
        };
        const auto randomBytes = [&](int count) {
            QByteArray bytes(count, Qt::Uninitialized);
            for (char &c : bytes)
                c = char(rng.bounded(256));
            return bytes;
        };
        const auto randomFrame = [&] {
            const quint8 sync = std::array<quint8, 3>{0xC8, 0xEA, 0xEE}[rng.bounded(3)];
            return plainFrame(quint8(rng.bounded(256)), randomBytes(int(rng.bounded(254))), sync);
        };

        QByteArray stream;
        QList<QByteArray> planted;
        while (stream.size() < 300000) {
            QByteArray noise = randomBytes(int(rng.bounded(600)));
            for (int i = 0, n = int(rng.bounded(4)); i < n; ++i) {
                QByteArray broken = randomFrame();
                if (rng.bounded(2))
                    broken.back() = char(broken.back() ^ char(1 + rng.bounded(255)));
                else
                    broken.chop(1 + int(rng.bounded(quint32(broken.size() - 2))));
                noise.insert(int(rng.bounded(quint32(noise.size() + 1))), broken);
            }
            // Just before a good frame the noise holds no sync byte, so no accidental frame
            // can reach into it; everything earlier is left to the parser to sort out.
            QByteArray guard = randomBytes(258);
            for (char &c : guard) {
                while (isSync(c))
                    c = char(rng.bounded(256));
            }
            const QByteArray frame = randomFrame();
            planted << frame.mid(2, frame.size() - 3);
            stream += noise + guard + frame;
        }

        CrsfProtocol codec;
        FrameLog log(codec);
        for (qsizetype at = 0; at < stream.size();) {
            const qsizetype size = qMin<qsizetype>(1 + rng.bounded(700), stream.size() - at);
            codec.feed(stream.mid(at, size));
            at += size;
        }

        qsizetype next = 0;
        for (const QByteArray &found : std::as_const(log.frames)) {
            if (next < planted.size() && found == planted.at(next))
                ++next;
        }
        QVERIFY2(next == planted.size(),
                 qPrintable(QStringLiteral("found %1 of %2 frames").arg(next).arg(planted.size())));
        QVERIFY(planted.size() > 300);
    }

    // A listener that feeds more bytes while a frame is being announced gets them decoded
    // after the current frame, without losing or repeating any.
    void feedFromListener()
    {
        const QByteArray a = CrsfProtocol::buildDevicePing(0x01, 0xEA);
        const QByteArray b = CrsfProtocol::buildDevicePing(0x02, 0xEA);
        const QByteArray c = CrsfProtocol::buildDevicePing(0x03, 0xEA);
        CrsfProtocol codec;
        FrameLog log(codec);
        bool fed = false;
        connect(&codec, &CrsfProtocol::frameReceived, [&] {
            if (!fed) {
                fed = true;
                codec.feed(c);
            }
        });
        codec.feed(a + b);
        QCOMPARE(log.frames, (QList<QByteArray>{a.mid(2, 3), b.mid(2, 3), c.mid(2, 3)}));
    }
};

OSTRA_TEST_MAIN_CORE(TestCrsfProtocol)
#include "tst_crsfprotocol.moc"
