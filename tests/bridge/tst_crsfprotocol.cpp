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

QByteArray plainFrame(quint8 type, const QByteArray &payload, quint8 sync = 0xC8)
{
    const QByteArray body = char(type) + payload;
    return char(sync) + (char(quint8(body.size() + 1)) + body) + char(referenceCrc(body));
}

QByteArray body(const QByteArray &frame) { return frame.mid(2, frame.size() - 3); }

// Every accepted frame as type and payload, in order.
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

class TestCrsfProtocol : public QObject
{
    Q_OBJECT
private slots:
    void builders_data()
    {
        QTest::addColumn<QByteArray>("built");
        QTest::addColumn<QByteArray>("expected");
        Channels centred;
        centred.fill(992);
        QTest::newRow("all channels centred") << CrsfProtocol::buildRcChannelsFrame(centred)
                                              << hex("C81816E0031FF8C0073EF0810F7CE0031FF8C0073EF0810F7CAD");
        QTest::newRow("device ping") << CrsfProtocol::buildDevicePing(0x00, 0xEA) << hex("C8042800EA54");
        QTest::newRow("parameter read") << CrsfProtocol::buildParameterRead(7, 2, 0xC8, 0xEF)
                                        << plainFrame(0x2C, hex("C8EF0702"));
    }

    void builders()
    {
        QFETCH(QByteArray, built);
        QFETCH(QByteArray, expected);
        QCOMPARE(built.toHex(' '), expected.toHex(' '));
    }

    // Out-of-range values are clamped, and the frame comes back through the parser unchanged.
    void channelPacking()
    {
        Channels channels;
        for (int i = 0; i < 16; ++i)
            channels[size_t(i)] = (i % 2) ? 2047 - i * 131 : i * 131;
        channels[0] = -5;
        channels[15] = std::numeric_limits<qint32>::max();
        const QByteArray frame = CrsfProtocol::buildRcChannelsFrame(channels);

        channels[0] = 0;
        channels[15] = 2047;
        for (int ch = 0; ch < 16; ++ch) {
            int value = 0;
            for (int bit = 0; bit < 11; ++bit) {
                const int at = ch * 11 + bit;
                if (quint8(frame.at(3 + at / 8)) & (1 << (at % 8)))
                    value |= 1 << bit;
            }
            QCOMPARE(value, channels[size_t(ch)]);
        }
        CrsfProtocol codec;
        FrameLog log(codec);
        codec.feed(frame);
        QCOMPARE(log.frames, QList<QByteArray>{body(frame)});
    }

    // Signed bytes, big-endian fields and range checks; a short payload decodes to nothing.
    void decoders()
    {
        CrsfProtocol codec;
        QSignalSpy stats(&codec, &CrsfProtocol::linkStatisticsReceived);
        QSignalSpy battery(&codec, &CrsfProtocol::batterySensorReceived);
        codec.feed(plainFrame(0x14, hex("C0B0320000010481FF7F")) + plainFrame(0x08, hex("00A5003201F45A4B")));
        const auto s = stats.at(0).at(0).value<corvane::LinkStatistics>();
        QCOMPARE((QList<int>{s.uplinkRssi1, s.uplinkRssi2, s.linkQuality, s.downlinkRssi, s.downlinkLinkQuality,
                             s.downlinkSnr}), (QList<int>{-64, -80, 50, -127, 255, 127}));
        const auto b = battery.at(0).at(0).value<corvane::BatterySensor>();
        QCOMPARE((QList<double>{b.voltage, b.current, double(b.capacity), double(b.remaining)}),
                 (QList<double>{16.5, 5, 128090, 75}));
        QCOMPARE(CrsfProtocol::parseLinkStatistics(hex("405064")).linkQuality, 0);

        const corvane::GpsFix f = CrsfProtocol::parseGps(hex("E0B21580 F8028F30 04D2 69EB 0000 04"));
        QVERIFY(f.valid);
        QCOMPARE(f.latitude, -52.52);
        QCOMPARE(f.longitude, -13.405);
        QCOMPARE(f.altitudeM, -1000);
        const corvane::GForceSample g = CrsfProtocol::parseGForceFrame(hex("FF 7FFF 8000 0000"));
        QCOMPARE((QList<float>{g.x, g.y, g.z}), (QList<float>{32.767f, -32.768f, 0}));
    }

    // Garbage, a wrong CRC, a truncated frame and stray sync bytes with large lengths, fed a
    // byte at a time: the good frames come out once enough bytes show the rest is wrong.
    void streamCutting()
    {
        const QByteArray a = plainFrame(0x14, hex("4050640A0103024864F6"));
        const QByteArray b = CrsfProtocol::buildDevicePing(0x00, 0xEA);
        QByteArray badCrc = a;
        badCrc.back() = char(badCrc.back() ^ 0x01);
        const QByteArray rest = hex("000102FF7FC9EEEEC8C8EAEA") + badCrc + a.left(8);
        CrsfProtocol codec;
        FrameLog log(codec);
        QByteArray text;
        for (const char c : rest + a + b)
            text += codec.feed(QByteArray(1, c));
        text += codec.feed(QByteArray(240, '\0'));
        QCOMPARE(log.frames, (QList<QByteArray>{body(a), body(b)}));
        // What belongs to no frame comes back, in order.
        QCOMPARE(text.toHex(), (rest + QByteArray(240, '\0')).toHex());
    }

    // A frame of any length byte is taken whole; below 2 it is skipped and the next still found.
    void everyLengthByte()
    {
        const QByteArray marker = CrsfProtocol::buildDevicePing(0x10, 0x20);
        for (int length = 0; length < 256; ++length) {
            QByteArray payload;
            for (int i = 0; i < length - 2; ++i)
                payload.append(char(0x30 + i % 64));
            const QByteArray frame = length >= 2 ? plainFrame(0x7F, payload)
                                                 : QByteArray(1, char(0xC8)) + char(length) + hex("7F7F");
            CrsfProtocol codec;
            FrameLog log(codec);
            codec.feed(frame.left(frame.size() - 1));
            codec.feed(frame.right(1) + marker);
            QList<QByteArray> expected;
            if (length >= 2)
                expected << char(0x7F) + payload;
            QCOMPARE(log.frames, expected << body(marker));
        }
    }

    // Noise and good frames of every size, cut into random
    // chunks: every good frame comes out, in order.
    void randomStreamKeepsEveryFrame()
    {
        QRandomGenerator rng(77777);
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
            const QByteArray noise = randomBytes(int(rng.bounded(600)));
            // No sync byte just before a good frame, so no accidental frame can reach into it.
            QByteArray guard = randomBytes(258);
            for (char &c : guard) {
                while (quint8(c) == 0xC8 || quint8(c) == 0xEA || quint8(c) == 0xEE)
                    c = char(rng.bounded(256));
            }
            const QByteArray frame = randomFrame();
            planted << body(frame);
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
        QCOMPARE(next, planted.size());
    }
};

OSTRA_TEST_MAIN_CORE(TestCrsfProtocol)
#include "tst_crsfprotocol.moc"
