#include "bridge/receiverconfigmanager.h"

#include <QTimer>

#include "bridge/corvanecontroller.h"
#include "bridge/receiverelrslink.h"
#include "profiles/profilemanager.h"

namespace corvane {

namespace {

constexpr int kDefaultMotionRateHz = 20;

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    }
    return false;
}

} // namespace

ReceiverConfigManager::ReceiverConfigManager(CorvaneController *controller)
    : QObject(controller)
    , m_controller(controller)
    , m_pacingTimer(new QTimer(this))
    , m_replyTimer(new QTimer(this))
{
    m_pacingTimer->setInterval(CommandPacingMs);
    m_replyTimer->setSingleShot(true);
    m_replyTimer->setInterval(ReplyTimeoutMs);
    m_pacingTimer->setTimerType(Qt::PreciseTimer);
    m_replyTimer->setTimerType(Qt::PreciseTimer);

    connect(m_pacingTimer, &QTimer::timeout, this, &ReceiverConfigManager::sendNextCommand);
    connect(m_replyTimer, &QTimer::timeout, this, &ReceiverConfigManager::onReplyTimeout);
    connect(controller, &CorvaneController::receiverDataReceived, this, &ReceiverConfigManager::onReceiverLine);
    connect(controller, &CorvaneController::receiverConnectedChanged, this,
            &ReceiverConfigManager::onReceiverConnectedChanged);
    if (ProfileManager *store = controller->profileManager())
        connect(store, &ProfileManager::activeProfileChanged, this, &ReceiverConfigManager::onActiveProfileChanged);

    m_elrsLink = new ReceiverElrsLink(controller, this);
    connect(m_elrsLink, &ReceiverElrsLink::stateChanged, this, &ReceiverConfigManager::onElrsStateChanged);
    connect(m_elrsLink, &ReceiverElrsLink::idle, this, &ReceiverConfigManager::onElrsIdle);
    connect(m_elrsLink, &ReceiverElrsLink::valueChanged, this, &ReceiverConfigManager::onElrsValueChanged);

    m_gpsRefreshTimer = new QTimer(this);
    m_gpsRefreshTimer->setInterval(GpsRefreshMs);
    m_gpsRefreshTimer->setTimerType(Qt::PreciseTimer);
    connect(m_gpsRefreshTimer, &QTimer::timeout, this, &ReceiverConfigManager::onGpsRefreshTimer);
    m_gpsRefreshTimer->start();

    m_mountingTimer = new QTimer(this);
    m_mountingTimer->setSingleShot(true);
    m_mountingTimer->setInterval(MountingTimeoutMs);
    m_mountingTimer->setTimerType(Qt::PreciseTimer);
    connect(m_mountingTimer, &QTimer::timeout, this, &ReceiverConfigManager::onMountingTimeout);
    m_gyroCalTimer = new QTimer(this);
    m_gyroCalTimer->setSingleShot(true);
    m_gyroCalTimer->setInterval(GyroCalTimeoutMs);
    m_gyroCalTimer->setTimerType(Qt::PreciseTimer);
    connect(m_gyroCalTimer, &QTimer::timeout, this, &ReceiverConfigManager::onGyroCalTimeout);
    connect(m_elrsLink, &ReceiverElrsLink::stateChanged, this, &ReceiverConfigManager::onCalibrationLinkCheck);
    connect(controller, &CorvaneController::gpsUpdated, this, &ReceiverConfigManager::stateChanged);
    connect(controller, &CorvaneController::carLinkChanged, this, &ReceiverConfigManager::onCarLinkChanged);
    connect(m_elrsLink, &ReceiverElrsLink::directWriteDone, this, &ReceiverConfigManager::onElrsDirectWriteDone);
    m_modeChangeTimer = new QTimer(this);
    m_modeChangeTimer->setSingleShot(true);
    m_modeChangeTimer->setInterval(ModeChangeTimeoutMs);
    m_modeChangeTimer->setTimerType(Qt::PreciseTimer);
    connect(m_modeChangeTimer, &QTimer::timeout, this, &ReceiverConfigManager::onModeChangeTimeout);
    connect(controller, &CorvaneController::runningChanged, this, &ReceiverConfigManager::stateChanged);
}

ReceiverConfigManager::~ReceiverConfigManager() = default;

const Profile *ReceiverConfigManager::profile() const
{
    const ProfileManager *store = m_controller->profileManager();
    return store ? store->activeProfile() : nullptr;
}

ReceiverSettings ReceiverConfigManager::settings() const
{
    const Profile *p = profile();
    return p ? p->receiverSettings : ReceiverSettings();
}

ReceiverCaps ReceiverConfigManager::caps() const
{
    const Profile *p = profile();
    return p ? p->receiverCaps : ReceiverCaps();
}

bool ReceiverConfigManager::isUsbConnected() const
{
    return m_controller->isReceiverConnected();
}

bool ReceiverConfigManager::sameValues(const ReceiverSettings &a, const ReceiverSettings &b)
{
    return a.gpsEnabled == b.gpsEnabled && a.gpsRateHz == b.gpsRateHz && a.gpsTelem == b.gpsTelem
        && a.imuTelem == b.imuTelem && a.motionTelem == b.motionTelem && a.motionRateHz == b.motionRateHz
        && a.osdEnabled == b.osdEnabled && a.motionSensors == b.motionSensors && a.hudTopKmh == b.hudTopKmh
        && a.hudAccelKmhS == b.hudAccelKmhS && a.hudBrakeKmhS == b.hudBrakeKmhS;
}

bool ReceiverConfigManager::isGpsRate(int hz)
{
    return hz == 0 || hz == 1 || hz == 2 || hz == 4 || hz == 5 || hz == 10;
}

bool ReceiverConfigManager::isMotionRate(int hz)
{
    return hz == 5 || hz == 10 || hz == 20 || hz == 25;
}

void ReceiverConfigManager::storeSettings(const ReceiverSettings &s)
{
    ProfileManager *store = m_controller->profileManager();
    Profile *p = store ? store->mutableActiveProfile() : nullptr;
    if (!p || (p->receiverSettings.initialized == s.initialized && sameValues(p->receiverSettings, s)))
        return;
    p->receiverSettings = s;
    store->saveActiveProfile();
    emit settingsChanged();
}

void ReceiverConfigManager::setCaps(const ReceiverCaps &c)
{
    ProfileManager *store = m_controller->profileManager();
    Profile *p = store ? store->mutableActiveProfile() : nullptr;
    if (!p)
        return;
    const ReceiverCaps &old = p->receiverCaps;
    if (old.imu == c.imu && old.gps == c.gps && old.firmware == c.firmware && old.osdOnBoard == c.osdOnBoard
        && old.hudTopOnBoard == c.hudTopOnBoard && old.hudAccelOnBoard == c.hudAccelOnBoard
        && old.hudBrakeOnBoard == c.hudBrakeOnBoard)
        return;
    p->receiverCaps = c;
    store->saveActiveProfile();
    emit capsChanged();
}

void ReceiverConfigManager::setSettings(ReceiverSettings s)
{
    const Profile *p = profile();
    s.initialized = true;
    if (!isGpsRate(s.gpsRateHz))
        s.gpsRateHz = p ? p->receiverSettings.gpsRateHz : 0;
    if (!isMotionRate(s.motionRateHz))
        s.motionRateHz = p ? p->receiverSettings.motionRateHz : kDefaultMotionRateHz;
    s.normalizeHud();
    storeSettings(s);

    if (isUsbConnected()) {
        // A running cycle compares against the stored settings when its answers come.
        if (m_applied && !m_probing) {
            m_probing = true;
            applySettings();
            emit stateChanged();
        }
        return;
    }
    if (m_elrsLink->isReachable() && m_elrsSyncState == ElrsSynced) {
        m_elrsPushCount = 0;
        applySettingsOverElrs();
        return;
    }
    m_osdUnanswered = false;
    m_hudUnanswered = false;
    pushBasicReceiverSetting();
}

bool ReceiverConfigManager::sendCommand(const QString &text)
{
    const QString command = text.trimmed();
    // One command is one line: text with line breaks would smuggle further commands in.
    if (command.isEmpty() || !isUsbConnected() || hasControlCharacter(command))
        return false;
    // Firmware updates are never started from here.
    if (command.compare(QLatin1String("DFU"), Qt::CaseInsensitive) == 0)
        return false;
    enqueueCommand(command);
    return true;
}

void ReceiverConfigManager::enqueueCommand(const QString &text)
{
    m_commandQueue.append(text);
    if (!m_pacingTimer->isActive()) {
        sendNextCommand();
        // The next command waits a full pacing interval even when it comes at once.
        m_pacingTimer->start();
    }
}

void ReceiverConfigManager::sendNextCommand()
{
    if (m_commandQueue.isEmpty() || !isUsbConnected()) {
        m_pacingTimer->stop();
        return;
    }
    const QString command = m_commandQueue.takeFirst();
    m_controller->receiverWrite((command + QLatin1Char('\n')).toLatin1());
}

void ReceiverConfigManager::clearCommandQueue()
{
    m_commandQueue.clear();
}

void ReceiverConfigManager::resync()
{
    startUsbCycle();
}

void ReceiverConfigManager::startUsbCycle()
{
    if (!isUsbConnected())
        return;
    m_probing = true;
    m_settingsSent = false;
    m_applied = false;
    m_telemReplySeen = false;
    m_osdReplySeen = false;
    m_versionSeen = false;
    m_noReply = false;
    m_reportedKeys.clear();
    m_pushCount = 0;
    clearCommandQueue();
    QTimer::singleShot(ProbeDelayMs, Qt::PreciseTimer, this, &ReceiverConfigManager::probeReceiver);
    emit stateChanged();
}

void ReceiverConfigManager::probeReceiver()
{
    if (!m_probing || !isUsbConnected())
        return;
    for (const char *command : { "VER", "GET_TELEM", "GET_HUD_SPEED", "GET_OSD", "GET_IMU_AXES", "GET_TYPE" })
        enqueueCommand(QString::fromLatin1(command));
    m_replyTimer->start();
}

void ReceiverConfigManager::onReplyTimeout()
{
    if (!m_probing)
        return;
    if (m_telemReplySeen && !m_settingsSent) {
        syncAfterProbe();
        return;
    }
    m_probing = false;
    m_settingsSent = false;
    m_noReply = !m_telemReplySeen;
    m_applied = m_telemReplySeen;
    emit stateChanged();
}

void ReceiverConfigManager::syncAfterProbe()
{
    m_replyTimer->stop();
    const Profile *p = profile();
    if (!p || !p->receiverSettings.initialized) {
        adoptReportedSettings();
        ReceiverSettings s = settings();
        s.motionTelem = true;
        storeSettings(s);
    }
    applySettings();
}

bool ReceiverConfigManager::hasReportedKey(const char *key) const
{
    return m_reportedKeys.contains(QLatin1String(key));
}

void ReceiverConfigManager::applySettings()
{
    const ReceiverSettings desired = settings();
    const bool hud = hasReportedKey("HUD_SPEED");
    const bool osd = hasReportedKey("OSD");
    // Such a receiver never counts as out of step on HUD speed.
    if (!hud) {
        m_reported.hudTopKmh = desired.hudTopKmh;
        m_reported.hudAccelKmhS = desired.hudAccelKmhS;
        m_reported.hudBrakeKmhS = desired.hudBrakeKmhS;
    }

    QStringList commands;
    const auto flag = [&](const char *key, bool reported, bool wanted, const char *command) {
        if (hasReportedKey(key) && reported != wanted)
            commands.append(QStringLiteral("%1 %2").arg(QLatin1String(command)).arg(wanted ? 1 : 0));
    };
    const auto number = [&](const char *key, int reported, int wanted, const char *command) {
        if (hasReportedKey(key) && reported != wanted)
            commands.append(QStringLiteral("%1 %2").arg(QLatin1String(command)).arg(wanted));
    };
    flag("GPS_ON", m_reported.gpsEnabled, desired.gpsEnabled, "SET_GPS");
    number("GPS_RATE", m_reported.gpsRateHz, desired.gpsRateHz, "GPS_RATE");
    flag("GPS", m_reported.gpsTelem, desired.gpsTelem, "SET_GPS_TELEM");
    flag("IMU", m_reported.imuTelem, desired.imuTelem, "SET_IMU_TELEM");
    flag("MOTION", m_reported.motionTelem, desired.motionTelem, "SET_MOTION_TELEM");
    number("MOTION_RATE", m_reported.motionRateHz, desired.motionRateHz, "SET_MOTION_RATE");
    flag("OSD", m_reported.osdEnabled, desired.osdEnabled, "SET_OSD");
    flag("MOTION_SENSORS", m_reported.motionSensors, desired.motionSensors, "SET_MOTION_SENSORS");
    if (hud
        && (m_reported.hudTopKmh != desired.hudTopKmh || m_reported.hudAccelKmhS != desired.hudAccelKmhS
            || m_reported.hudBrakeKmhS != desired.hudBrakeKmhS))
        commands.append(QStringLiteral("SET_HUD_SPEED %1 %2 %3")
                            .arg(desired.hudTopKmh)
                            .arg(desired.hudAccelKmhS)
                            .arg(desired.hudBrakeKmhS));

    if (commands.isEmpty()) {
        m_probing = false;
        m_settingsSent = false;
        m_applied = true;
        emit stateChanged();
        return;
    }
    ++m_pushCount;
    for (const QString &command : std::as_const(commands))
        enqueueCommand(command);
    m_settingsSent = true;
    m_telemReplySeen = false;
    m_osdReplySeen = !osd;
    if (hud)
        enqueueCommand(QStringLiteral("GET_HUD_SPEED"));
    enqueueCommand(QStringLiteral("GET_TELEM"));
    if (osd)
        enqueueCommand(QStringLiteral("GET_OSD"));
    m_replyTimer->start();
}

void ReceiverConfigManager::onReceiverConnectedChanged(bool connected)
{
    if (!connected) {
        clearCommandQueue();
        m_pacingTimer->stop();
        m_replyTimer->stop();
        m_probing = false;
        m_settingsSent = false;
        m_applied = false;
        m_noReply = false;
        m_reportedKeys.clear();
        m_imuAxesText.clear();
        if (m_elrsLink->state() == ReceiverElrsLink::Ready) {
            m_elrsPushCount = 0;
            applySettingsOverElrs();
        }
    }
    emit stateChanged();
}

void ReceiverConfigManager::onActiveProfileChanged(const QString &id)
{
    Q_UNUSED(id);
    emit settingsChanged();
    emit capsChanged();
    if (isUsbConnected()) {
        if (m_applied)
            startUsbCycle();
    } else if (m_elrsLink->isReachable() && m_elrsSyncState == ElrsSynced) {
        applySettingsOverElrs();
    }
}

bool ReceiverConfigManager::motionSensorsSetting() const
{
    if (isUsbConnected()) {
        if (m_applied && hasReportedKey("MOTION_SENSORS"))
            return m_reported.motionSensors;
        return false;
    }
    return m_elrsLink->isReachable() && m_elrsLink->intValue(15) == 1;
}

void ReceiverConfigManager::setModeChange(int state, const QString &text)
{
    m_modeChangeState = state;
    m_modeChangeText = text;
    emit stateChanged();
}

bool ReceiverConfigManager::setMode(const QString &mode)
{
    const bool heli = mode == QLatin1String("heli");
    if ((!heli && mode != QLatin1String("car")) || !canChangeMode())
        return false;
    if (receiverMode() == mode)
        return true;
    m_modeTarget = mode;

    if (isUsbConnected()) {
        enqueueCommand(QStringLiteral("SET_TYPE %1").arg(heli ? 2 : 1));
        enqueueCommand(QStringLiteral("REBOOT"));
        m_awaitingTypeAfterRestart = false;
        setModeChange(ModeChangeRunning, tr("Saving. The receiver restarts…"));
        QTimer::singleShot(ModeRestartWaitMs, Qt::PreciseTimer, this, &ReceiverConfigManager::onModeRestartCheck);
        return true;
    }

    if (m_elrsLink->isReachable()) {
        m_elrsLink->writeParameter(ModeField, heli ? 1 : 0);
        setModeChange(ModeChangeRunning, tr("Sending to the receiver over ELRS…"));
        m_modeChangeTimer->start();
        return true;
    }
    m_pendingModeFields.clear();
    if (!caps().isAdvanced())
        m_pendingModeFields.append(LegacyModeField);
    m_pendingModeFields.append(ModeField);
    if (!directModeWrite()) {
        m_pendingModeFields.clear();
        return false;
    }
    m_modeDirectWriteInFlight = true;
    setModeChange(ModeChangeRunning, tr("Sending to the receiver over ELRS…"));
    return true;
}

void ReceiverConfigManager::onModeRestartCheck()
{
    if (m_modeChangeState != ModeChangeRunning || m_modeDirectWriteInFlight)
        return;
    // The change always ends: the receiver's "TYPE:" answer confirms it, here or in the probe
    // after its port comes back; otherwise the time-out fails it.
    m_awaitingTypeAfterRestart = true;
    if (isUsbConnected())
        enqueueCommand(QStringLiteral("GET_TYPE"));
    m_modeChangeTimer->start();
}

void ReceiverConfigManager::onModeChangeTimeout()
{
    if (m_modeChangeState != ModeChangeRunning)
        return;
    m_awaitingTypeAfterRestart = false;
    setModeChange(ModeChangeFailed, tr("No answer from the receiver. Try again."));
}

bool ReceiverConfigManager::startGyroCalibration()
{
    if (m_gyroCalState == GyroCalRunning)
        return false;
    if (isUsbConnected()) {
        if (!sendCommand(QStringLiteral("IMU_CAL")))
            return false;
        m_gyroCalState = GyroCalRunning;
        m_gyroCalText = tr("Calibrating: keep the car still…");
        emit gyroCalChanged();
        // The USB receiver sends no result to wait for.
        QTimer::singleShot(UsbGyroCalMs, Qt::PreciseTimer, this, &ReceiverConfigManager::onUsbGyroCalDone);
        return true;
    }
    if (m_elrsLink->state() != ReceiverElrsLink::Ready)
        return false;
    m_elrsLink->writeParameter(GyroCalField, CommandStart);
    m_gyroCalState = GyroCalRunning;
    m_gyroCalText = tr("Starting over ELRS…");
    emit gyroCalChanged();
    m_gyroCalTimer->start();
    return true;
}

void ReceiverConfigManager::onUsbGyroCalDone()
{
    if (m_gyroCalState != GyroCalRunning)
        return;
    m_gyroCalState = GyroCalDone;
    m_gyroCalText = tr("Gyro calibrated, yaw reset to 0");
    emit gyroCalChanged();
}

bool ReceiverConfigManager::startMountingStep(int step)
{
    if (m_mountingState == MountingRunning || step < 0 || step > 1)
        return false;
    if (isUsbConnected()) {
        if (!sendCommand(step == 0 ? QStringLiteral("IMU_ORIENT FLAT") : QStringLiteral("IMU_ORIENT NOSEUP")))
            return false;
    } else {
        if (m_elrsLink->state() != ReceiverElrsLink::Ready || m_elrsLink->parameterCount() < MountingMinParameters)
            return false;
        m_elrsLink->writeParameter(quint8(MountLevelField + step), CommandStart);
    }
    m_mountingStep = step;
    m_mountingState = MountingRunning;
    m_mountingText = step == 0 ? tr("Reading the level…") : tr("Reading the tilt…");
    emit mountingChanged();
    m_mountingTimer->start();
    return true;
}

void ReceiverConfigManager::onMountingTimeout()
{
    if (m_mountingState != MountingRunning)
        return;
    finishMounting(MountingFailed, tr("No answer from the receiver. Try again."));
}

void ReceiverConfigManager::finishMounting(int state, const QString &text)
{
    m_mountingTimer->stop();
    m_mountingState = state;
    m_mountingText = text;
    emit mountingChanged();
}

void ReceiverConfigManager::retryElrs()
{
    m_elrsLink->startSearch();
}

} // namespace corvane
