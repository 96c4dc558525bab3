#pragma once

#include <QByteArray>
#include <QObject>

#include <array>

#include "bridge/telemetrysensor.h"

namespace corvane {

// Link statistics frame (0x14); RSSI values in dBm, negative.
struct LinkStatistics
{
    qint32 uplinkRssi1 = 0;
    qint32 uplinkRssi2 = 0;
    quint8 linkQuality = 0;
    qint8 snr = 0;
    quint8 antenna = 0;
    quint8 rfMode = 0;
    quint8 txPower = 0;
    qint32 downlinkRssi = 0;
    quint8 downlinkLinkQuality = 0;
    qint8 downlinkSnr = 0;
};

// Battery frame (0x08).
struct BatterySensor
{
    float voltage = 0.0f;
    float current = 0.0f;
    quint32 capacity = 0;
    quint8 remaining = 0;
};

// GPS frame (0x02).
struct GpsFix
{
    bool valid = false;
    double latitude = 0.0;
    double longitude = 0.0;
    float speedKmh = 0.0f;
    float headingDeg = 0.0f;
    qint32 altitudeM = 0;
    quint8 satellites = 0;
};

// The car's own G-force frame (0x23), in g.
struct GForceSample
{
    bool valid = false;
    quint8 sequence = 0;
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// CRSF framing towards the transmitter: static frame builders and value conversions, and a
// stream parser that cuts received bytes into frames and announces the good ones.
class CrsfProtocol : public QObject
{
    Q_OBJECT
public:
    static constexpr quint8 SyncByte = 0xC8;
    static constexpr int ChannelCount = 16;
    static constexpr int RcChannelsFrameSize = 26;

    enum FrameType : quint8 {
        FrameGps = 0x02,
        FrameBattery = 0x08,
        FrameLinkStatistics = 0x14,
        FrameRcChannels = 0x16,
        FrameAttitude = 0x1E,
        FrameGForce = 0x23,
        FrameDevicePing = 0x28,
        FrameDeviceInfo = 0x29,
        FrameParameterEntry = 0x2B,
        FrameParameterRead = 0x2C,
        FrameParameterWrite = 0x2D,
        FrameElrsStatus = 0x2E,
    };

    explicit CrsfProtocol(QObject *parent = nullptr);
    ~CrsfProtocol() override;

    // CRC-8 (polynomial 0xD5) as frames carry it, over type, addresses and payload.
    static quint8 crc8(const char *data, qsizetype size);

    static QByteArray buildFrame(quint8 type, quint8 destination, quint8 origin,
                                 const QByteArray &payload);
    static QByteArray buildDevicePing(quint8 destination, quint8 origin);
    static QByteArray buildParameterRead(quint8 fieldId, quint8 chunkIndex, quint8 destination,
                                         quint8 origin);
    static QByteArray buildParameterWrite(quint8 fieldId, const QByteArray &value,
                                          quint8 destination, quint8 origin);
    static QByteArray buildRcChannelsFrame(const std::array<qint32, ChannelCount> &channels);
    // Writes the frame into `out` without allocating (for the transmit tick).
    static void buildRcChannelsFrame(const std::array<qint32, ChannelCount> &channels,
                                     char (&out)[RcChannelsFrameSize]);

    static int crsfToMicroseconds(int value);
    static int microsecondsToCrsf(int microseconds);
    static int axisToRaw11(float value);
    static int bipolarToCrsf(float value);
    static int unipolarToCrsf(float value);
    static int readBe16(const QByteArray &payload, int offset);
    // Reads the zero-terminated text at `pos` (or up to the end) and moves `pos` behind it.
    static QByteArray takeText(const QByteArray &bytes, int &pos);

    static LinkStatistics parseLinkStatistics(const QByteArray &payload);
    static GpsFix parseGps(const QByteArray &payload);
    static GForceSample parseGForceFrame(const QByteArray &payload);
    // One telemetry frame as the sensors the user sees (crsfprotocol_telemetry.cpp).
    // `motionLevel`: 0 no motion telemetry, 1 capable receiver, 2 with its motion sensors on;
    // it decides how a battery frame is read. Unknown types and short payloads give nothing.
    static QList<TelemetrySensor> decodeTelemetry(quint8 frameType, const QByteArray &payload,
                                                  int motionLevel);

    // Announces the frames in the stream and hands back, in order, the bytes that belong to none
    // (the text the transmitter writes between its frames). Bytes that may still begin a frame
    // wait for the next call.
    QByteArray feed(const QByteArray &bytes);
    // Drops a frame cut short: the bytes of another connection never complete it.
    void reset() { m_buffer.clear(); }

signals:
    void extendedFrameReceived(quint8 type, quint8 dest, quint8 origin, const QByteArray &payload);
    void frameReceived(quint8 frameType, const QByteArray &payload);
    void linkStatisticsReceived(const corvane::LinkStatistics &stats);
    void batterySensorReceived(const corvane::BatterySensor &battery);

private:
    static bool isExtendedType(quint8 type);
    static BatterySensor parseBattery(const QByteArray &payload);

    // At most one incomplete frame between calls.
    QByteArray m_buffer;
    bool m_feeding = false;
};

} // namespace corvane

Q_DECLARE_METATYPE(corvane::LinkStatistics)
Q_DECLARE_METATYPE(corvane::BatterySensor)
Q_DECLARE_METATYPE(corvane::GpsFix)
Q_DECLARE_METATYPE(corvane::GForceSample)
