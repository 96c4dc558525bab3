#include "bridge/motiontelemetrysender.h"

#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/network/datagramroute.h"
#include "platform/storage/settingsfile.h"

namespace corvane {

namespace {

const char SettingsGroup[] = "motionTelemetry";
const char DefaultHost[] = "127.0.0.1";

constexpr float DegToRad = 0.017453292f;
constexpr float RadToDeg = 57.29578f;
constexpr float Pi = 3.14159265358979f;
constexpr float GravityMs2 = 9.80665f;
constexpr float GForceSmoothing = 0.25f;
constexpr float AttitudeSmoothing = 0.08f;
constexpr float SpeedSmoothing = 0.25f;
constexpr float HeaveDecay = 0.97f;
constexpr qint64 GForceStaleMs = 300;
constexpr qint64 AttitudeStaleMs = 1000;
// While sends keep failing the reason is asked again this often, so that it follows the network.
constexpr qint64 FailureRecheckMs = 1000;

// Float slots of the packet layout that this sender fills.
enum PacketIndex {
    TotalTime = 0,
    LapTime = 1,
    VelocityY = 9,
    RollX = 11,
    RollY = 12,
    RollZ = 13,
    PitchX = 14,
    PitchY = 15,
    PitchZ = 16,
    Throttle = 29,
    Steering = 30,
    Brake = 31,
    Clutch = 32,
    Gear = 33,
    GForceLat = 34,
    GForceLon = 35,
    EngineRate = 37,
    MaxEngineRate = 63,
    IdleEngineRate = 64,
    MaxGears = 65,
};

constexpr float ReverseGearValue = 10.0f;
constexpr float EngineRateIdle = 100.0f;
constexpr float EngineRateSpan = 700.0f;
constexpr float EngineRateMax = 800.0f;
constexpr float GearCount = 6.0f;

QHostAddress addressFor(const QString &host)
{
    QHostAddress address;
    if (!address.setAddress(host))
        return QHostAddress(QHostAddress::LocalHost);
    return address;
}

} // namespace

MotionTelemetrySender::MotionTelemetrySender(QObject *parent)
    : QObject(parent)
    , m_socket(new QUdpSocket(this))
    , m_tickTimer(new QTimer(this))
    , m_settings(new SettingsFile(this))
{
    m_tickTimer->setInterval(TickIntervalMs);
    m_tickTimer->setTimerType(Qt::PreciseTimer);
    connect(m_tickTimer, &QTimer::timeout, this, &MotionTelemetrySender::sendPacket);
    // A hand edit or a tool changed the output: it streams as the file says, as the next start would.
    connect(m_settings, &SettingsFile::changedOnDisk, this, [this](const QStringList &keys) {
        const QString group = QLatin1String(SettingsGroup) + QLatin1Char('/');
        if (std::none_of(keys.cbegin(), keys.cend(), [&group](const QString &key) { return key.startsWith(group); }))
            return;
        const bool wasEnabled = m_enabled;
        loadSettings();
        if (m_enabled != wasEnabled)
            switchOutput(m_enabled);
    });
    loadSettings();
    if (m_enabled)
        m_runClock.start();
    applyTimerRule();
}

MotionTelemetrySender::~MotionTelemetrySender() = default;

void MotionTelemetrySender::loadSettings()
{
    const QString group = QLatin1String(SettingsGroup) + QLatin1Char('/');
    m_enabled = m_settings->value(group + QLatin1String("enabled"), false).toBool();
    m_host = m_settings->value(group + QLatin1String("host"), QString::fromLatin1(DefaultHost)).toString();
    bool ok = false;
    const uint port = m_settings->value(group + QLatin1String("port"), uint(DefaultPort)).toUInt(&ok);
    m_port = ok ? quint16(port) : DefaultPort;
    rebuildAddress();
}

void MotionTelemetrySender::saveSettings(const QStringList &keys) const
{
    const QVariantMap values{{QStringLiteral("enabled"), m_enabled}, {QStringLiteral("host"), m_host}, {QStringLiteral("port"), uint(m_port)}};
    QVariantMap changed;
    for (const QString &key : keys)
        changed.insert(key, values.value(key));
    m_settings->setValues(QLatin1String(SettingsGroup), changed);
}

void MotionTelemetrySender::setEnabled(bool on)
{
    if (m_enabled == on)
        return;
    switchOutput(on);
    saveSettings({QStringLiteral("enabled")});
}

void MotionTelemetrySender::switchOutput(bool on)
{
    m_enabled = on;
    if (on) {
        m_runClock.start();
        m_packetCount = 0;
        m_sendFailure.clear();
    }
    applyTimerRule();
    emit enabledChanged(on);
}

void MotionTelemetrySender::setTarget(const QString &host, quint16 port)
{
    m_host = host;
    m_port = port;
    rebuildAddress();
    m_sendFailure.clear();
    saveSettings({QStringLiteral("host"), QStringLiteral("port")});
}

void MotionTelemetrySender::addUser()
{
    ++m_users;
    applyTimerRule();
}

void MotionTelemetrySender::removeUser()
{
    if (m_users > 0)
        --m_users;
    applyTimerRule();
}

void MotionTelemetrySender::setGForces(float longitudinal, float lateral, float vertical)
{
    m_rawLon = longitudinal;
    m_rawLat = lateral;
    m_rawVert = vertical;
    m_gForcesLive = true;
    m_gForceClock.restart();
}

void MotionTelemetrySender::setAttitude(float pitchDeg, float rollDeg, float yawDeg)
{
    m_pitchTarget = pitchDeg * DegToRad;
    m_rollTarget = rollDeg * DegToRad;
    if (m_yawInitialised) {
        float step = yawDeg - m_lastYawDeg;
        // A non-finite step would never leave the folding loops.
        if (std::isfinite(step)) {
            step = std::fmod(step, 360.0f);
            while (step > 180.0f)
                step -= 360.0f;
            while (step < -180.0f)
                step += 360.0f;
            m_yawTarget += step * DegToRad;
        }
    } else {
        m_yawTarget = m_yaw;
        m_yawInitialised = true;
    }
    m_lastYawDeg = yawDeg;
    m_attitudeLive = true;
    m_attitudeClock.restart();
}

void MotionTelemetrySender::setSpeed(float value)
{
    m_speedValue = value;
}

qint64 MotionTelemetrySender::msSinceGForces() const
{
    return m_gForceClock.isValid() ? m_gForceClock.elapsed() : -1;
}

MotionTelemetrySender::PreviewState MotionTelemetrySender::previewState() const
{
    PreviewState state;
    state.lon = m_lon;
    state.lat = m_lat;
    state.vert = m_vert;
    state.heaveVelocity = m_heaveVelocity;
    state.pitchDeg = m_pitch * RadToDeg;
    state.rollDeg = m_roll * RadToDeg;
    state.yawDeg = m_yaw * RadToDeg;
    state.gForcesLive = gForcesFresh();
    state.attitudeLive = attitudeFresh();
    return state;
}

bool MotionTelemetrySender::gForcesFresh() const
{
    return m_gForcesLive && m_gForceClock.isValid() && m_gForceClock.elapsed() <= GForceStaleMs;
}

bool MotionTelemetrySender::attitudeFresh() const
{
    return m_attitudeLive && m_attitudeClock.isValid()
        && m_attitudeClock.elapsed() <= AttitudeStaleMs;
}

void MotionTelemetrySender::setControlsProvider(ControlsProvider provider)
{
    m_controlsProvider = std::move(provider);
}

void MotionTelemetrySender::sendPacket()
{
    const float dt = m_tickClock.isValid() ? float(m_tickClock.restart()) / 1000.0f : 0.0f;
    if (!m_tickClock.isValid())
        m_tickClock.start();

    if (!gForcesFresh()) {
        m_rawLon = m_rawLat = m_rawVert = 0.0f;
        m_speedValue = 0.0f;
    }
    if (!attitudeFresh()) {
        m_pitchTarget = m_rollTarget = 0.0f;
        m_attitudeLive = false;
        m_yawInitialised = false;
    }

    m_lon += (m_rawLon - m_lon) * GForceSmoothing;
    m_lat += (m_rawLat - m_lat) * GForceSmoothing;
    m_vert += (m_rawVert - m_vert) * GForceSmoothing;
    m_pitch += (m_pitchTarget - m_pitch) * AttitudeSmoothing;
    m_roll += (m_rollTarget - m_roll) * AttitudeSmoothing;

    if (m_yawInitialised) {
        m_yaw += (m_yawTarget - m_yaw) * AttitudeSmoothing;
    } else {
        m_smoothedSpeedValue += (m_speedValue - m_smoothedSpeedValue) * SpeedSmoothing;
        m_yaw += m_smoothedSpeedValue * dt;
    }
    if (m_yaw > Pi) {
        m_yaw -= 2.0f * Pi;
        m_yawTarget -= 2.0f * Pi;
    } else if (m_yaw < -Pi) {
        m_yaw += 2.0f * Pi;
        m_yawTarget += 2.0f * Pi;
    }

    m_heaveVelocity = m_vert * GravityMs2 * dt + m_heaveVelocity * HeaveDecay;

    if (!m_enabled)
        return;

    std::array<float, PacketFloats> f {};
    const float seconds = m_runClock.isValid() ? float(m_runClock.elapsed()) / 1000.0f : 0.0f;
    f[TotalTime] = seconds;
    f[LapTime] = seconds;
    f[VelocityY] = m_heaveVelocity;
    f[RollX] = std::cos(m_roll) * std::cos(m_yaw);
    f[RollY] = -std::sin(m_roll);
    f[RollZ] = -std::sin(m_yaw) * std::cos(m_roll);
    f[PitchX] = std::cos(m_pitch) * std::sin(m_yaw);
    f[PitchY] = std::sin(m_pitch);
    f[PitchZ] = std::cos(m_pitch) * std::cos(m_yaw);
    f[EngineRate] = EngineRateIdle;
    if (m_controlsProvider) {
        const Controls c = m_controlsProvider();
        f[Throttle] = c.throttle;
        f[Steering] = c.steering;
        f[Brake] = c.brake;
        f[Clutch] = c.clutch;
        f[Gear] = c.gear < 0 ? ReverseGearValue : float(c.gear);
        f[EngineRate] = c.throttle * EngineRateSpan + EngineRateIdle;
    }
    f[GForceLat] = m_lat;
    f[GForceLon] = m_lon;
    f[MaxEngineRate] = EngineRateMax;
    f[IdleEngineRate] = EngineRateIdle;
    f[MaxGears] = GearCount;

    char bytes[PacketSize];
    for (int i = 0; i < PacketFloats; ++i)
        qToLittleEndian<float>(f[size_t(i)], bytes + 4 * i);
    if (m_socket->writeDatagram(bytes, PacketSize, m_address, m_port) > 0) {
        ++m_packetCount;
        m_sendFailure.clear();
    } else {
        noteSendFailure();
    }
}

void MotionTelemetrySender::noteSendFailure()
{
    if (!m_sendFailure.isEmpty() && m_failureClock.isValid() && m_failureClock.elapsed() < FailureRecheckMs)
        return;
    m_failureClock.start();
    m_sendFailure = DatagramRoute::sendFailure(m_address, m_port);
    if (m_sendFailure.isEmpty()) {
        // A route exists, yet the system refused the datagram (a firewall rule, for example).
        m_sendFailure = m_socket->errorString();
        if (m_sendFailure.isEmpty())
            m_sendFailure = tr("the system refused to send it");
        m_sendFailure[0] = m_sendFailure.at(0).toLower();
    }
}

void MotionTelemetrySender::applyTimerRule()
{
    if (m_enabled || m_users > 0) {
        if (!m_tickTimer->isActive()) {
            m_tickClock.start();
            m_tickTimer->start();
        }
    } else {
        m_tickTimer->stop();
    }
}

void MotionTelemetrySender::rebuildAddress()
{
    m_address = addressFor(m_host);
}

} // namespace corvane
