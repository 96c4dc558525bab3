#include <QPointF>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <array>
#include <limits>

#include "bridge/crsfprotocol.h"
#include "support/testenvironment.h"

using corvane::CrsfProtocol;

namespace {

using Channels = std::array<qint32, 16>;

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

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
    const QByteArray body = char(type) + payload;
    return char(sync) + (char(quint8(body.size() + 1)) + body) + char(referenceCrc(body));
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
                         [this](quint8 type, const QByteArray &payload) { frames.append(char(type) + payload); });
    }
    QList<QByteArray> frames;
};

} // namespace

Q_DECLARE_METATYPE(Channels)

class TestCrsfProtocol : public QObject
{
    Q_OBJECT
private slots:
    // Extended frames are checked against a frame assembled here with a bit-by-bit CRC.
    void builders_data()
    {
        QTest::addColumn<QByteArray>("built");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("all channels centred") << CrsfProtocol::buildRcChannelsFrame(filled(992))
                                              << hex("C81816E0031FF8C0073EF0810F7CE0031FF8C0073EF0810F7CAD");
        QTest::newRow("device ping") << CrsfProtocol::buildDevicePing(0x00, 0xEA) << hex("C8042800EA54");
        QTest::newRow("parameter read") << CrsfProtocol::buildParameterRead(7, 2, 0xC8, 0xEF)
                                        << plainFrame(0x2C, hex("C8EF0702"));
        QTest::newRow("parameter write") << CrsfProtocol::buildParameterWrite(12, hex("0304"), 0xC8, 0xEF)
                                         << plainFrame(0x2D, hex("C8EF0C0304"));
        QTest::newRow("generic, long payload") << CrsfProtocol::buildFrame(0x29, 0xEA, 0xEE, QByteArray(40, 'x'))
                                               << plainFrame(0x29, hex("EAEE") + QByteArray(40, 'x'));
    }

    void builders()
    {
        QFETCH(QByteArray, built);
        QFETCH(QByteArray, expected);
        QCOMPARE(built.toHex(' '), expected.toHex(' '));
    }

    void channelPacking_data()
    {
        QTest::addColumn<Channels>("channels");
        QTest::addColumn<Channels>("sent");
        Channels ramp;
        for (int i = 0; i < 16; ++i)
            ramp[size_t(i)] = (i % 2) ? 2047 - i * 131 : i * 131;
        Channels outOfRange = filled(992);
        Channels clamped = filled(992);
        outOfRange[0] = -5;
        outOfRange[1] = 3000;
        outOfRange[14] = std::numeric_limits<qint32>::max();
        outOfRange[15] = std::numeric_limits<qint32>::min();
        clamped[1] = clamped[14] = 2047;
        clamped[0] = clamped[15] = 0;
        QTest::newRow("ramp from both ends") << ramp << ramp;
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
        QTest::addColumn<QList<QPointF>>("pairs");
        const double nan = qQNaN();
        QTest::newRow("bipolar") << "bipolar" << QList<QPointF>{{0, 992},    {1, 1811},   {-1, 173},   {5, 1811},
                                                                {-7.5, 173}, {0.8, 1648}, {0.5, 1402}, {nan, 992}};
        QTest::newRow("unipolar") << "unipolar"
            << QList<QPointF>{{0, 172}, {1, 1811}, {0.5, 992}, {-1, 172}, {2, 1811}, {nan, 172}};
        QTest::newRow("toMicroseconds") << "toMicroseconds"
            << QList<QPointF>{{992, 1500}, {172, 988}, {1811, 2012}, {0, 880}, {2047, 2159}, {1, 881}, {4, 883}};
        QTest::newRow("fromMicroseconds") << "fromMicroseconds"
            << QList<QPointF>{{1500, 992}, {800, 0}, {2300, 2047}, {988, 173}, {2012, 1811}, {881, 2}};
        QTest::newRow("axis") << "axis"
            << QList<QPointF>{{-1, 0}, {1, 2047}, {0, 1023}, {-0.5, 511}, {0.5, 1535}, {1.5, 2558}};
    }

    void conversions()
    {
        QFETCH(QString, function);
        QFETCH(QList<QPointF>, pairs);
        for (const QPointF &pair : pairs) {
            const float in = float(pair.x());
            const int actual = function == "bipolar"       ? CrsfProtocol::bipolarToCrsf(in)
                               : function == "unipolar"    ? CrsfProtocol::unipolarToCrsf(in)
                               : function == "toMicroseconds" ? CrsfProtocol::crsfToMicroseconds(int(in))
                               : function == "fromMicroseconds" ? CrsfProtocol::microsecondsToCrsf(int(in))
                                                           : CrsfProtocol::axisToRaw11(in);
            QVERIFY2(actual == int(pair.y()),
                     qPrintable(QStringLiteral("%1(%2) = %3").arg(function).arg(pair.x()).arg(actual)));
        }
    }

    void readBe16_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("expected");
        QTest::newRow("unsigned, last pair") << hex("00FFFE") << 1 << 0xFFFE;
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

    // Each decoder's fields in order, as text.
    void decoders_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("fields");
        // rssi1, rssi2, lq, snr, antenna, rfMode, txPower, downRssi, downLq, downSnr
        QTest::newRow("link statistics, signed bytes") << 0x14 << hex("C0B0320000010481FF7F")
                                                       << "-64 -80 50 0 0 1 4 -127 255 127";
        QTest::newRow("link statistics, most negative") << 0x14 << hex("7F800000000000010000")
                                                        << "-127 -128 0 0 0 0 0 -1 0 0";
        QTest::newRow("link statistics, short") << 0x14 << hex("405064") << "0 0 0 0 0 0 0 0 0 0";
        // voltage, current, capacity, remaining
        QTest::newRow("battery") << 0x08 << hex("00A5003201F45A4B") << "16.5 5 128090 75";
        QTest::newRow("battery, maximum") << 0x08 << hex("FFFFFFFFFFFFFFFF") << "6553.5 6553.5 16777215 255";
        QTest::newRow("battery, short") << 0x08 << hex("00A5003201F45A") << "0 0 0 0";
        // valid, latitude, longitude, km/h, heading, altitude, satellites
        QTest::newRow("gps, southern, western, below zero") << 0x02 << hex("E0B21580 F8028F30 04D2 69EB 0000 04")
                                                            << "1 -52.52 -13.405 123.4 271.15 -1000 4";
        QTest::newRow("gps, both coordinates zero") << 0x02 << hex("00000000 00000000 0064 0000 03F2 00")
                                                    << "0 0 0 10 0 10 0";
        QTest::newRow("gps, latitude 91") << 0x02 << hex("363D7F80 00000000 0000 0000 03E8 05") << "0 91 0 0 0 0 5";
        QTest::newRow("gps, longitude -180 is valid")
            << 0x02 << hex("00000001 94B62E00 0000 0000 03E8 05") << "1 1e-07 -180 0 0 0 5";
        QTest::newRow("gps, short") << 0x02 << hex("1F4DEA80 07FD70D0 04D2 69EB 040A") << "0 0 0 0 0 0 0";
        // valid, sequence, x, y, z
        QTest::newRow("g-force, extremes") << 0x00 << hex("FF 7FFF 8000 0000") << "1 255 32.767 -32.768 0";
        QTest::newRow("g-force, short") << 0x00 << hex("2A 04D2 FB2E 03") << "0 0 0 0 0";
    }

    void decoders()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, payload);
        QFETCH(QString, fields);
        QList<double> v;
        if (type == 0x14) {
            // Decoded alike directly and from a frame in the stream.
            CrsfProtocol codec;
            QSignalSpy spy(&codec, &CrsfProtocol::linkStatisticsReceived);
            codec.feed(plainFrame(0x14, payload));
            QCOMPARE(spy.size(), 1);
            const auto s = spy.at(0).at(0).value<corvane::LinkStatistics>();
            QCOMPARE(CrsfProtocol::parseLinkStatistics(payload).downlinkSnr, s.downlinkSnr);
            v = {double(s.uplinkRssi1), double(s.uplinkRssi2),  double(s.linkQuality),
                 double(s.snr),         double(s.antenna),      double(s.rfMode),
                 double(s.txPower),     double(s.downlinkRssi), double(s.downlinkLinkQuality),
                 double(s.downlinkSnr)};
        } else if (type == 0x08) {
            CrsfProtocol codec;
            QSignalSpy spy(&codec, &CrsfProtocol::batterySensorReceived);
            codec.feed(plainFrame(0x08, payload));
            QCOMPARE(spy.size(), 1);
            const auto b = spy.at(0).at(0).value<corvane::BatterySensor>();
            v = {b.voltage, b.current, double(b.capacity), double(b.remaining)};
        } else if (type == 0x02) {
            const corvane::GpsFix f = CrsfProtocol::parseGps(payload);
            v = {double(f.valid), f.latitude,          f.longitude,         f.speedKmh,
                 f.headingDeg,    double(f.altitudeM), double(f.satellites)};
        } else {
            const corvane::GForceSample g = CrsfProtocol::parseGForceFrame(payload);
            v = {double(g.valid), double(g.sequence), g.x, g.y, g.z};
        }
        QStringList text;
        for (const double d : std::as_const(v))
            text << QString::number(d, 'g', d == qint64(d) ? 10 : 7);
        QCOMPARE(text.join(' '), fields);
    }

    void signalsOfOneFrame_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QStringList>("emitted");
        QTest::newRow("parameter entry") << plainFrame(0x2B, hex("EAEE0501"), 0xEA)
                                         << QStringList{"extended 2b ea ee 05 01", "frame 2b ea ee 05 01"};
        QTest::newRow("device info, empty") << plainFrame(0x29, QByteArray()) << QStringList{"frame 29"};
        QTest::newRow("0x2A is not extended") << plainFrame(0x2A, hex("EAEE01")) << QStringList{"frame 2a ea ee 01"};
        QTest::newRow("link statistics") << plainFrame(0x14, hex("4050640A0103024864F6"))
                                         << QStringList{"frame 14 40 50 64 0a 01 03 02 48 64 f6",
                                                        "stats -64"};
        QTest::newRow("battery, short") << plainFrame(0x08, hex("00A5")) << QStringList{"frame 08 00 a5", "battery 0"};
    }

    void signalsOfOneFrame()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QStringList, emitted);
        CrsfProtocol codec;
        QStringList seen;
        const auto hexOf = [](const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex(' ')); };
        connect(&codec, &CrsfProtocol::extendedFrameReceived,
                [&](quint8 type, quint8 dest, quint8 origin, const QByteArray &payload) {
                    seen << "extended " + hexOf(QByteArray(1, char(type)) + char(dest) + char(origin) + payload);
                });
        connect(&codec, &CrsfProtocol::frameReceived, [&](quint8 type, const QByteArray &payload) {
            seen << "frame " + hexOf(QByteArray(1, char(type)) + payload);
        });
        connect(&codec, &CrsfProtocol::linkStatisticsReceived,
                [&](const corvane::LinkStatistics &s) { seen << QStringLiteral("stats %1").arg(s.uplinkRssi1); });
        connect(&codec, &CrsfProtocol::batterySensorReceived,
                [&](const corvane::BatterySensor &b) { seen << QStringLiteral("battery %1").arg(double(b.voltage)); });
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
        QTest::newRow("wrong crc, then frames") << QList<QByteArray>{badCrc + a + b} << both;
        // A stray sync byte with a large length holds the frames back until enough bytes
        // arrive to show its CRC is wrong.
        QTest::newRow("sync bytes as garbage")
            << QList<QByteArray>{hex("EEEEC8C8EAEA") + a + b, QByteArray(240, '\0')} << both;
        QTest::newRow("truncated frame, then frames") << QList<QByteArray>{a.left(8) + a + b} << both;
        QTest::newRow("incomplete frame waits") << QList<QByteArray>{a + b.left(5)} << QList<QByteArray>{both[0]};
        QTest::newRow("alternative sync bytes")
            << QList<QByteArray>{plainFrame(0x02, hex("01"), 0xEA) + plainFrame(0x1E, hex("02"), 0xEE)}
            << QList<QByteArray>{hex("0201"), hex("1E02")};
        QList<QByteArray> bytewise;
        for (const char c : a + b)
            bytewise << QByteArray(1, c);
        QTest::newRow("one byte at a time") << bytewise << both;
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

    // Noise of every byte value, broken and truncated frames, and good frames of every
    // size, cut into chunks of random sizes: every good frame comes out, in order.
    void randomStreamKeepsEveryFrame()
    {
        QRandomGenerator rng(77777);
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
