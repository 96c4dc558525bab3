#include "bridge/corvanecontroller.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>

#include "bridge/axisresponse.h"
#include "bridge/corvaneserialport.h"
#include "bridge/devicesecurity.h"
#include "bridge/elrsparametermanager.h"
#include "bridge/motiontelemetrysender.h"
#include "bridge/receiverconfigmanager.h"
#include "bridge/steeringmonitor.h"
#include "platform/storage/filewriter.h"
#include "profiles/profilemanager.h"
#include "platform/storage/settingsfile.h"

namespace corvane {

namespace {
constexpr int kMonitorIntervalMs = 16;
constexpr int kKeepaliveIntervalMs = 1000;
constexpr int kCarLinkIntervalMs = 500;
constexpr int kSensorSaveDelayMs = 1000;
constexpr int kFfbIntervalMs = 20;
constexpr int kReceiverFfbWaitMs = 5000;
constexpr int kLoungeWatchdogIntervalMs = 250;
} // namespace

CorvaneController::CorvaneController(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<corvane::ReceiverFfbState>("corvane::ReceiverFfbState");
    qRegisterMetaType<corvane::LinkStatistics>("corvane::LinkStatistics");
    qRegisterMetaType<corvane::GpsFix>("corvane::GpsFix");

    m_profiles = new ProfileManager(this);
    m_security = new DeviceSecurity(this);
    m_transmitterPort = new CorvaneSerialPort(this);
    m_receiverPort = new CorvaneSerialPort(this);
    m_wheelBase = new InputDevice(this);
    m_pedals = new InputDevice(this);
    m_shifter = new InputDevice(this);
    m_heliJoystick = new InputDevice(this);
    m_heliThrottle = new InputDevice(this);
    m_heliPedals = new InputDevice(this);
    m_crsf = new CrsfProtocol(this);
    m_motionSender = new MotionTelemetrySender(this);
    m_transmitTimer = new QTimer(this);
    // A coarse timer may fire up to 5 % early or late: 7.3, 7.3, 6.3 ms instead of 7.
    m_transmitTimer->setTimerType(Qt::PreciseTimer);
    m_monitorTimer = new QTimer(this);

    m_motionSender->setControlsProvider([this] { return fillMotionControls(); });

    m_axisSettings = m_profiles->axisSettings();
    m_buttonMappings = m_profiles->buttonMappings();
    m_ledSettings = m_profiles->ledSettings();
    m_autoStartEnabled = m_profiles->autoStartEnabled();
    takeStoredShifterMapping(m_profiles->deviceConnections().shifter);
    loadWheelFfb();

    connect(m_profiles, &ProfileManager::activeProfileChanged, this,
            &CorvaneController::onActiveProfileChanged);

    connect(m_transmitterPort, &CorvaneSerialPort::connectedChanged, this,
            &CorvaneController::serialConnectedChanged);
    connect(m_transmitterPort, &CorvaneSerialPort::portNameChanged, this,
            &CorvaneController::serialPortNameChanged);
    connect(m_transmitterPort, &CorvaneSerialPort::dataReceived, this,
            &CorvaneController::onSerialDataReceived);
    connect(m_transmitterPort, &CorvaneSerialPort::errorOccurred, this,
            &CorvaneController::onSerialError);
    connect(m_transmitterPort, &CorvaneSerialPort::connectedChanged, this,
            &CorvaneController::onTransmitterConnectionChanged);

    connect(m_receiverPort, &CorvaneSerialPort::connectedChanged, this,
            &CorvaneController::receiverConnectedChanged);
    connect(m_receiverPort, &CorvaneSerialPort::portNameChanged, this,
            &CorvaneController::receiverPortNameChanged);
    connect(m_receiverPort, &CorvaneSerialPort::dataReceived, this,
            &CorvaneController::onReceiverDataReceived);
    connect(m_receiverPort, &CorvaneSerialPort::errorOccurred, this,
            &CorvaneController::onReceiverError);

    connect(m_wheelBase, &InputDevice::connectedChanged, this,
            &CorvaneController::wheelBaseConnectedChanged);
    connect(m_pedals, &InputDevice::connectedChanged, this,
            &CorvaneController::pedalsConnectedChanged);
    connect(m_shifter, &InputDevice::connectedChanged, this,
            &CorvaneController::shifterConnectedChanged);
    connect(m_wheelBase, &InputDevice::deviceDisconnected, this,
            &CorvaneController::onWheelBaseDisconnected);
    connect(m_pedals, &InputDevice::deviceDisconnected, this,
            &CorvaneController::onPedalsDisconnected);
    connect(m_shifter, &InputDevice::deviceDisconnected, this,
            &CorvaneController::onShifterDisconnected);
    connect(m_heliJoystick, &InputDevice::connectedChanged, this,
            &CorvaneController::heliJoystickConnectedChanged);
    connect(m_heliThrottle, &InputDevice::connectedChanged, this,
            &CorvaneController::heliThrottleConnectedChanged);
    connect(m_heliPedals, &InputDevice::connectedChanged, this,
            &CorvaneController::heliPedalsConnectedChanged);

    connect(m_transmitterPort, &CorvaneSerialPort::connectedChanged, this,
            &CorvaneController::onAutoStartCheck);
    connect(m_wheelBase, &InputDevice::connectedChanged, this,
            &CorvaneController::onAutoStartCheck);
    connect(this, &CorvaneController::transmitterAuthorizationChanged, this,
            &CorvaneController::onAutoStartCheck);

    connect(m_crsf, &CrsfProtocol::linkStatisticsReceived, this,
            &CorvaneController::onLinkStatisticsReceived);
    connect(m_crsf, &CrsfProtocol::frameReceived, this,
            &CorvaneController::onCrsfTelemetryFrame);

    m_elrs = new ElrsParameterManager(m_crsf, this);
    m_steeringMonitor = new SteeringMonitor(this);
    m_receiverConfig = new ReceiverConfigManager(this);

    m_carLinkTimer = new QTimer(this);
    m_carLinkTimer->setTimerType(Qt::PreciseTimer);
    connect(m_carLinkTimer, &QTimer::timeout, this, &CorvaneController::checkCarLink);
    m_carLinkTimer->start(kCarLinkIntervalMs);
    m_sensorSaveTimer = new QTimer(this);
    m_sensorSaveTimer->setSingleShot(true);
    m_sensorSaveTimer->setInterval(kSensorSaveDelayMs);
    m_sensorSaveTimer->setTimerType(Qt::PreciseTimer);
    connect(m_sensorSaveTimer, &QTimer::timeout, this, &CorvaneController::saveTelemetrySensors);
    loadTelemetrySensors();
    m_ffbTimer = new QTimer(this);
    m_ffbTimer->setTimerType(Qt::PreciseTimer);
    m_ffbTimer->setInterval(kFfbIntervalMs);
    connect(m_ffbTimer, &QTimer::timeout, this, &CorvaneController::onFfbTick);
    m_receiverFfbWaitTimer = new QTimer(this);
    m_receiverFfbWaitTimer->setSingleShot(true);
    m_receiverFfbWaitTimer->setInterval(kReceiverFfbWaitMs);
    m_receiverFfbWaitTimer->setTimerType(Qt::PreciseTimer);
    connect(m_receiverFfbWaitTimer, &QTimer::timeout, this,
            &CorvaneController::onReceiverFfbTimeout);
    connect(m_transmitterPort, &CorvaneSerialPort::connectedChanged, this,
            &CorvaneController::onTransmitterPortChangedForFfb);
    m_settings = new SettingsFile(this);
    connect(m_settings, &SettingsFile::changedOnDisk, this, &CorvaneController::onSettingsChangedOnDisk);
    // Before any device can open: no auto-start or frame comes ahead of a stop.
    loadLoungeState();
    m_loungeWatchdogTimer = new QTimer(this);
    m_loungeWatchdogTimer->setInterval(kLoungeWatchdogIntervalMs);
    connect(m_loungeWatchdogTimer, &QTimer::timeout, this,
            &CorvaneController::onLoungeWatchdogTick);
    restoreLoungeArming();

    connect(this, &CorvaneController::transmitterLineReceived, m_elrs,
            &ElrsParameterManager::onTransmitterLine);
    connect(m_transmitTimer, &QTimer::timeout, this, &CorvaneController::onTransmitTimer);
    connect(m_monitorTimer, &QTimer::timeout, this, &CorvaneController::onMonitorTimer);
    m_monitorTimer->start(kMonitorIntervalMs);
    m_keepaliveStopwatch.start();
    m_keepaliveTimer = new QTimer(this);
    m_keepaliveTimer->setTimerType(Qt::PreciseTimer);
    connect(m_keepaliveTimer, &QTimer::timeout, this, &CorvaneController::onKeepaliveTimer);
    m_keepaliveTimer->start(kKeepaliveIntervalMs);
    m_ledStepTimer = new QTimer(this);
    m_ledStepTimer->setTimerType(Qt::PreciseTimer);
    connect(m_ledStepTimer, &QTimer::timeout, this, &CorvaneController::onLedConfigTimer);
    m_ledConfirmTimer = new QTimer(this);
    m_ledConfirmTimer->setSingleShot(true);
    m_ledConfirmTimer->setTimerType(Qt::PreciseTimer);
    connect(m_ledConfirmTimer, &QTimer::timeout, this,
            &CorvaneController::onLedConfirmationTimeout);
    connect(this, &CorvaneController::transmitterLineReceived, this,
            &CorvaneController::onDeviceIdLine);
    connect(m_crsf, &CrsfProtocol::frameReceived, this, &CorvaneController::onTransmitterFrame);
}

CorvaneController::~CorvaneController()
{
    savePendingWheelFfb();
    stopTransmissionAndHold();
    for (InputDevice *device : {m_shifter, m_pedals, m_wheelBase}) {
        device->releaseDevice();
        device->shutdownDirectInput();
    }

    // Leaving is a user disconnect of the transmitter: no reconnect may start on the way out.
    m_userDisconnected = true;
    if (m_reconnectTimer)
        m_reconnectTimer->stop();
    stopTransmissionAndHold();
    m_transmitterPort->close();
    m_transmitterAuthorized = false;
    m_security->checkDevice(QString());

    disconnectReceiver();
}

std::function<void(const std::function<void(bool)> &)> CorvaneController::profileStore(const std::function<void()> &change)
{
    return [self = QPointer<CorvaneController>(this), change](const std::function<void(bool)> &stored) {
        if (!self) {
            if (stored)
                stored(false);
            return;
        }
        if (!stored) {
            change();
            return;
        }
        FileWriter::shared().batch(change, [stored](const QString &failure) { stored(failure.isEmpty()); });
    };
}

int CorvaneController::channelValue(int channel) const
{
    if (channel < 0 || channel >= ChannelCount)
        return InvalidChannelValue;
    return m_channels[static_cast<size_t>(channel)];
}

void CorvaneController::setChannelValue(int channel, int value)
{
    if (channel < 0 || channel >= ChannelCount)
        return;
    m_channels[static_cast<size_t>(channel)] = std::clamp(value, 0, ChannelMax);
}

float CorvaneController::processAxis(const AxisConfig &config, float value, bool bipolar)
{
    return corvane::processAxis(config, value, bipolar);
}

int CorvaneController::receiverMotionLevel() const
{
    const Profile *profile = m_profiles->activeProfile();
    if (!profile || !profile->receiverCaps.isAdvanced())
        return 0;
    return m_receiverConfig && m_receiverConfig->motionSensorsSetting() ? 2 : 1;
}

void CorvaneController::setAutoStartEnabled(bool enabled)
{
    // Written even when memory holds it: a save of it may have failed, and the request is
    // answered by the disk.
    if (m_autoStartEnabled == enabled) {
        m_profiles->saveActiveProfile();
        return;
    }
    m_autoStartEnabled = enabled;
    emit autoStartEnabledChanged(enabled);
    m_profiles->setAutoStartEnabled(enabled);
    m_profiles->saveActiveProfile();
    if (enabled)
        onAutoStartCheck();
}

void CorvaneController::onActiveProfileChanged(const QString &id)
{
    // The frames were built for the other vehicle's devices: stop, and say why, before the
    // new vehicle's tick finds its own devices missing.
    if (m_running && isHelicopterMode() != m_runningHelicopter) {
        stopTransmissionAndHold();
        emit transmissionStopped(tr("Transmission stopped: the vehicle type changed."));
    }
    const AxisSettings next = m_profiles->axisSettings();
    stopIfResponseChanges(next);
    m_axisSettings = next;
    applyWheelRotationOverride();
    m_buttonMappings = m_profiles->buttonMappings();
    m_ledSettings = m_profiles->ledSettings();
    if (m_profiles->autoStartEnabled() != m_autoStartEnabled)
        setAutoStartEnabled(m_profiles->autoStartEnabled());
    loadWheelFfb();
    loadTelemetrySensors();
    // Else the outgoing profile's table would shift this one's gears and be saved into it.
    takeStoredShifterMapping(m_profiles->deviceConnections().shifter);
    emit profileChanged(id);
}

} // namespace corvane
