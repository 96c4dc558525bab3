#include "bridge/corvanecontroller.h"

#include <QDateTime>
#include <QDebug>
#include <QTimer>

#include "bridge/motiontelemetrysender.h"
#include "bridge/receiverconfigmanager.h"
#include "profiles/profilemanager.h"
#include "profiles/profilename.h"

namespace corvane {

namespace {

constexpr quint8 kWrappedFrameType = 0x50;
constexpr quint8 kWrappedGForceTag = 0xCA;
constexpr int kWrappedMinPayload = 9;
constexpr int kGpsMinPayload = 15;
constexpr int kAttitudeMinPayload = 6;
constexpr int kGForceMinPayload = 7;
constexpr int kBatteryMotionMinPayload = 6;
constexpr float kAttitudeScale = 10000.0f;
constexpr float kRadToDeg = 57.29578f;
constexpr float kGravity = 9.80665f;
constexpr int kGForceGapLimit = 50;
constexpr qint64 kCarLinkTimeoutMs = 1500;
constexpr qint64 kGpsSatellitesValidMs = 3000;

int readSigned16(const QByteArray &payload, int offset)
{
    return int(qint16(quint16(CrsfProtocol::readBe16(payload, offset))));
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// A frame of a known type too short to hold its fields is dropped, with a trace of why.
bool longEnough(quint8 type, const QByteArray &payload, int minimum)
{
    if (payload.size() >= minimum)
        return true;
    qDebug().noquote() << QStringLiteral("Telemetry frame 0x%1 with %2 payload bytes dropped (needs %3)")
                                  .arg(type, 2, 16, QLatin1Char('0'))
                                  .arg(payload.size())
                                  .arg(minimum);
    return false;
}

} // namespace

void CorvaneController::onMonitorTimer()
{
    readControllers();
    emit inputChanged();
}

void CorvaneController::onLinkStatisticsReceived(const LinkStatistics &stats)
{
    m_linkStats = stats;
    m_linkStatsValid = true;
    if (stats.linkQuality != 0) {
        m_carLinkStopwatch.restart();
        if (!m_carLinked)
            setCarLinked(true);
    }
    emit linkStatisticsUpdated(stats);
}

void CorvaneController::onCrsfTelemetryFrame(quint8 type, const QByteArray &payload)
{
    if (type == kWrappedFrameType) {
        if (longEnough(type, payload, kWrappedMinPayload) && quint8(payload.at(1)) == kWrappedGForceTag)
            onCrsfTelemetryFrame(CrsfProtocol::FrameGForce, payload.mid(2));
        return;
    }

    emit crsfFrameReceived(type, payload);
    m_receiverConfig->onCarTelemetry(type);
    updateTelemetrySensors(type, payload);

    switch (type) {
    case CrsfProtocol::FrameGps: {
        if (!longEnough(type, payload, kGpsMinPayload))
            break;
        const GpsFix fix = CrsfProtocol::parseGps(payload);
        const qint64 now = nowMs();
        m_gpsSatellites = fix.satellites;
        m_gpsPacketTimeMs = now;
        if (fix.valid) {
            m_gpsFix = fix;
            m_gpsFixTimeMs = now;
        }
        emit gpsUpdated(m_gpsFix);
        break;
    }
    case CrsfProtocol::FrameAttitude: {
        if (!longEnough(type, payload, kAttitudeMinPayload))
            break;
        const float pitch = float(readSigned16(payload, 0)) / kAttitudeScale * kRadToDeg;
        const float roll = float(readSigned16(payload, 2)) / kAttitudeScale * kRadToDeg;
        const float yaw = float(readSigned16(payload, 4)) / kAttitudeScale * kRadToDeg;
        const HelicopterConfig::Attitude inversion = m_profiles->helicopterConfig().attitude;
        m_heliAttitude = { inversion.invertPitch ? -pitch : pitch, inversion.invertRoll ? -roll : roll,
                           inversion.invertYaw ? -yaw : yaw };
        m_heliAttitudeValid = true;
        emit heliAttitudeReceived(m_heliAttitude[0], m_heliAttitude[1], m_heliAttitude[2]);
        m_motionSender->setAttitude(pitch, roll, yaw);
        emit carAttitudeReceived(pitch, roll, yaw);
        break;
    }
    case CrsfProtocol::FrameGForce: {
        if (!longEnough(type, payload, kGForceMinPayload))
            break;
        const GForceSample sample = CrsfProtocol::parseGForceFrame(payload);
        if (!sample.valid)
            break;
        if (m_lastGForceSequence != -1) {
            const int gap = quint8(sample.sequence - m_lastGForceSequence - 1);
            // A long gap is a restart of the sender rather than lost frames.
            if (gap < kGForceGapLimit)
                m_motionFramesLost += gap;
        }
        m_lastGForceSequence = sample.sequence;
        handleCarMotion(sample.x, sample.y, sample.z);
        break;
    }
    case CrsfProtocol::FrameBattery:
        // A receiver without motion telemetry sends its motion in the battery frame.
        if (receiverMotionLevel() != 0 || !longEnough(type, payload, kBatteryMotionMinPayload))
            break;
        m_motionSender->setSpeed(float(readSigned16(payload, 2)) / 100.0f);
        handleCarMotion(0.0f, -(float(readSigned16(payload, 0)) / 100.0f) / kGravity, 0.0f);
        break;
    default:
        break;
    }
}

void CorvaneController::handleCarMotion(float lonG, float latG, float vertG)
{
    m_motion = { lonG, latG, vertG };
    m_motionStopwatch.restart();
    ++m_motionFramesReceived;
    if (!m_motionStatsStopwatch.isValid())
        m_motionStatsStopwatch.start();
    m_receiverFfbWaitTimer->stop();
    setReceiverFfbState(ReceiverFfbActive);
    m_motionSender->setGForces(lonG, latG, vertG);
    emit carMotionReceived(lonG, latG, vertG);
    if (!m_ffbTimer->isActive())
        m_ffbTimer->start();
}

void CorvaneController::checkCarLink()
{
    if (m_carLinked && (!m_carLinkStopwatch.isValid() || m_carLinkStopwatch.elapsed() > kCarLinkTimeoutMs))
        setCarLinked(false);

    const qint64 now = nowMs();
    int stale = 0;
    for (const TelemetrySensor &sensor : std::as_const(m_sensors)) {
        if (sensor.isStale(now))
            ++stale;
    }
    if (stale != m_staleSensorCount) {
        m_staleSensorCount = stale;
        emit telemetrySensorsUpdated();
    }
}

void CorvaneController::setCarLinked(bool linked)
{
    if (m_carLinked == linked)
        return;
    m_carLinked = linked;
    if (linked) {
        emit carLinkChanged(true);
        return;
    }
    // The sensors show what a zero reading of their frame would show.
    const int level = receiverMotionLevel();
    for (auto it = m_telemetryPayloadLengths.constBegin(); it != m_telemetryPayloadLengths.constEnd(); ++it) {
        const QList<TelemetrySensor> zeros = CrsfProtocol::decodeTelemetry(it.key(), QByteArray(it.value(), '\0'), level);
        for (const TelemetrySensor &zero : zeros) {
            const auto sensor = m_sensors.find(zero.id);
            if (sensor != m_sensors.end())
                sensor->value = zero.value;
        }
    }
    emit telemetrySensorsUpdated();
    m_motion = { 0.0f, 0.0f, 0.0f };
    m_motionSender->setGForces(0.0f, 0.0f, 0.0f);
    m_motionSender->setAttitude(0.0f, 0.0f, 0.0f);
    emit carMotionReceived(0.0f, 0.0f, 0.0f);
    emit carAttitudeReceived(0.0f, 0.0f, 0.0f);
    emit carLinkChanged(false);
}

qint64 CorvaneController::gpsFixAgeMs() const
{
    return m_gpsFixTimeMs < 0 ? -1 : nowMs() - m_gpsFixTimeMs;
}

int CorvaneController::gpsSatellites() const
{
    if (!m_carLinked || m_gpsPacketTimeMs < 0 || nowMs() - m_gpsPacketTimeMs >= kGpsSatellitesValidMs)
        return -1;
    return m_gpsSatellites;
}

MotionTelemetrySender::Controls CorvaneController::fillMotionControls() const
{
    MotionTelemetrySender::Controls controls;
    controls.steering = processAxis(m_axisSettings.steering, effectiveSteeringInput(), true);
    controls.throttle = processAxis(m_axisSettings.throttle, throttle(), false);
    controls.brake = processAxis(m_axisSettings.brake, brake(), false);
    controls.clutch = processAxis(m_axisSettings.clutch, clutch(), false);
    controls.gear = m_currentGear;
    return controls;
}

void CorvaneController::updateTelemetrySensors(quint8 type, const QByteArray &payload)
{
    const QList<TelemetrySensor> decoded = CrsfProtocol::decodeTelemetry(type, payload, receiverMotionLevel());
    if (decoded.isEmpty())
        return;
    m_telemetryPayloadLengths.insert(type, int(payload.size()));
    const qint64 now = nowMs();
    const bool discover = telemetryDiscoverEnabled();
    bool added = false;
    for (const TelemetrySensor &fresh : decoded) {
        const auto known = m_sensors.find(fresh.id);
        if (known != m_sensors.end()) {
            known->label = fresh.label;
            known->value = fresh.value;
            known->lastUpdateMs = now;
        } else if (discover) {
            TelemetrySensor sensor = fresh;
            sensor.lastUpdateMs = now;
            m_sensors.insert(sensor.id, sensor);
            m_sensorOrder.append(sensor.id);
            added = true;
        }
    }
    if (added) {
        m_sensorSaveTimer->start();
        emit telemetrySensorListChanged();
    }
    emit telemetrySensorsUpdated();
}

QList<TelemetrySensor> CorvaneController::telemetrySensors() const
{
    QList<TelemetrySensor> list;
    list.reserve(m_sensorOrder.size());
    for (const QString &id : m_sensorOrder)
        list.append(m_sensors.value(id));
    return list;
}

TelemetrySensor CorvaneController::findTelemetrySensor(const QString &id) const
{
    return m_sensors.value(id);
}

void CorvaneController::loadTelemetrySensors()
{
    m_sensors.clear();
    m_sensorOrder.clear();
    m_staleSensorCount = -1;
    if (const Profile *profile = m_profiles->activeProfile()) {
        for (const TelemetrySensorEntry &entry : profile->telemetrySensors) {
            if (entry.id.isEmpty() || m_sensors.contains(entry.id))
                continue;
            TelemetrySensor sensor;
            sensor.id = entry.id;
            sensor.label = entry.label.isEmpty() ? entry.id : entry.label;
            sensor.name = entry.name;
            m_sensors.insert(sensor.id, sensor);
            m_sensorOrder.append(sensor.id);
        }
    }
    emit telemetrySensorListChanged();
    emit telemetrySensorsUpdated();
}

void CorvaneController::saveTelemetrySensors()
{
    m_sensorSaveTimer->stop();
    Profile *profile = m_profiles->mutableActiveProfile();
    if (!profile)
        return;
    QList<TelemetrySensorEntry> entries;
    entries.reserve(m_sensorOrder.size());
    for (const QString &id : std::as_const(m_sensorOrder)) {
        const TelemetrySensor sensor = m_sensors.value(id);
        entries.append(TelemetrySensorEntry { sensor.id, sensor.label, sensor.name });
    }
    profile->telemetrySensors = entries;
    m_profiles->saveActiveProfile();
}

void CorvaneController::removeTelemetrySensor(const QString &id)
{
    if (!m_sensors.remove(id))
        return;
    m_sensorOrder.removeAll(id);
    saveTelemetrySensors();
    QStringList dashboard = telemetryDashboard();
    if (dashboard.removeAll(id) > 0)
        setTelemetryDashboard(dashboard);
    emit telemetrySensorListChanged();
    emit telemetrySensorsUpdated();
}

bool CorvaneController::renameTelemetrySensor(const QString &id, const QString &name)
{
    const auto sensor = m_sensors.find(id);
    if (sensor == m_sensors.end())
        return false;
    if (const QString refusal = telemetrySensorNameRefusal(id, name); !refusal.isEmpty()) {
        emit errorOccurred(refusal);
        return false;
    }
    const QString clean = ProfileName::normalized(name);
    if (clean == sensor->name)
        return true;
    sensor->name = clean;
    saveTelemetrySensors();
    emit telemetrySensorListChanged();
    emit telemetryDashboardChanged();
    return true;
}

QString CorvaneController::telemetrySensorNameRefusal(const QString &id, const QString &name) const
{
    const auto sensor = m_sensors.constFind(id);
    if (sensor != m_sensors.cend() && ProfileName::normalized(name) == sensor->name)
        return {};
    return ProfileName::refusal(name, ProfileName::Of::TelemetrySensor);
}

void CorvaneController::clearTelemetrySensors()
{
    m_sensors.clear();
    m_sensorOrder.clear();
    saveTelemetrySensors();
    emit telemetrySensorListChanged();
    emit telemetrySensorsUpdated();
}

QStringList CorvaneController::telemetryDashboard() const
{
    const Profile *profile = m_profiles->activeProfile();
    return profile ? profile->telemetryDashboard : QStringList();
}

void CorvaneController::setTelemetryDashboard(const QStringList &ids)
{
    Profile *profile = m_profiles->mutableActiveProfile();
    if (!profile)
        return;
    // Written even when memory holds it: a save of it may have failed.
    const bool changed = profile->telemetryDashboard != ids;
    profile->telemetryDashboard = ids;
    m_profiles->saveActiveProfile();
    if (changed)
        emit telemetryDashboardChanged();
}

bool CorvaneController::telemetryDiscoverEnabled() const
{
    const Profile *profile = m_profiles->activeProfile();
    return profile ? profile->telemetryDiscover : true;
}

void CorvaneController::setTelemetryDiscover(bool on)
{
    Profile *profile = m_profiles->mutableActiveProfile();
    if (!profile)
        return;
    // Written even when memory holds it: a save of it may have failed.
    const bool changed = profile->telemetryDiscover != on;
    profile->telemetryDiscover = on;
    m_profiles->saveActiveProfile();
    if (changed)
        emit telemetrySensorListChanged();
}

} // namespace corvane
