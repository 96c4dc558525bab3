#include "bridge/receiverconfigmanager.h"

#include <QRegularExpression>
#include <QTimer>

#include "bridge/corvanecontroller.h"
#include "bridge/receiverelrslink.h"
#include "profiles/profilemanager.h"

namespace corvane {

namespace {

int firmwareMajor(const QString &firmware)
{
    return firmware.section(QLatin1Char('.'), 0, 0).toInt();
}

} // namespace

QString ReceiverConfigManager::filterConsoleLine(const QString &line)
{
    QString text;
    text.reserve(line.size());
    for (const QChar c : line) {
        if (c.unicode() >= 32 && c.unicode() <= 126)
            text.append(c);
    }
    text = text.trimmed();
    const qsizetype msp = text.lastIndexOf(QLatin1String("$M"));
    if (msp < 0)
        return text;
    // The receiver's MSP traffic is mixed into the line: keep what follows it from a keyword on.
    static const QRegularExpression keyword(
        QStringLiteral("(QOR:|HW:|TYPE:|TELEM:|OSD|GPS|IMU|MOTION|CH12|CALIB|FAILSAFE|LED_|HUD_SPEED|Commands)"));
    const QRegularExpressionMatch match = keyword.match(text, msp);
    return match.hasMatch() ? text.mid(match.capturedStart()) : QString();
}

void ReceiverConfigManager::onReceiverLine(const QString &rawLine)
{
    const QString line = filterConsoleLine(rawLine);
    if (line.isEmpty())
        return;
    emit consoleLine(line);

    static const QRegularExpression versionPattern(QStringLiteral("QOR:(\\d+(?:\\.\\d+)*)"));
    static const QRegularExpression telemPattern(QStringLiteral("(?:^|[^_A-Z])TELEM:(.*)$"));
    static const QRegularExpression osdPattern(QStringLiteral("(?:^|[^_A-Z])OSD(?::|_OK )([01])"));
    static const QRegularExpression hudPattern(QStringLiteral("HUD_SPEED:(\\d+) (\\d+) (\\d+)"));
    static const QRegularExpression gpsOnPattern(QStringLiteral("(?:^|[^_A-Z])GPS_OK ([01])"));
    static const QRegularExpression gpsRatePattern(QStringLiteral("GPS_RATE_OK (\\d+)"));
    static const QRegularExpression axesPattern(QStringLiteral("IMU_AXES:(.*)$"));
    static const QRegularExpression typePattern(QStringLiteral("(?:^|[^_A-Z])TYPE:([12])"));
    static const QRegularExpression mountErrorPattern(QStringLiteral("IMU_ORIENT_ERR \\((.*)\\)"));

    bool settingsReply = false;

    QRegularExpressionMatch m = versionPattern.match(line);
    if (m.hasMatch()) {
        m_usbFirmware = m.captured(1);
        m_versionSeen = true;
        ReceiverCaps c = caps();
        if (c.firmware != m_usbFirmware) {
            c.firmware = m_usbFirmware;
            setCaps(c);
        }
        emit stateChanged();
    }

    m = telemPattern.match(line);
    if (m.hasMatch()) {
        const QStringList parts = m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &part : parts) {
            const qsizetype colon = part.indexOf(QLatin1Char(':'));
            if (colon < 0)
                continue;
            bool ok = false;
            const int value = part.mid(colon + 1).toInt(&ok);
            if (!ok)
                continue;
            const QString key = part.left(colon);
            if (key == QLatin1String("GPS"))
                m_reported.gpsTelem = value != 0;
            else if (key == QLatin1String("IMU"))
                m_reported.imuTelem = value != 0;
            else if (key == QLatin1String("MOTION"))
                m_reported.motionTelem = value != 0;
            else if (key == QLatin1String("GPS_ON"))
                m_reported.gpsEnabled = value != 0;
            else if (key == QLatin1String("MOTION_SENSORS"))
                m_reported.motionSensors = value != 0;
            else if (key == QLatin1String("GPS_RATE"))
                m_reported.gpsRateHz = value;
            else if (key == QLatin1String("MOTION_RATE"))
                m_reported.motionRateHz = value;
            else
                continue;
            m_reportedKeys.insert(key);
        }
        m_telemReplySeen = true;
        settingsReply = true;
    }

    m = osdPattern.match(line);
    if (m.hasMatch()) {
        const bool on = m.captured(1) == QLatin1String("1");
        m_reported.osdEnabled = on;
        if (isBasicCarReceiver()) {
            ReceiverCaps c = caps();
            c.osdOnBoard = on ? 1 : 0;
            setCaps(c);
        }
        m_reportedKeys.insert(QStringLiteral("OSD"));
        m_osdReplySeen = true;
        settingsReply = true;
    }

    m = hudPattern.match(line);
    if (m.hasMatch()) {
        m_reported.hudTopKmh = m.captured(1).toInt();
        m_reported.hudAccelKmhS = m.captured(2).toInt();
        m_reported.hudBrakeKmhS = m.captured(3).toInt();
        m_reportedKeys.insert(QStringLiteral("HUD_SPEED"));
        if (isBasicCarReceiver()) {
            ReceiverCaps c = caps();
            c.hudTopOnBoard = m_reported.hudTopKmh;
            c.hudAccelOnBoard = m_reported.hudAccelKmhS;
            c.hudBrakeOnBoard = m_reported.hudBrakeKmhS;
            setCaps(c);
        }
        settingsReply = true;
    }

    m = gpsOnPattern.match(line);
    if (m.hasMatch()) {
        m_reported.gpsEnabled = m.captured(1) == QLatin1String("1");
        m_reportedKeys.insert(QStringLiteral("GPS_ON"));
        settingsReply = true;
    }

    m = gpsRatePattern.match(line);
    if (m.hasMatch()) {
        m_reported.gpsRateHz = m.captured(1).toInt();
        m_reportedKeys.insert(QStringLiteral("GPS_RATE"));
        settingsReply = true;
    }

    m = axesPattern.match(line);
    if (m.hasMatch()) {
        m_imuAxesText = m.captured(1).trimmed();
        emit stateChanged();
    }

    m = typePattern.match(line);
    if (m.hasMatch()) {
        m_usbReceiverType = m.captured(1).toInt();
        m_reportedKeys.insert(QStringLiteral("TYPE"));
        if (m_modeChangeState == ModeChangeRunning && m_awaitingTypeAfterRestart) {
            m_awaitingTypeAfterRestart = false;
            m_modeChangeTimer->stop();
            const int expected = m_modeTarget == QLatin1String("heli") ? 2 : 1;
            QString text;
            if (m_usbReceiverType != expected)
                text = tr("Saved. Turn the receiver off and on to apply it (receiver firmware before 4.5.3 / "
                          "1.9.2 does not restart by itself).");
            else if (expected == 2)
                text = tr("The receiver is in helicopter mode.");
            else
                text = tr("The receiver is in car mode.");
            setModeChange(ModeChangeDone, text);
        }
    }

    if (line.contains(QLatin1String("IMU_ORIENT_FLAT_OK"))) {
        if (m_mountingState == MountingRunning && m_mountingStep == 0)
            onMountingReply(0, true, line);
    } else if (line.contains(QLatin1String("IMU_ORIENT_OK"))) {
        if (m_mountingState == MountingRunning && m_mountingStep == 1)
            onMountingReply(1, true, line);
    } else if (line.contains(QLatin1String("IMU_ORIENT_ERR"))) {
        m = mountErrorPattern.match(line);
        if (m_mountingState == MountingRunning)
            onMountingReply(m_mountingStep, false, m.hasMatch() ? m.captured(1) : line);
    }

    if (!settingsReply)
        return;
    if (!m_probing) {
        // A change made on the receiver itself, for example from the console.
        if (m_applied)
            adoptReportedSettings();
    } else if (m_telemReplySeen && m_osdReplySeen) {
        if (m_settingsSent) {
            m_replyTimer->stop();
            if (!sameValues(settings(), m_reported) && m_pushCount < 2) {
                applySettings();
            } else {
                adoptReportedSettings();
                m_probing = false;
                m_settingsSent = false;
                m_applied = true;
            }
        } else {
            syncAfterProbe();
        }
    }
    emit stateChanged();
}

QString ReceiverConfigManager::mountingFailureText(const QString &reason)
{
    const QString lower = reason.toLower();
    const auto has = [&lower](const char *text) { return lower.contains(QLatin1String(text)); };
    if (has("not flat") || has("not level"))
        return tr("The car is not flat and still. Put it on a flat surface and try again.");
    if (has("nose more") || has("tilt not detected"))
        return tr("No tilt seen: lift the front more (about 30°) and try again.");
    if (has("step 1") || has("flat first"))
        return tr("Start again from step 1.");
    if (has("no imu") || has("imu not running"))
        return tr("The receiver's IMU is not running.");
    return tr("The receiver says: %1").arg(reason);
}

void ReceiverConfigManager::onMountingReply(int step, bool ok, const QString &text)
{
    if (m_mountingState != MountingRunning || step != m_mountingStep)
        return;
    if (!ok) {
        finishMounting(MountingFailed, mountingFailureText(text));
        return;
    }
    if (step == 0) {
        finishMounting(MountingNeedNoseUp, tr("Level read. Now lift the FRONT of the car about 30° and hold it."));
        return;
    }
    finishMounting(MountingDone, tr("Mounting saved. Put the car down and keep it still for a second."));
    if (isUsbConnected())
        sendCommand(QStringLiteral("GET_IMU_AXES"));
    else
        m_elrsLink->readParameter(ImuAxesField);
}

void ReceiverConfigManager::adoptReportedSettings()
{
    ReceiverSettings s = settings();
    if (hasReportedKey("GPS_ON"))
        s.gpsEnabled = m_reported.gpsEnabled;
    if (hasReportedKey("GPS_RATE") && isGpsRate(m_reported.gpsRateHz))
        s.gpsRateHz = m_reported.gpsRateHz;
    if (hasReportedKey("GPS"))
        s.gpsTelem = m_reported.gpsTelem;
    if (hasReportedKey("IMU"))
        s.imuTelem = m_reported.imuTelem;
    if (hasReportedKey("MOTION"))
        s.motionTelem = m_reported.motionTelem;
    if (hasReportedKey("MOTION_RATE") && isMotionRate(m_reported.motionRateHz))
        s.motionRateHz = m_reported.motionRateHz;
    if (hasReportedKey("OSD"))
        s.osdEnabled = m_reported.osdEnabled;
    if (hasReportedKey("MOTION_SENSORS"))
        s.motionSensors = m_reported.motionSensors;
    if (hasReportedKey("HUD_SPEED")) {
        s.hudTopKmh = m_reported.hudTopKmh;
        s.hudAccelKmhS = m_reported.hudAccelKmhS;
        s.hudBrakeKmhS = m_reported.hudBrakeKmhS;
    }
    s.normalizeHud();
    s.initialized = true;
    storeSettings(s);
}

bool ReceiverConfigManager::isCarProfile() const
{
    const Profile *p = profile();
    return p && p->vehicleType == VehicleType::Car;
}

bool ReceiverConfigManager::isBasicCarReceiver() const
{
    return isCarProfile() && !profile()->receiverCaps.isAdvanced();
}

bool ReceiverConfigManager::supportsSetting(const QString &name) const
{
    if (isUsbConnected() || !m_elrsLink->isReachable())
        return m_reportedKeys.contains(name);
    const int count = m_elrsLink->parameterCount();
    if (m_elrsLink->isQor1()) {
        if (name == QLatin1String("OSD"))
            return true;
        return name == QLatin1String("HUD_SPEED") && count >= Qor1HudMinParameters;
    }
    if (name == QLatin1String("MOTION_SENSORS"))
        return count >= MotionSensorsMinParameters;
    if (name == QLatin1String("HUD_SPEED"))
        return count >= HudMinParameters;
    return true;
}

bool ReceiverConfigManager::canCalibrateGyro() const
{
    if (isUsbConnected())
        return !isBasicCarReceiver();
    return m_elrsLink->state() == ReceiverElrsLink::Ready && !m_elrsLink->isQor1();
}

bool ReceiverConfigManager::canDetectMounting() const
{
    if (isUsbConnected())
        return true;
    return m_elrsLink->state() == ReceiverElrsLink::Ready && m_elrsLink->parameterCount() >= MountingMinParameters;
}

bool ReceiverConfigManager::canChangeMode() const
{
    if (m_modeChangeState == ModeChangeRunning)
        return false;
    if (isUsbConnected())
        return hasReportedKey("TYPE");
    switch (m_elrsLink->state()) {
    case ReceiverElrsLink::Ready:
        return !m_elrsLink->isQor1() && m_elrsLink->parameterCount() >= ModeMinParameters;
    case ReceiverElrsLink::Idle:
        return m_controller->isRunning() && !m_controller->isConfigMode();
    default:
        return false;
    }
}

bool ReceiverConfigManager::isReachableOverElrs() const
{
    return !isUsbConnected() && m_elrsLink->isReachable();
}

bool ReceiverConfigManager::isSynced() const
{
    if (isUsbConnected())
        return m_applied;
    return m_elrsLink->isReachable() && m_elrsSyncState == ElrsSynced;
}

bool ReceiverConfigManager::isSyncing() const
{
    if (isUsbConnected())
        return m_probing;
    return m_elrsLink->isReachable()
        && (m_elrsSyncState == ElrsSyncReading || m_elrsSyncState == ElrsSyncWriting);
}

int ReceiverConfigManager::elrsStopReason() const
{
    return m_elrsLink->stopReason();
}

QString ReceiverConfigManager::receiverMode() const
{
    if (isUsbConnected()) {
        if (!hasReportedKey("TYPE"))
            return QString();
        return m_usbReceiverType == 2 ? QStringLiteral("heli") : QStringLiteral("car");
    }
    if (m_elrsLink->isReachable() && !m_elrsLink->isQor1()) {
        const int value = m_elrsLink->intValue(ModeField);
        if (value < 0)
            return QString();
        return value == 0 ? QStringLiteral("car") : QStringLiteral("heli");
    }
    if (isBasicCarReceiver() && m_legacyReceiverType >= 0)
        return m_legacyReceiverType == 0 ? QStringLiteral("car") : QStringLiteral("heli");
    return QString();
}

QString ReceiverConfigManager::statusText() const
{
    if (!isUsbConnected()) {
        if (m_elrsLink->isReachable()) {
            if (isSyncing())
                return tr("Reading the receiver over ELRS…");
            return tr("Connected over ELRS · firmware %1 · settings applied").arg(m_elrsLink->firmware());
        }
        const bool advanced = caps().isAdvanced();
        if (m_controller->isRunning() && m_controller->isCarLinked() && advanced) {
            if (m_elrsLink->stopReason() != ReceiverElrsLink::StopNone)
                return tr("Connected · settings not reachable over ELRS yet, trying again (needs receiver firmware "
                          "4.3.0 or later). Changes are saved and applied once they are.");
            return tr("Connected over ELRS · getting the receiver's settings…");
        }
        if (advanced)
            return tr("Receiver not connected. Start transmitting to reach it over ELRS, or plug in the J14 cable. "
                      "Changes are saved and applied the next time it is reached.");
        if (isBasicCarReceiver())
            return tr("Receiver not connected. OSD and HUD speed changes are sent over ELRS when you transmit "
                      "with the car on, or over the USB cable.");
        return tr("Receiver not connected.");
    }
    if (m_probing)
        return tr("Reading the receiver…");
    const QString suffix = m_usbFirmware.isEmpty() ? QString() : tr(" · firmware %1").arg(m_usbFirmware);
    if (m_applied)
        return tr("Connected%1 · settings applied").arg(suffix);
    if (!m_usbFirmware.isEmpty() && firmwareMajor(m_usbFirmware) <= 3)
        return tr("Connected%1 · this receiver has no GPS/IMU settings").arg(suffix);
    if (m_noReply)
        return tr("Connected · no reply to settings commands (older receiver?)");
    return tr("Connected%1").arg(suffix);
}

QString ReceiverConfigManager::summaryText() const
{
    return isUsbConnected() ? statusText() : tr("Not connected");
}

QString ReceiverConfigManager::connectionStatusText() const
{
    if (!m_controller->isRunning())
        return tr("Not connected · start transmission with the car on");
    if (!m_controller->isCarLinked())
        return tr("Not connected · the car is not answering (off or out of range)");
    switch (m_elrsLink->state()) {
    case ReceiverElrsLink::Searching:
        return tr("Connected · getting the receiver's settings…");
    case ReceiverElrsLink::Found:
        return tr("Connected · reading the receiver's settings…");
    case ReceiverElrsLink::Ready:
        if (isUsbConnected())
            return tr("Connected · firmware %1 · settings go over the USB cable while it is plugged in")
                .arg(m_elrsLink->firmware());
        if (isSyncing())
            return tr("Connected · applying settings…");
        return tr("Connected · firmware %1 · settings applied").arg(m_elrsLink->firmware());
    case ReceiverElrsLink::Idle:
    default:
        break;
    }
    if (!isBasicCarReceiver()) {
        if (m_elrsLink->stopReason() != ReceiverElrsLink::StopNone)
            return tr("Connected · its settings are not reachable over ELRS yet, trying again (needs receiver "
                      "firmware 4.3.0 or later)");
        return tr("Connected");
    }
    if (m_basicWritePending)
        return tr("Connected · sending the receiver settings…");
    if (m_osdUnanswered)
        return tr("Connected · the receiver did not answer the OSD setting (it needs QOR receiver firmware 1.8.0 or "
                  "later). It is sent again next time.");
    if (m_hudUnanswered)
        return tr("Connected · the receiver did not answer the HUD speed settings (they need QOR receiver firmware "
                  "1.9.1 or later). They are sent again next time.");
    return tr("Connected");
}

QString ReceiverConfigManager::modeHintText() const
{
    if (canChangeMode() || m_modeChangeState == ModeChangeRunning)
        return QString();
    if (!isUsbConnected()) {
        if (m_elrsLink->state() == ReceiverElrsLink::Found)
            return tr("Reading the receiver over ELRS…");
        if (m_elrsLink->state() == ReceiverElrsLink::Ready)
            return tr("Changing the mode over ELRS needs receiver firmware 4.5.3 or later. Update it, or plug in "
                      "the J14 cable.");
        if (m_controller->isRunning())
            return tr("Looking for the receiver over ELRS… try again in a moment.");
        return tr("Start transmission with the car on, or plug in the receiver's cable, to change its mode.");
    }
    if (isSyncing())
        return tr("Reading the receiver…");
    return tr("This receiver does not report its mode.");
}

QString ReceiverConfigManager::gpsStatusText() const
{
    static const QRegularExpression gpsPattern(QStringLiteral("^(Fix|No fix), (\\d+) sats(?:, antenna (open|short))?$"));
    const bool reachable = m_elrsLink->isReachable();
    const QString gpsText = reachable ? m_elrsLink->textValue(GpsStatusField) : QString();
    const QRegularExpressionMatch m = gpsPattern.match(gpsText);
    QString antenna;
    if (m.captured(3) == QLatin1String("open"))
        antenna = tr(" · antenna not detected, check the GPS antenna cable");
    else if (m.captured(3) == QLatin1String("short"))
        antenna = tr(" · antenna short circuit");

    const Profile *p = profile();
    const bool gpsOn = !p || p->receiverSettings.gpsEnabled;
    const int satellites = m_controller->gpsSatellites();
    if (gpsOn && m_controller->isCarLinked() && m_controller->gpsFixAgeMs() >= 0)
        return tr("fix, %1 satellites").arg(m_controller->gpsFix().satellites);
    if (gpsOn && satellites >= 0)
        return tr("no fix yet, %1 satellites (needs open sky)").arg(satellites) + antenna;
    if (reachable && m.hasMatch()) {
        if (m.captured(1) == QLatin1String("Fix"))
            return tr("fix, %1 satellites").arg(m.captured(2)) + antenna;
        return tr("no fix yet, %1 satellites (needs open sky)").arg(m.captured(2)) + antenna;
    }
    if (reachable && gpsText == QLatin1String("Off"))
        return tr("off on the receiver");
    return QString();
}

} // namespace corvane
