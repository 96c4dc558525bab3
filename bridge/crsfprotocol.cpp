#include "bridge/crsfprotocol.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

constexpr quint8 CrcPolynomial = 0xD5;

struct CrcTable
{
    quint8 entries[256] {};
    constexpr CrcTable()
    {
        for (int i = 0; i < 256; ++i) {
            quint8 crc = quint8(i);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 0x80) ? quint8((crc << 1) ^ CrcPolynomial) : quint8(crc << 1);
            entries[i] = crc;
        }
    }
};

constexpr CrcTable crcTable;

quint8 byteAt(const QByteArray &bytes, qsizetype index)
{
    return quint8(bytes.at(index));
}

quint32 readBe24(const QByteArray &payload, int offset)
{
    return (quint32(byteAt(payload, offset)) << 16) | (quint32(byteAt(payload, offset + 1)) << 8)
        | quint32(byteAt(payload, offset + 2));
}

qint32 readBe32(const QByteArray &payload, int offset)
{
    return qint32((quint32(byteAt(payload, offset)) << 24) | readBe24(payload, offset + 1));
}

// Link statistics carry RSSI as a magnitude or as a signed byte, depending on the sender.
qint32 rssiDbm(quint8 raw)
{
    if (raw == 0)
        return 0;
    if (raw & 0x80)
        return qint8(raw);
    return -qint32(raw);
}

// A non-number from upstream counts as the neutral input rather than as full deflection.
float clampedInput(float value, float low, float high)
{
    return std::isnan(value) ? 0.0f : std::clamp(value, low, high);
}

} // namespace

CrsfProtocol::CrsfProtocol(QObject *parent)
    : QObject(parent)
{
}

CrsfProtocol::~CrsfProtocol() = default;

quint8 CrsfProtocol::crc8(const char *data, qsizetype size)
{
    quint8 crc = 0;
    for (qsizetype i = 0; i < size; ++i)
        crc = crcTable.entries[crc ^ quint8(data[i])];
    return crc;
}

bool CrsfProtocol::isExtendedType(quint8 type)
{
    switch (type) {
    case FrameDevicePing:
    case FrameDeviceInfo:
    case FrameParameterEntry:
    case FrameParameterRead:
    case FrameParameterWrite:
    case FrameElrsStatus:
        return true;
    default:
        return false;
    }
}

QByteArray CrsfProtocol::buildFrame(quint8 type, quint8 destination, quint8 origin,
                                    const QByteArray &payload)
{
    QByteArray frame;
    frame.reserve(payload.size() + 6);
    frame.append(char(SyncByte));
    frame.append(char(quint8(payload.size() + 4)));
    frame.append(char(type));
    frame.append(char(destination));
    frame.append(char(origin));
    frame.append(payload);
    frame.append(char(crc8(frame.constData() + 2, frame.size() - 2)));
    return frame;
}

QByteArray CrsfProtocol::takeText(const QByteArray &bytes, int &pos)
{
    const int start = pos;
    const int zero = int(bytes.indexOf('\0', start));
    if (zero < 0) {
        pos = int(bytes.size());
        return bytes.mid(start);
    }
    pos = zero + 1;
    return bytes.mid(start, zero - start);
}

QByteArray CrsfProtocol::buildDevicePing(quint8 destination, quint8 origin)
{
    return buildFrame(FrameDevicePing, destination, origin, QByteArray());
}

QByteArray CrsfProtocol::buildParameterRead(quint8 fieldId, quint8 chunkIndex, quint8 destination,
                                            quint8 origin)
{
    const char payload[2] = { char(fieldId), char(chunkIndex) };
    return buildFrame(FrameParameterRead, destination, origin, QByteArray(payload, 2));
}

QByteArray CrsfProtocol::buildParameterWrite(quint8 fieldId, const QByteArray &value,
                                             quint8 destination, quint8 origin)
{
    QByteArray payload;
    payload.reserve(value.size() + 1);
    payload.append(char(fieldId));
    payload.append(value);
    return buildFrame(FrameParameterWrite, destination, origin, payload);
}

QByteArray CrsfProtocol::buildRcChannelsFrame(const std::array<qint32, ChannelCount> &channels)
{
    char frame[RcChannelsFrameSize];
    buildRcChannelsFrame(channels, frame);
    return QByteArray(frame, RcChannelsFrameSize);
}

void CrsfProtocol::buildRcChannelsFrame(const std::array<qint32, ChannelCount> &channels,
                                        char (&out)[RcChannelsFrameSize])
{
    out[0] = char(SyncByte);
    out[1] = char(RcChannelsFrameSize - 2);
    out[2] = char(FrameRcChannels);
    char *data = out + 3;
    quint32 bits = 0;
    int bitCount = 0;
    int index = 0;
    for (const qint32 channel : channels) {
        bits |= quint32(std::clamp(channel, 0, 2047)) << bitCount;
        bitCount += 11;
        while (bitCount >= 8) {
            data[index++] = char(bits & 0xFF);
            bits >>= 8;
            bitCount -= 8;
        }
    }
    out[RcChannelsFrameSize - 1] = char(crc8(out + 2, RcChannelsFrameSize - 3));
}

int CrsfProtocol::crsfToMicroseconds(int value)
{
    return int(std::lround(double(value) * 5.0 / 8.0 + 880.0));
}

int CrsfProtocol::microsecondsToCrsf(int microseconds)
{
    const long value = std::lround((double(microseconds) - 880.0) * 8.0 / 5.0);
    return int(std::clamp(value, 0L, 2047L));
}

int CrsfProtocol::axisToRaw11(float value)
{
    return int((value + 1.0f) * 1023.5f);
}

int CrsfProtocol::bipolarToCrsf(float value)
{
    const float v = clampedInput(value, -1.0f, 1.0f);
    return std::clamp(int(std::lround(v * 819.5f + 992.0f)), 172, 1811);
}

int CrsfProtocol::unipolarToCrsf(float value)
{
    const float v = clampedInput(value, 0.0f, 1.0f);
    return int(std::lround(v * 1639.0f + 172.0f));
}

int CrsfProtocol::readBe16(const QByteArray &payload, int offset)
{
    if (offset < 0 || payload.size() < qsizetype(offset) + 2)
        return 0;
    return (int(byteAt(payload, offset)) << 8) | int(byteAt(payload, offset + 1));
}

LinkStatistics CrsfProtocol::parseLinkStatistics(const QByteArray &payload)
{
    LinkStatistics stats;
    if (payload.size() < 10)
        return stats;
    stats.uplinkRssi1 = rssiDbm(byteAt(payload, 0));
    stats.uplinkRssi2 = rssiDbm(byteAt(payload, 1));
    stats.linkQuality = byteAt(payload, 2);
    stats.snr = qint8(byteAt(payload, 3));
    stats.antenna = byteAt(payload, 4);
    stats.rfMode = byteAt(payload, 5);
    stats.txPower = byteAt(payload, 6);
    stats.downlinkRssi = rssiDbm(byteAt(payload, 7));
    stats.downlinkLinkQuality = byteAt(payload, 8);
    stats.downlinkSnr = qint8(byteAt(payload, 9));
    return stats;
}

BatterySensor CrsfProtocol::parseBattery(const QByteArray &payload)
{
    BatterySensor battery;
    if (payload.size() < 8)
        return battery;
    battery.voltage = float(readBe16(payload, 0)) / 10.0f;
    battery.current = float(readBe16(payload, 2)) / 10.0f;
    battery.capacity = readBe24(payload, 4);
    battery.remaining = byteAt(payload, 7);
    return battery;
}

GpsFix CrsfProtocol::parseGps(const QByteArray &payload)
{
    GpsFix fix;
    if (payload.size() < 15)
        return fix;
    const qint32 rawLatitude = readBe32(payload, 0);
    const qint32 rawLongitude = readBe32(payload, 4);
    fix.latitude = double(rawLatitude) / 1e7;
    fix.longitude = double(rawLongitude) / 1e7;
    fix.speedKmh = float(readBe16(payload, 8)) / 10.0f;
    fix.headingDeg = float(readBe16(payload, 10)) / 100.0f;
    fix.altitudeM = readBe16(payload, 12) - 1000;
    fix.satellites = byteAt(payload, 14);
    fix.valid = !(rawLatitude == 0 && rawLongitude == 0) && std::abs(fix.latitude) <= 90.0
        && std::abs(fix.longitude) <= 180.0;
    return fix;
}

GForceSample CrsfProtocol::parseGForceFrame(const QByteArray &payload)
{
    GForceSample sample;
    if (payload.size() < 7)
        return sample;
    sample.valid = true;
    sample.sequence = byteAt(payload, 0);
    sample.x = float(qint16(readBe16(payload, 1))) / 1000.0f;
    sample.y = float(qint16(readBe16(payload, 3))) / 1000.0f;
    sample.z = float(qint16(readBe16(payload, 5))) / 1000.0f;
    return sample;
}

QByteArray CrsfProtocol::feed(const QByteArray &bytes)
{
    m_buffer.append(bytes);
    // A slot that feeds again while frames are being announced only appends; the outer call
    // goes on through the whole buffer and hands back its text too.
    if (m_feeding)
        return QByteArray();
    m_feeding = true;

    const auto isSync = [](quint8 byte) { return byte == SyncByte || byte == 0xEA || byte == 0xEE; };
    QByteArray rest;
    qsizetype pos = 0;
    while (pos < m_buffer.size()) {
        const quint8 sync = byteAt(m_buffer, pos);
        if (!isSync(sync)) {
            qsizetype end = pos + 1;
            while (end < m_buffer.size() && !isSync(byteAt(m_buffer, end)))
                ++end;
            rest.append(m_buffer.constData() + pos, end - pos);
            pos = end;
            continue;
        }
        if (m_buffer.size() - pos < 2)
            break;
        const int length = byteAt(m_buffer, pos + 1);
        if (length < 2) {
            rest.append(char(sync));
            ++pos;
            continue;
        }
        if (m_buffer.size() - pos < length + 2)
            break;
        const char *frame = m_buffer.constData() + pos;
        if (crc8(frame + 2, length - 1) != quint8(frame[length + 1])) {
            rest.append(char(sync));
            ++pos;
            continue;
        }

        const quint8 type = quint8(frame[2]);
        const QByteArray payload(frame + 3, length - 2);
        pos += length + 2;

        if (isExtendedType(type) && payload.size() >= 2)
            emit extendedFrameReceived(type, byteAt(payload, 0), byteAt(payload, 1), payload.mid(2));
        emit frameReceived(type, payload);
        if (type == FrameLinkStatistics)
            emit linkStatisticsReceived(parseLinkStatistics(payload));
        else if (type == FrameBattery)
            emit batterySensorReceived(parseBattery(payload));
    }
    m_buffer.remove(0, pos);
    m_feeding = false;
    return rest;
}

} // namespace corvane
