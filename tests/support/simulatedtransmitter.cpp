#include "support/simulatedtransmitter.h"

#include "support/eventwait.h"

#include <QFile>
#include <QTimer>

#include <cmath>

#include "bridge/crsfprotocol.h"

using corvane::CrsfProtocol;

namespace ostratest {

namespace {

constexpr quint8 Sync = 0xC8;
constexpr quint8 TypeRcChannels = 0x16;
constexpr quint8 TypeParameterWrite = 0x2D;

void appendBe16(QByteArray &out, qint64 value)
{
    out.append(char((value >> 8) & 0xFF));
    out.append(char(value & 0xFF));
}

// The first bytes of every settings entry: parent, type and the zero-terminated name.
QByteArray entryHead(quint8 parent, quint8 type, const QByteArray &name)
{
    return QByteArray(1, char(parent)) + char(type) + name + '\0';
}

QByteArray numbers(std::initializer_list<quint8> values)
{
    QByteArray out;
    for (quint8 v : values)
        out.append(char(v));
    return out;
}

SimulatedTransmitter::Channels unpackChannels(const QByteArray &data)
{
    SimulatedTransmitter::Channels channels {};
    quint32 bits = 0;
    int bitCount = 0;
    size_t index = 0;
    for (char c : data) {
        bits |= quint32(quint8(c)) << bitCount;
        for (bitCount += 8; bitCount >= 11 && index < channels.size(); bitCount -= 11, bits >>= 11)
            channels[index++] = int(bits & 0x7FF);
    }
    return channels;
}

} // namespace

SimulatedTransmitter::SimulatedTransmitter(const QString &deviceId, const QString &aliasPath, QObject *parent)
    : QObject(parent)
    , m_poll(new QTimer(this))
    , m_alias(aliasPath)
    , m_deviceId(deviceId)
{
    if (!m_alias.isEmpty()) {
        QFile::remove(m_alias);
        QFile::link(m_pty.slavePath(), m_alias);
    }
    m_poll->setInterval(1);
    connect(m_poll, &QTimer::timeout, this, &SimulatedTransmitter::process);
    m_poll->start();
}

SimulatedTransmitter::~SimulatedTransmitter() = default;

QString SimulatedTransmitter::portName() const
{
    return m_alias.isEmpty() ? m_pty.slavePath() : m_alias;
}

SimulatedTransmitter::Channels SimulatedTransmitter::lastChannels() const
{
    return m_channelFrames.isEmpty() ? Channels {} : m_channelFrames.constLast();
}

void SimulatedTransmitter::clearRecords()
{
    process();
    m_lines.clear();
    m_channelFrames.clear();
    m_writes.clear();
    m_raw.clear();
}

bool SimulatedTransmitter::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    return waitWithEvents(done, timeoutMs, [this] { process(); });
}

bool SimulatedTransmitter::waitForLine(const QByteArray &line, int timeoutMs)
{
    return waitFor([&] { return m_lines.contains(line); }, timeoutMs);
}

bool SimulatedTransmitter::waitForChannelFrames(int count, int timeoutMs)
{
    return waitFor([&] { return m_channelFrames.size() >= count; }, timeoutMs);
}

void SimulatedTransmitter::process()
{
    if (!m_pty.isOpen())
        return;
    const QByteArray bytes = m_pty.readAvailable();
    m_raw.append(bytes);
    m_in.append(bytes);
    consume();
}

void SimulatedTransmitter::consume()
{
    while (!m_in.isEmpty()) {
        if (quint8(m_in.at(0)) == Sync) {
            if (m_in.size() < 2)
                return;
            const int length = quint8(m_in.at(1));
            if (length >= 2 && m_in.size() < length + 2)
                return;
            if (length < 2 || CrsfProtocol::crc8(m_in.constData() + 2, length - 1) != quint8(m_in.at(length + 1))) {
                m_in.remove(0, 1);
                continue;
            }
            const quint8 type = quint8(m_in.at(2));
            const QByteArray payload = m_in.mid(3, length - 2);
            m_in.remove(0, length + 2);
            handleFrame(type, payload);
            continue;
        }
        const qsizetype nl = m_in.indexOf('\n');
        const qsizetype sync = m_in.indexOf(char(Sync));
        if (sync > 0 && (nl < 0 || sync < nl)) {
            // Bytes before a frame that never ended in a line feed.
            m_in.remove(0, sync);
            continue;
        }
        if (nl < 0)
            return;
        QByteArray line = m_in.left(nl);
        m_in.remove(0, nl + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        handleLine(line);
    }
}

void SimulatedTransmitter::handleLine(const QByteArray &line)
{
    m_lines.append(line);
    if (m_silent)
        return;
    if (m_streaming) {
        sendLinkStatistics(-60, -60, 100, 9);
        sendBattery(7.4, 1.5, 420, 80);
        sendGps(52.52, 13.405, 12.0, 90.0, 35, 9);
    }
    if (const auto scripted = m_script.find(line); scripted != m_script.end() && !scripted->isEmpty()) {
        sendRaw(scripted->takeFirst());
    } else if (line == "ID" && m_answersId) {
        sendRaw(m_idReply.isEmpty() ? "QOR-ID:" + m_deviceId.toLatin1() + "\r\n" : m_idReply);
    } else if (line == "CFGMODE ON" || line == "CFGMODE OFF") {
        m_configMode = line.endsWith("ON");
    } else if (line == "WALKRF" && m_configMode) {
        QByteArray out = "WALK: starting\r\n";
        for (const Field &field : std::as_const(m_fields)) {
            out += "FIELD " + QByteArray::number(field.id) + ": ";
            out += (field.entry.isEmpty() ? QByteArray("(read failed)") : field.entry.toHex(' ').toUpper()) + "\r\n";
        }
        sendRaw(out + "WALK: done\r\n");
    }
}

void SimulatedTransmitter::handleFrame(quint8 type, const QByteArray &payload)
{
    if (type == TypeRcChannels && payload.size() == 22)
        m_channelFrames.append(unpackChannels(payload));
    else if (type == TypeParameterWrite && payload.size() >= 3)
        m_writes.append({ quint8(payload.at(0)), quint8(payload.at(2)), payload.mid(3) });
    emit frameReceived(type, payload);
}

bool SimulatedTransmitter::sendRaw(const QByteArray &bytes)
{
    return m_pty.write(bytes);
}

bool SimulatedTransmitter::sendFrame(quint8 type, const QByteArray &payload)
{
    QByteArray frame = numbers({ Sync, quint8(payload.size() + 2), type }) + payload;
    frame.append(char(CrsfProtocol::crc8(frame.constData() + 2, frame.size() - 2)));
    return sendRaw(frame);
}

bool SimulatedTransmitter::sendLinkStatistics(int rssi1Dbm, int rssi2Dbm, int linkQuality, int snr, int antenna,
                                              int rfMode, int txPowerIndex, int downlinkRssiDbm,
                                              int downlinkQuality, int downlinkSnr)
{
    // The module sends the RSSI as a positive number of -dBm.
    const auto rssi = [](int dbm) { return quint8(std::abs(dbm)); };
    return sendFrame(0x14, numbers({ rssi(rssi1Dbm), rssi(rssi2Dbm), quint8(linkQuality), quint8(snr),
                                     quint8(antenna), quint8(rfMode), quint8(txPowerIndex),
                                     rssi(downlinkRssiDbm), quint8(downlinkQuality), quint8(downlinkSnr) }));
}

bool SimulatedTransmitter::sendBattery(double volts, double amps, quint32 usedMah, int percent)
{
    QByteArray payload;
    appendBe16(payload, std::lround(volts * 10.0));
    appendBe16(payload, std::lround(amps * 10.0));
    payload.append(char((usedMah >> 16) & 0xFF));
    appendBe16(payload, usedMah & 0xFFFF);
    payload.append(char(percent));
    return sendFrame(0x08, payload);
}

bool SimulatedTransmitter::sendGps(double latitude, double longitude, double speedKmh, double headingDeg,
                                   int altitudeM, int satellites)
{
    QByteArray payload;
    for (double degrees : { latitude, longitude }) {
        const qint64 value = std::llround(degrees * 1e7);
        appendBe16(payload, value >> 16);
        appendBe16(payload, value);
    }
    appendBe16(payload, std::lround(speedKmh * 10.0));
    appendBe16(payload, std::lround(headingDeg * 100.0));
    appendBe16(payload, altitudeM + 1000);
    payload.append(char(satellites));
    return sendFrame(0x02, payload);
}

bool SimulatedTransmitter::sendAttitude(double pitch, double roll, double yaw)
{
    QByteArray payload;
    for (double angle : { pitch, roll, yaw })
        appendBe16(payload, std::lround(angle * 10000.0));
    return sendFrame(0x1E, payload);
}

bool SimulatedTransmitter::sendGForceFrame(quint8 type, const QByteArray &prefix, double lon, double lat,
                                           double vert, int sequence)
{
    const int seq = sequence < 0 ? m_gForceSequence : sequence;
    m_gForceSequence = (seq + 1) & 0xFF;
    QByteArray payload = prefix + char(seq & 0xFF);
    for (double g : { lon, lat, vert })
        appendBe16(payload, std::lround(g * 1000.0));
    return sendFrame(type, payload);
}

bool SimulatedTransmitter::sendGForce(double lon, double lat, double vert, int sequence)
{
    return sendGForceFrame(0x23, QByteArray(), lon, lat, vert, sequence);
}

bool SimulatedTransmitter::sendWrappedGForce(double lon, double lat, double vert, int sequence)
{
    return sendGForceFrame(0x50, numbers({ Handset, 0xCA }), lon, lat, vert, sequence);
}

void SimulatedTransmitter::hangUp()
{
    process();
    m_poll->stop();
    m_pty.hangUp();
}

QByteArray SimulatedTransmitter::textSelectionEntry(quint8 parent, const QByteArray &name, const QStringList &options,
                                                    quint8 value, quint8 min, quint8 max, quint8 def,
                                                    const QByteArray &units)
{
    return entryHead(parent, 9, name) + options.join(QLatin1Char(';')).toUtf8() + '\0'
        + numbers({ value, min, max, def }) + units + '\0';
}

QByteArray SimulatedTransmitter::uint8Entry(quint8 parent, const QByteArray &name, quint8 value, quint8 min,
                                            quint8 max, quint8 def, const QByteArray &units)
{
    return entryHead(parent, 0, name) + numbers({ value, min, max, def }) + units + '\0';
}

QByteArray SimulatedTransmitter::folderEntry(quint8 parent, const QByteArray &name)
{
    return entryHead(parent, 11, name);
}

QByteArray SimulatedTransmitter::infoEntry(quint8 parent, const QByteArray &name, const QByteArray &text)
{
    return entryHead(parent, 12, name) + text + '\0';
}

QByteArray SimulatedTransmitter::commandEntry(quint8 parent, const QByteArray &name, quint8 status,
                                              quint8 timeout, const QByteArray &info)
{
    return entryHead(parent, 13, name) + numbers({ status, timeout }) + info + '\0';
}

QList<SimulatedTransmitter::Field> SimulatedTransmitter::typicalFields()
{
    const QStringList onOff { QStringLiteral("Off"), QStringLiteral("On") };
    return {
        { 1, textSelectionEntry(0, "Packet Rate", { "50Hz", "100Hz Full", "150Hz", "250Hz", "333Hz Full", "500Hz" },
                                3, 0, 5, 3, "Hz") },
        { 2, textSelectionEntry(0, "Telem Ratio", { "Std", "Off", "1:128", "1:64", "1:32", "1:16", "1:8", "1:4", "1:2",
                                                    "Race" }, 0, 0, 9, 0) },
        { 3, textSelectionEntry(0, "Switch Mode", { "Wide", "Hybrid" }, 1, 0, 1, 1) },
        { 4, folderEntry(0, "TX Power") },
        { 5, textSelectionEntry(4, "Max Power", { "10", "25", "50", "100", "250" }, 3, 0, 4, 2, "mW") },
        { 6, textSelectionEntry(4, "Dynamic", onOff, 1, 0, 1, 0) },
        { 7, uint8Entry(0, "Model Id", 0, 0, 63, 0) },
        { 8, infoEntry(0, "Version", "3.5.3") },
        { 16, commandEntry(0, "Enable WiFi") },
        { 17, commandEntry(0, "Enable Rx WiFi") },
    };
}

} // namespace ostratest
