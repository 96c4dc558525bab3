#include "support/simulatedreceiver.h"

#include <QTimer>

#include <algorithm>

#include "support/eventwait.h"
#include "support/simulatedtransmitter.h"

namespace ostratest {

namespace {

constexpr quint8 TypeDevicePing = 0x28;
constexpr quint8 TypeDeviceInfo = 0x29;
constexpr quint8 TypeEntry = 0x2B;
constexpr quint8 TypeRead = 0x2C;
constexpr quint8 TypeWrite = 0x2D;
constexpr quint8 ReceiverAddress = 0xC8;
constexpr quint8 HandsetAddress = 0xEA;
constexpr quint8 ConfigToolAddress = 0xEF;

// Binary MSP traffic as it reaches the USB line before a text answer.
const QByteArray MspNoise = QByteArray::fromHex("90 01 fe 7f 00 ") + "$M";

const QStringList OnOff { QStringLiteral("Off"), QStringLiteral("On") };
constexpr int GpsRates[] = { 0, 1, 2, 4, 5, 10 };
constexpr int MotionRates[] = { 5, 10, 20, 25 };

struct Hud
{
    int minimum;
    int step;
    int options;
};
constexpr Hud HudTop { 10, 5, 29 };
constexpr Hud HudAccel { 5, 5, 20 };
constexpr Hud HudBrake { 10, 10, 20 };

int hudIndex(const Hud &hud, int value)
{
    return std::clamp((value - hud.minimum) / hud.step, 0, hud.options - 1);
}

QStringList hudOptions(const Hud &hud)
{
    QStringList labels;
    for (int i = 0; i < hud.options; ++i)
        labels.append(QString::number(hud.minimum + i * hud.step));
    return labels;
}

template<size_t N>
QStringList numberOptions(const int (&values)[N])
{
    QStringList labels;
    for (int v : values)
        labels.append(QString::number(v));
    return labels;
}

template<size_t N>
int indexIn(const int (&values)[N], int value)
{
    const auto it = std::find(std::begin(values), std::end(values), value);
    return it == std::end(values) ? 0 : int(it - std::begin(values));
}

QByteArray selection(const QByteArray &name, const QStringList &options, int value)
{
    return SimulatedTransmitter::textSelectionEntry(0, name, options, quint8(value), 0, quint8(options.size() - 1), 0);
}

} // namespace

QStringList SimulatedReceiver::allKeys()
{
    return { QStringLiteral("GPS"), QStringLiteral("IMU"), QStringLiteral("GPS_RATE"), QStringLiteral("MOTION"),
             QStringLiteral("MOTION_RATE"), QStringLiteral("GPS_ON"), QStringLiteral("MOTION_SENSORS"),
             QStringLiteral("OSD"), QStringLiteral("HUD_SPEED"), QStringLiteral("TYPE") };
}

SimulatedReceiver::SimulatedReceiver(QObject *parent)
    : QObject(parent)
    , m_poll(new QTimer(this))
{
    m_clock.start();
    m_poll->setInterval(1);
    connect(m_poll, &QTimer::timeout, this, &SimulatedReceiver::process);
    m_poll->start();
}

SimulatedReceiver::~SimulatedReceiver() = default;

QList<QByteArray> SimulatedReceiver::linesStartingWith(const QByteArray &prefix) const
{
    QList<QByteArray> out;
    for (const QByteArray &line : m_lines) {
        if (line.startsWith(prefix))
            out.append(line);
    }
    return out;
}

void SimulatedReceiver::clearRecords()
{
    process();
    m_lines.clear();
    m_lineTimes.clear();
    m_clock.restart();
    m_pings = 0;
    m_airRequests.clear();
}

void SimulatedReceiver::hangUp()
{
    process();
    m_poll->stop();
    m_pty.hangUp();
}

bool SimulatedReceiver::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    return waitWithEvents(done, timeoutMs, [this] { process(); });
}

bool SimulatedReceiver::waitForLine(const QByteArray &line, int timeoutMs)
{
    return waitFor([&] { return m_lines.contains(line); }, timeoutMs);
}

void SimulatedReceiver::process()
{
    if (!m_pty.isOpen())
        return;
    m_in.append(m_pty.readAvailable());
    qsizetype nl;
    while ((nl = m_in.indexOf('\n')) >= 0) {
        QByteArray line = m_in.left(nl);
        m_in.remove(0, nl + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        handleLine(line);
    }
}

bool SimulatedReceiver::sendLine(const QByteArray &line)
{
    return m_pty.write(line + "\r\n");
}

bool SimulatedReceiver::answer(const QByteArray &line)
{
    return sendLine(m_mspNoise ? MspNoise + line : line);
}

QByteArray SimulatedReceiver::telemLine() const
{
    const std::pair<const char *, int> values[] = {
        { "GPS", m_settings.gpsTelem },
        { "IMU", m_settings.imuTelem },
        { "MOTION", m_settings.motionTelem },
        { "GPS_RATE", m_settings.gpsRateHz },
        { "MOTION_RATE", m_settings.motionRateHz },
        { "GPS_ON", m_settings.gpsEnabled },
        { "MOTION_SENSORS", m_settings.motionSensors },
    };
    QByteArrayList parts;
    for (const auto &[key, value] : values) {
        if (hasKey(key))
            parts.append(QByteArray(key) + ':' + QByteArray::number(value));
    }
    return parts.isEmpty() ? QByteArray() : "TELEM:" + parts.join(' ');
}

void SimulatedReceiver::handleLine(const QByteArray &line)
{
    m_lines.append(line);
    m_lineTimes.append(m_clock.elapsed());
    if (m_silent)
        return;
    if (m_echoes)
        sendLine(line);

    const QByteArray unknown = "ERR unknown command";
    const QList<QByteArray> words = line.split(' ');
    const QByteArray command = words.value(0);
    const int arg = words.value(1).toInt();
    ReceiverSettings next = m_settings;
    const QByteArrayList setters { "SET_GPS", "GPS_RATE", "SET_GPS_TELEM", "SET_IMU_TELEM", "SET_MOTION_TELEM",
                                   "SET_MOTION_RATE", "SET_OSD", "SET_MOTION_SENSORS", "SET_HUD_SPEED" };

    if (command == "VER") {
        answer("QOR:" + m_firmware.toLatin1());
    } else if (command == "GET_TELEM") {
        const QByteArray telem = telemLine();
        answer(telem.isEmpty() ? unknown : telem);
    } else if (command == "GET_OSD") {
        answer(hasKey("OSD") ? "OSD:" + QByteArray::number(int(m_settings.osdEnabled)) : unknown);
    } else if (command == "GET_HUD_SPEED") {
        answer(hasKey("HUD_SPEED") ? QStringLiteral("HUD_SPEED:%1 %2 %3")
                                         .arg(m_settings.hudTopKmh)
                                         .arg(m_settings.hudAccelKmhS)
                                         .arg(m_settings.hudBrakeKmhS)
                                         .toLatin1()
                                   : unknown);
    } else if (command == "GET_IMU_AXES") {
        answer("IMU_AXES:" + m_imuAxes);
    } else if (command == "GET_TYPE") {
        answer(hasKey("TYPE") ? "TYPE:" + QByteArray::number(m_type) : unknown);
    } else if (command == "SET_GPS") {
        next.gpsEnabled = arg != 0;
    } else if (command == "GPS_RATE") {
        next.gpsRateHz = arg;
    } else if (command == "SET_GPS_TELEM") {
        next.gpsTelem = arg != 0;
    } else if (command == "SET_IMU_TELEM") {
        next.imuTelem = arg != 0;
    } else if (command == "SET_MOTION_TELEM") {
        next.motionTelem = arg != 0;
    } else if (command == "SET_MOTION_RATE") {
        next.motionRateHz = arg;
    } else if (command == "SET_OSD") {
        next.osdEnabled = arg != 0;
    } else if (command == "SET_MOTION_SENSORS") {
        next.motionSensors = arg != 0;
    } else if (command == "SET_HUD_SPEED") {
        next.hudTopKmh = arg;
        next.hudAccelKmhS = words.value(2).toInt();
        next.hudBrakeKmhS = words.value(3).toInt();
    } else if (command == "IMU_CAL") {
        answer("IMU calibration started");
    } else if (line == "IMU_ORIENT FLAT" || line == "IMU_ORIENT NOSEUP") {
        if (!m_mountingError.isEmpty())
            answer("IMU_ORIENT_ERR (" + m_mountingError + ")");
        else
            answer(line.endsWith("FLAT") ? "IMU_ORIENT_FLAT_OK" : "IMU_ORIENT_OK");
    } else if (command == "SET_TYPE") {
        m_pendingType = arg;
        answer("SET_TYPE_OK " + QByteArray::number(arg));
    } else if (command == "REBOOT") {
        if (m_restartsOnReboot && m_pendingType != 0)
            m_type = m_pendingType;
        m_pendingType = 0;
    } else if (command == "LED_COMMIT") {
        if (m_answersLedCommit)
            answer("LED_COMMIT_OK");
    } else if (command.startsWith("LED_")) {
        // The LED block is taken silently until its commit.
    } else {
        answer(unknown);
    }

    if (!setters.contains(command))
        return;
    if (m_appliesSettings)
        m_settings = next;
    if (command == "SET_GPS")
        answer("GPS_OK " + QByteArray::number(int(m_settings.gpsEnabled)));
    else if (command == "GPS_RATE")
        answer("GPS_RATE_OK " + QByteArray::number(m_settings.gpsRateHz));
    else if (command == "SET_OSD")
        answer("OSD_OK " + QByteArray::number(int(m_settings.osdEnabled)));
    else if (command == "SET_HUD_SPEED")
        answer(QStringLiteral("HUD_SPEED:%1 %2 %3")
                   .arg(m_settings.hudTopKmh)
                   .arg(m_settings.hudAccelKmhS)
                   .arg(m_settings.hudBrakeKmhS)
                   .toLatin1());
    else
        answer("OK");
}

void SimulatedReceiver::attach(SimulatedTransmitter *transmitter)
{
    m_tx = transmitter;
    connect(transmitter, &SimulatedTransmitter::frameReceived, this, &SimulatedReceiver::onAirFrame);
}

bool SimulatedReceiver::transmitting() const
{
    if (!m_tx)
        return false;
    const QList<QByteArray> lines = m_tx->lines();
    return lines.lastIndexOf("START") > lines.lastIndexOf("STOP");
}

void SimulatedReceiver::onAirFrame(quint8 type, const QByteArray &payload)
{
    if (!transmitting() || payload.size() < 2)
        return;
    if (type == TypeDevicePing) {
        ++m_pings;
        m_airRequests.append(QStringLiteral("ping"));
        if (!m_olderCar && !m_airSilent)
            sendDeviceInfo();
        return;
    }
    if ((type != TypeRead && type != TypeWrite) || payload.size() < 4 || quint8(payload.at(0)) != ReceiverAddress)
        return;
    const quint8 field = quint8(payload.at(2));
    const int arg = quint8(payload.at(3));
    if (type == TypeRead) {
        m_airRequests.append(arg == 0 ? QStringLiteral("read %1").arg(field) : QStringLiteral("read %1/%2").arg(field).arg(arg));
        // The older car receiver sends only the rest of an entry it answered a write with.
        if (m_airSilent || (m_olderCar && arg == 0) || m_unanswered.contains(field) || field > m_parameterCount)
            return;
        sendEntry(field, arg);
        return;
    }
    m_airRequests.append(QStringLiteral("write %1=%2").arg(field).arg(arg));
    if (m_airSilent || m_unanswered.contains(field) || !applyAirWrite(field, arg))
        return;
    sendEntry(field, 0);
}

void SimulatedReceiver::sendDeviceInfo()
{
    const QList<QString> version = m_firmware.split(QLatin1Char('.'));
    QByteArray payload;
    payload.append(char(HandsetAddress));
    payload.append(char(ReceiverAddress));
    payload.append(m_deviceName + '\0');
    payload.append(m_serial.leftJustified(4, '\0', true));
    payload.append(QByteArray(4, '\0'));
    payload.append('\0');
    for (int i = 0; i < 3; ++i)
        payload.append(char(version.value(i).toInt()));
    payload.append(char(m_parameterCount));
    payload.append('\0');
    m_tx->sendFrame(TypeDeviceInfo, payload);
}

void SimulatedReceiver::sendEntry(quint8 field, int chunk)
{
    const QByteArray entry = fieldEntry(field);
    if (entry.isEmpty())
        return;
    const int size = std::max(1, m_chunkSize);
    const int chunks = int((entry.size() + size - 1) / size);
    if (chunk >= chunks)
        return;
    QByteArray payload;
    payload.append(char(ConfigToolAddress));
    payload.append(char(ReceiverAddress));
    payload.append(char(field));
    payload.append(char(chunks - chunk - 1));
    payload.append(entry.mid(qsizetype(chunk) * size, size));
    m_tx->sendFrame(TypeEntry, payload);
}

int SimulatedReceiver::airValue(quint8 field) const
{
    const ReceiverSettings &s = m_settings;
    if (m_olderCar) {
        switch (field) {
        case 1: return s.osdEnabled;
        case 3: return hudIndex(HudTop, s.hudTopKmh);
        case 4: return hudIndex(HudAccel, s.hudAccelKmhS);
        case 5: return hudIndex(HudBrake, s.hudBrakeKmhS);
        case 6: return m_type - 1;
        default: return -1;
        }
    }
    switch (field) {
    case 1: return s.osdEnabled;
    case 3: return s.gpsEnabled;
    case 4: return indexIn(GpsRates, s.gpsRateHz);
    case 7: return s.gpsTelem;
    case 8: return s.imuTelem;
    case 9: return s.motionTelem;
    case 10: return indexIn(MotionRates, s.motionRateHz);
    case 15: return s.motionSensors;
    case 18: return hudIndex(HudTop, s.hudTopKmh);
    case 19: return hudIndex(HudAccel, s.hudAccelKmhS);
    case 20: return hudIndex(HudBrake, s.hudBrakeKmhS);
    case 21: return m_type - 1;
    default: return -1;
    }
}

QByteArray SimulatedReceiver::fieldEntry(quint8 field) const
{
    const QStringList modes { QStringLiteral("Car"), QStringLiteral("Heli") };
    if (m_olderCar) {
        switch (field) {
        case 1: return selection("OSD", OnOff, airValue(field));
        case 3: return selection("HUD Top", hudOptions(HudTop), airValue(field));
        case 4: return selection("HUD Accel", hudOptions(HudAccel), airValue(field));
        case 5: return selection("HUD Brake", hudOptions(HudBrake), airValue(field));
        case 6: return selection("Mode", modes, airValue(field));
        default: return QByteArray();
        }
    }
    switch (field) {
    case 1: return selection("OSD", OnOff, airValue(field));
    case 3: return selection("GPS", OnOff, airValue(field));
    case 4: return selection("GPS Rate", numberOptions(GpsRates), airValue(field));
    case 5: return SimulatedTransmitter::infoEntry(0, "GPS Status", m_gpsStatus);
    case 7: return selection("GPS Telem", OnOff, airValue(field));
    case 8: return selection("IMU Telem", OnOff, airValue(field));
    case 9: return selection("Motion Telem", OnOff, airValue(field));
    case 10: return selection("Motion Rate", numberOptions(MotionRates), airValue(field));
    case 12: return SimulatedTransmitter::infoEntry(0, "IMU Axes", m_imuAxes);
    case 13: return SimulatedTransmitter::commandEntry(0, "IMU_CAL", quint8(m_gyroStatus), 200, m_gyroInfo);
    case 14: return SimulatedTransmitter::infoEntry(0, "Model", m_deviceName);
    case 15: return selection("Motion Sensors", OnOff, airValue(field));
    case 16: return SimulatedTransmitter::commandEntry(0, "IMU_ORIENT FLAT", 0, 200, m_mountReply[0]);
    case 17: return SimulatedTransmitter::commandEntry(0, "IMU_ORIENT NOSEUP", 0, 200, m_mountReply[1]);
    case 18: return selection("HUD Top", hudOptions(HudTop), airValue(field));
    case 19: return selection("HUD Accel", hudOptions(HudAccel), airValue(field));
    case 20: return selection("HUD Brake", hudOptions(HudBrake), airValue(field));
    case 21: return selection("Mode", modes, airValue(field));
    default: return QByteArray();
    }
}

bool SimulatedReceiver::applyAirWrite(quint8 field, int value)
{
    ReceiverSettings next = m_settings;
    const auto hudValue = [value](const Hud &hud) { return std::min(value, hud.options - 1) * hud.step + hud.minimum; };
    if (m_olderCar) {
        switch (field) {
        case 1: next.osdEnabled = value != 0; break;
        case 3: next.hudTopKmh = hudValue(HudTop); break;
        case 4: next.hudAccelKmhS = hudValue(HudAccel); break;
        case 5: next.hudBrakeKmhS = hudValue(HudBrake); break;
        case 6: m_type = value + 1; return true;
        default: return false;
        }
    } else {
        switch (field) {
        case 1: next.osdEnabled = value != 0; break;
        case 3: next.gpsEnabled = value != 0; break;
        case 4: next.gpsRateHz = GpsRates[std::min<int>(value, int(std::size(GpsRates)) - 1)]; break;
        case 7: next.gpsTelem = value != 0; break;
        case 8: next.imuTelem = value != 0; break;
        case 9: next.motionTelem = value != 0; break;
        case 10: next.motionRateHz = MotionRates[std::min<int>(value, int(std::size(MotionRates)) - 1)]; break;
        case 15: next.motionSensors = value != 0; break;
        case 18: next.hudTopKmh = hudValue(HudTop); break;
        case 19: next.hudAccelKmhS = hudValue(HudAccel); break;
        case 20: next.hudBrakeKmhS = hudValue(HudBrake); break;
        case 21:
            if (m_appliesSettings)
                m_type = value + 1;
            return true;
        case 13:
            // Start asks for confirmation, the confirmation runs, a poll finds it done.
            if (value == 1) {
                m_gyroStatus = 3;
                m_gyroInfo = "Keep the car still?";
            } else if (value == 4) {
                m_gyroStatus = 2;
                m_gyroInfo = "Calibrating";
            } else {
                m_gyroStatus = 0;
                m_gyroInfo = value == 6 ? "Done" : "Cancelled";
            }
            return true;
        case 16:
        case 17:
            m_mountReply[field - 16] = m_mountingError.isEmpty() ? QByteArray(field == 16 ? "OK level" : "Saved") : m_mountingError;
            return true;
        default:
            return false;
        }
    }
    if (m_appliesSettings)
        m_settings = next;
    return true;
}

} // namespace ostratest
