#include "bridge/receiverconfigmanager.h"

#include <QTimer>

#include <algorithm>

#include "bridge/corvanecontroller.h"
#include "bridge/crsfprotocol.h"
#include "bridge/receiverelrslink.h"
#include "profiles/profilemanager.h"

namespace corvane {

namespace {

constexpr int kGpsRates[] = { 0, 1, 2, 4, 5, 10 };
constexpr int kMotionRates[] = { 5, 10, 20, 25 };
constexpr int kGyroPollDelayMs = 500;
constexpr qint64 kGpsFreshMs = 2999;
constexpr int kFastRetryMs = 10000;
constexpr int kSlowRetryMs = 60000;

// The option index of each HUD value, the same for both receivers.
struct HudOption
{
    quint8 v4Field;
    quint8 basicField;
    int minimum;
    int step;
    int options;
};
constexpr HudOption kHudTop { 18, 3, 10, 5, 29 };
constexpr HudOption kHudAccel { 19, 4, 5, 5, 20 };
constexpr HudOption kHudBrake { 20, 5, 10, 10, 20 };

int hudIndex(const HudOption &hud, int value)
{
    const qint64 index = (qint64(hud.step / 2) - hud.minimum + value) / hud.step;
    return int(std::clamp<qint64>(index, 0, hud.options - 1));
}

int hudValue(const HudOption &hud, int index)
{
    return std::min(index, hud.options - 1) * hud.step + hud.minimum;
}

template<size_t N>
int indexOf(const int (&table)[N], int value)
{
    const auto it = std::find(std::begin(table), std::end(table), value);
    return it == std::end(table) ? -1 : int(it - std::begin(table));
}

} // namespace

int ReceiverConfigManager::elrsRetryIntervalMs(const ReceiverCaps &caps)
{
    const QStringList parts = caps.firmware.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (parts.size() < 2)
        return kSlowRetryMs;
    const int major = parts.at(0).toInt();
    const int minor = parts.at(1).toInt();
    if (major >= 5 || (major == 4 && minor >= 3))
        return kFastRetryMs;
    return kSlowRetryMs;
}

QString ReceiverConfigManager::formatImuAxes(const QString &text)
{
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() != 3)
        return text;
    static const char *const prefixes[] = { "FWD=", "LEFT=", "UP=" };
    QStringList out;
    for (int i = 0; i < 3; ++i)
        out.append(QLatin1String(prefixes[i]) + words.at(i).mid(1));
    return out.join(QLatin1Char(' '));
}

void ReceiverConfigManager::onCarLinkChanged(bool linked)
{
    const Profile *p = profile();
    if (linked && isCarProfile()) {
        if (p->receiverCaps.isAdvanced()) {
            m_elrsLink->setRetryIntervalMs(elrsRetryIntervalMs(p->receiverCaps));
            m_elrsLink->noteCarAlive();
        } else {
            // The basic car receiver does not answer the search: its settings go by direct writes.
            m_osdUnanswered = false;
            m_hudUnanswered = false;
            QTimer::singleShot(BasicPushDelayMs, Qt::PreciseTimer, this, &ReceiverConfigManager::pushBasicReceiverSetting);
        }
    }
    emit stateChanged();
}

void ReceiverConfigManager::onCarTelemetry(quint8 frameType)
{
    const bool gps = frameType == CrsfProtocol::FrameGps;
    if (!gps && frameType != CrsfProtocol::FrameAttitude && frameType != CrsfProtocol::FrameGForce)
        return;
    const Profile *p = profile();
    if (!isCarProfile())
        return;
    m_elrsLink->setRetryIntervalMs(elrsRetryIntervalMs(p->receiverCaps));
    m_elrsLink->noteCarAlive();
    ReceiverCaps c = caps();
    if (gps && !c.gps) {
        c.gps = true;
        setCaps(c);
    } else if (!gps && !c.imu) {
        c.imu = true;
        setCaps(c);
    }
}

void ReceiverConfigManager::onElrsStateChanged()
{
    const ReceiverElrsLink::State state = m_elrsLink->state();
    if (state == ReceiverElrsLink::Found) {
        m_elrsSyncState = ElrsSyncReading;
        m_elrsPushCount = 0;
    } else if (state == ReceiverElrsLink::Idle || state == ReceiverElrsLink::Searching) {
        m_elrsSyncState = ElrsSyncNone;
        if (!isUsbConnected())
            m_imuAxesText.clear();
    }
    if (m_elrsLink->isReachable() && !m_elrsLink->firmware().isEmpty()) {
        ReceiverCaps c = caps();
        if (c.firmware != m_elrsLink->firmware()) {
            c.firmware = m_elrsLink->firmware();
            setCaps(c);
        }
    }
    emit stateChanged();
}

ReceiverSettings ReceiverConfigManager::settingsFromElrs() const
{
    ReceiverSettings s = settings();
    const auto flag = [this](quint8 field, bool &target) {
        const int value = m_elrsLink->intValue(field);
        if (value >= 0)
            target = value != 0;
    };
    flag(OsdField, s.osdEnabled);
    flag(GpsOnField, s.gpsEnabled);
    flag(GpsTelemField, s.gpsTelem);
    flag(ImuTelemField, s.imuTelem);
    flag(MotionTelemField, s.motionTelem);
    flag(MotionSensorsField, s.motionSensors);
    const int gpsRate = m_elrsLink->intValue(GpsRateField);
    if (gpsRate >= 0 && gpsRate < int(std::size(kGpsRates)))
        s.gpsRateHz = kGpsRates[gpsRate];
    const int motionRate = m_elrsLink->intValue(MotionRateField);
    if (motionRate >= 0 && motionRate < int(std::size(kMotionRates)))
        s.motionRateHz = kMotionRates[motionRate];
    const auto hud = [this](const HudOption &option, int &target) {
        const int index = m_elrsLink->intValue(option.v4Field);
        if (index >= 0)
            target = hudValue(option, index);
    };
    hud(kHudTop, s.hudTopKmh);
    hud(kHudAccel, s.hudAccelKmhS);
    hud(kHudBrake, s.hudBrakeKmhS);
    return s;
}

void ReceiverConfigManager::applySettingsOverElrs()
{
    ReceiverSettings desired = settings();
    desired.normalizeHud();
    const ReceiverSettings onBoard = settingsFromElrs();
    int writes = 0;
    const auto write = [&](quint8 field, int value) {
        m_elrsLink->writeParameter(field, quint8(value));
        ++writes;
    };
    if (desired.gpsEnabled != onBoard.gpsEnabled)
        write(GpsOnField, desired.gpsEnabled);
    if (desired.gpsRateHz != onBoard.gpsRateHz && indexOf(kGpsRates, desired.gpsRateHz) >= 0)
        write(GpsRateField, indexOf(kGpsRates, desired.gpsRateHz));
    if (desired.gpsTelem != onBoard.gpsTelem)
        write(GpsTelemField, desired.gpsTelem);
    if (desired.imuTelem != onBoard.imuTelem)
        write(ImuTelemField, desired.imuTelem);
    if (desired.motionTelem != onBoard.motionTelem)
        write(MotionTelemField, desired.motionTelem);
    if (desired.motionRateHz != onBoard.motionRateHz && indexOf(kMotionRates, desired.motionRateHz) >= 0)
        write(MotionRateField, indexOf(kMotionRates, desired.motionRateHz));
    if (desired.osdEnabled != onBoard.osdEnabled)
        write(OsdField, desired.osdEnabled);
    if (desired.motionSensors != onBoard.motionSensors && m_elrsLink->intValue(MotionSensorsField) >= 0)
        write(MotionSensorsField, desired.motionSensors);
    const std::pair<const HudOption *, std::pair<int, int>> huds[] = {
        { &kHudTop, { desired.hudTopKmh, onBoard.hudTopKmh } },
        { &kHudAccel, { desired.hudAccelKmhS, onBoard.hudAccelKmhS } },
        { &kHudBrake, { desired.hudBrakeKmhS, onBoard.hudBrakeKmhS } },
    };
    for (const auto &[option, values] : huds) {
        if (values.first != values.second && m_elrsLink->intValue(option->v4Field) >= 0)
            write(option->v4Field, hudIndex(*option, values.first));
    }

    if (writes == 0) {
        m_elrsSyncState = ElrsSynced;
        emit stateChanged();
        return;
    }
    ++m_elrsPushCount;
    m_elrsSyncState = ElrsSyncWriting;
    emit stateChanged();
}

void ReceiverConfigManager::onElrsIdle()
{
    if (m_elrsLink->state() != ReceiverElrsLink::Ready || isUsbConnected())
        return;
    if (m_elrsSyncState == ElrsSyncReading) {
        const Profile *p = profile();
        if (p && !p->receiverSettings.initialized) {
            ReceiverSettings s = settingsFromElrs();
            s.initialized = true;
            s.motionTelem = true;
            storeSettings(s);
        }
        m_elrsPushCount = 0;
        applySettingsOverElrs();
        return;
    }
    if (m_elrsSyncState != ElrsSyncWriting)
        return;
    if (!m_elrsLink->isQor1()) {
        const QString gpsText = m_elrsLink->textValue(GpsStatusField);
        const int gpsField = m_elrsLink->intValue(GpsOnField);
        const bool gpsOn = gpsField >= 0 ? gpsField != 0 : settings().gpsEnabled;
        if (gpsText.isEmpty() || (gpsText == QLatin1String("Off")) == gpsOn)
            m_elrsLink->readParameter(GpsStatusField);
    }
    ReceiverSettings onBoard = settingsFromElrs();
    if (!sameValues(onBoard, settings())) {
        if (m_elrsPushCount < 2) {
            applySettingsOverElrs();
            return;
        }
        onBoard.initialized = true;
        storeSettings(onBoard);
    }
    m_elrsSyncState = ElrsSynced;
    emit stateChanged();
}

void ReceiverConfigManager::onGpsRefreshTimer()
{
    if (m_elrsLink->state() != ReceiverElrsLink::Ready || m_elrsSyncState != ElrsSynced || m_elrsLink->isQor1())
        return;
    const qint64 age = m_controller->gpsFixAgeMs();
    if (age == -1 || age > kGpsFreshMs)
        m_elrsLink->readParameter(GpsStatusField);
}

void ReceiverConfigManager::onElrsValueChanged(quint8 param)
{
    switch (param) {
    case GyroCalField:
        onGyroCalReply();
        break;
    case MountLevelField:
    case MountNoseUpField: {
        const QString text = m_elrsLink->textValue(param);
        if (isUsbConnected() || text.isEmpty())
            break;
        const bool ok = text.startsWith(QLatin1String("OK")) || text == QLatin1String("Saved");
        onMountingReply(param == MountNoseUpField ? 1 : 0, ok, text);
        break;
    }
    case GpsStatusField:
        emit stateChanged();
        break;
    case ModeField:
        if (m_modeChangeState == ModeChangeRunning && !isUsbConnected()) {
            m_modeChangeTimer->stop();
            const int target = m_modeTarget == QLatin1String("heli") ? 1 : 0;
            const int value = m_elrsLink->intValue(ModeField) != 0 ? 1 : 0;
            if (value != target) {
                m_modeChangeState = ModeChangeFailed;
                m_modeChangeText = tr("The receiver kept its mode. Try again.");
            } else {
                m_modeChangeState = ModeChangeDone;
                m_modeChangeText = target == 1
                    ? tr("Saved. The receiver restarts in helicopter mode (the car's link drops for a moment).")
                    : tr("Saved. The receiver restarts in car mode (the car's link drops for a moment).");
            }
        }
        emit stateChanged();
        break;
    case ImuAxesField:
        if (!isUsbConnected()) {
            m_imuAxesText = formatImuAxes(m_elrsLink->textValue(ImuAxesField));
            emit stateChanged();
        }
        break;
    default:
        break;
    }
}

void ReceiverConfigManager::onGyroCalReply()
{
    if (m_gyroCalState != GyroCalRunning)
        return;
    const int status = m_elrsLink->intValue(GyroCalField);
    const QString text = m_elrsLink->textValue(GyroCalField);
    switch (status) {
    case 0:
        m_gyroCalTimer->stop();
        if (text == QLatin1String("Done")) {
            m_gyroCalState = GyroCalDone;
            m_gyroCalText = tr("Gyro calibrated, yaw reset to 0");
        } else {
            m_gyroCalState = GyroCalFailed;
            m_gyroCalText = text.isEmpty() ? tr("The receiver did not calibrate.") : tr("The receiver says: %1").arg(text);
        }
        emit gyroCalChanged();
        break;
    case 2:
        QTimer::singleShot(kGyroPollDelayMs, Qt::PreciseTimer, this, [this] {
            if (m_gyroCalState == GyroCalRunning && !isUsbConnected() && m_elrsLink->isReachable())
                m_elrsLink->writeParameter(GyroCalField, CommandPoll);
        });
        break;
    case 3:
        m_elrsLink->writeParameter(GyroCalField, CommandConfirm);
        m_gyroCalText = tr("Calibrating: keep the car still…");
        emit gyroCalChanged();
        break;
    default:
        break;
    }
}

void ReceiverConfigManager::onGyroCalTimeout()
{
    if (m_gyroCalState != GyroCalRunning)
        return;
    if (m_elrsLink->isReachable() && !isUsbConnected())
        m_elrsLink->writeParameter(GyroCalField, CommandCancel);
    m_gyroCalState = GyroCalFailed;
    m_gyroCalText = tr("Not finished: the car must stand still. Try again.");
    emit gyroCalChanged();
}

void ReceiverConfigManager::onCalibrationLinkCheck()
{
    if (m_gyroCalState != GyroCalRunning || m_elrsLink->isReachable() || isUsbConnected())
        return;
    m_gyroCalState = GyroCalFailed;
    m_gyroCalText = tr("Lost the receiver during calibration.");
    emit gyroCalChanged();
}

bool ReceiverConfigManager::directModeWrite()
{
    if (m_pendingModeFields.isEmpty())
        return false;
    const quint8 field = m_pendingModeFields.constFirst();
    if (!m_elrsLink->directWrite(field, m_modeTarget == QLatin1String("heli") ? 1 : 0))
        return false;
    m_pendingModeFields.removeFirst();
    return true;
}

void ReceiverConfigManager::onElrsDirectWriteDone(quint8 param, bool ok, int value)
{
    if ((param == LegacyModeField || param == ModeField) && m_modeChangeState == ModeChangeRunning
        && m_modeDirectWriteInFlight) {
        const int target = m_modeTarget == QLatin1String("heli") ? 1 : 0;
        if (!ok || value != target) {
            if (!directModeWrite()) {
                m_pendingModeFields.clear();
                m_modeDirectWriteInFlight = false;
                setModeChange(ModeChangeDone,
                              tr("Sent over ELRS, but no answer came back. If the receiver took it, it restarts now: "
                                 "its blue LED is solid in car mode, on for 2 s then two blinks in helicopter mode. "
                                 "It needs receiver firmware 4.5.3 (V4) or 1.9.2 (older receiver)."));
            }
        } else {
            m_pendingModeFields.clear();
            m_modeDirectWriteInFlight = false;
            if (param == LegacyModeField)
                m_legacyReceiverType = value;
            setModeChange(ModeChangeDone,
                          target == 1
                              ? tr("Saved. The receiver restarts in helicopter mode (the car's link drops for a moment).")
                              : tr("Saved. The receiver restarts in car mode (the car's link drops for a moment)."));
        }
    }

    if (!m_basicWritePending)
        return;
    const HudOption *hud = param == kHudTop.basicField ? &kHudTop
        : param == kHudAccel.basicField                ? &kHudAccel
        : param == kHudBrake.basicField                ? &kHudBrake
                                                       : nullptr;
    if (param != OsdField && !hud)
        return;
    m_basicWritePending = false;
    ReceiverCaps c = caps();
    if (!hud) {
        if (ok && (value == 0 || value == 1)) {
            c.osdOnBoard = value;
            setCaps(c);
        } else {
            m_osdUnanswered = true;
        }
    } else if (ok && value >= 0 && value < hud->options) {
        int &onBoard = hud == &kHudTop ? c.hudTopOnBoard : hud == &kHudAccel ? c.hudAccelOnBoard : c.hudBrakeOnBoard;
        onBoard = hudValue(*hud, value);
        setCaps(c);
    } else {
        m_hudUnanswered = true;
    }
    pushBasicReceiverSetting();
    emit stateChanged();
}

void ReceiverConfigManager::pushBasicReceiverSetting()
{
    if (!isBasicCarReceiver() || isUsbConnected() || m_basicWritePending || !m_controller->isRunning()
        || !m_controller->isCarLinked())
        return;
    const ReceiverSettings desired = settings();
    const ReceiverCaps onBoard = caps();
    const int osd = desired.osdEnabled ? 1 : 0;
    bool sent = false;
    if (!m_osdUnanswered && onBoard.osdOnBoard != osd) {
        sent = m_elrsLink->directWrite(OsdField, quint8(osd));
    } else if (!m_hudUnanswered) {
        const std::pair<const HudOption *, std::pair<int, int>> huds[] = {
            { &kHudTop, { desired.hudTopKmh, onBoard.hudTopOnBoard } },
            { &kHudAccel, { desired.hudAccelKmhS, onBoard.hudAccelOnBoard } },
            { &kHudBrake, { desired.hudBrakeKmhS, onBoard.hudBrakeOnBoard } },
        };
        for (const auto &[option, values] : huds) {
            if (values.first != values.second) {
                sent = m_elrsLink->directWrite(option->basicField, quint8(hudIndex(*option, values.first)));
                break;
            }
        }
    }
    if (sent) {
        m_basicWritePending = true;
        emit stateChanged();
    }
}

} // namespace corvane
