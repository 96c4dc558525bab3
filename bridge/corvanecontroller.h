#pragma once

#include <QBitArray>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

#include "bridge/crsfprotocol.h"
#include "bridge/helicopterinput.h"
#include "bridge/inputdevice.h"
#include "bridge/motiontelemetrysender.h"
#include "bridge/telemetrysensor.h"
#include "platform/serial/serialportlister.h"
#include "profiles/axissettings.h"
#include "profiles/buttonmapping.h"
#include "profiles/channelvalue.h"
#include "profiles/deviceconnections.h"
#include "profiles/helicopterconfig.h"
#include "profiles/receiversettings.h"

class QTimer;

namespace corvane {

class CorvaneSerialPort;
class DeviceSecurity;
class ElrsParameterManager;
class ProfileManager;
class ReceiverConfigManager;
class SettingsFile;
class SteeringMonitor;

// Whether the car's receiver delivers motion for the wheel's force feedback.
enum ReceiverFfbState : int {
    ReceiverFfbOff = 0,
    ReceiverFfbWaiting = 1,
    ReceiverFfbActive = 2,
    ReceiverFfbNoResponse = 3,
};

// What race control has set for this station's car.
struct LoungeSettings
{
    bool stopped = false;
    QString stopReason;
    bool pitLimiter = false;
    int pitLimiterPercent = 30;
    bool speedCap = false;
    int speedCapPercent = 60;
    bool reverseAllowed = true;
    bool watchdogEnabled = false;
    int watchdogTimeoutMs = 2000;
};

// The centre of the bridge: owns the profile store, the allow-list, both serial lines, the six
// game controllers, the CRSF codec and the steering monitor, holds the 16 channel values and
// runs every loop of the bridge. Its behaviour is spread over one source file per concern,
// named in the comment of each section below.
class CorvaneController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool running READ isRunning NOTIFY runningChanged)
    Q_PROPERTY(bool autoStartEnabled READ autoStartEnabled WRITE setAutoStartEnabled
                   NOTIFY autoStartEnabledChanged)
    Q_PROPERTY(bool serialConnected READ isSerialConnected NOTIFY serialConnectedChanged)
    Q_PROPERTY(QString serialPortName READ serialPortName NOTIFY serialPortNameChanged)
    Q_PROPERTY(uint frameCount READ frameCount NOTIFY frameCountChanged)
    Q_PROPERTY(float steering READ steering NOTIFY inputChanged)
    Q_PROPERTY(float throttle READ throttle NOTIFY inputChanged)
    Q_PROPERTY(float brake READ brake NOTIFY inputChanged)

public:
    static constexpr int ChannelCount = CrsfProtocol::ChannelCount;
    static constexpr int ChannelMax = ChannelValueMax;
    // What channelValue reports for an index that is not a channel.
    static constexpr int InvalidChannelValue = 1024;
    // The channels button mappings drive, 0-based and both included: CH3..CH12 for the car,
    // CH5..CH16 for the helicopter, whose first four carry roll, pitch, collective and rudder.
    static constexpr int CarMappedChannelFirst = 2;
    static constexpr int CarMappedChannelLast = 11;
    static constexpr int HeliMappedChannelFirst = 4;
    static constexpr int HeliMappedChannelLast = 15;

    explicit CorvaneController(QObject *parent = nullptr);
    ~CorvaneController() override;

    // Owned objects and the channel store (corvanecontroller.cpp).
    ProfileManager *profileManager() const { return m_profiles; }
    DeviceSecurity *deviceSecurity() const { return m_security; }
    CorvaneSerialPort *transmitterPort() const { return m_transmitterPort; }
    CorvaneSerialPort *receiverPort() const { return m_receiverPort; }
    // A store of what `change` sets in the active profile, as a setup dialog's Save runs it: it
    // runs `change` as one batch of the program's writer, and calls its argument once its files
    // are on disk, with whether all of them are. Given no function, it runs `change` as it is.
    // The profile store reports a failed write through its errorOccurred as well.
    std::function<void(const std::function<void(bool)> &)> profileStore(const std::function<void()> &change);
    InputDevice *wheelBase() const { return m_wheelBase; }
    InputDevice *pedals() const { return m_pedals; }
    InputDevice *shifter() const { return m_shifter; }
    InputDevice *heliJoystick() const { return m_heliJoystick; }
    InputDevice *heliThrottle() const { return m_heliThrottle; }
    InputDevice *heliPedals() const { return m_heliPedals; }
    CrsfProtocol *crsfProtocol() const { return m_crsf; }
    MotionTelemetrySender *motionTelemetrySender() const { return m_motionSender; }
    ElrsParameterManager *elrsParameterManager() const { return m_elrs; }
    SteeringMonitor *steeringMonitor() const { return m_steeringMonitor; }
    ReceiverConfigManager *receiverConfigManager() const { return m_receiverConfig; }

    int channelValue(int channel) const;
    void setChannelValue(int channel, int value);
    static float processAxis(const AxisConfig &config, float value, bool bipolar);
    int receiverMotionLevel() const;

    AxisSettings axisSettings() const { return m_axisSettings; }
    // Live displays (dashboard, attitude indicator).
    AxisConfig throttleAxisConfig() const { return m_axisSettings.throttle; }
    AxisConfig brakeAxisConfig() const { return m_axisSettings.brake; }
    // The last helicopter attitude (pitch, roll, yaw in degrees); false while none arrived.
    bool lastHeliAttitude(float &pitchDeg, float &rollDeg, float &yawDeg) const
    {
        pitchDeg = m_heliAttitude[0];
        rollDeg = m_heliAttitude[1];
        yawDeg = m_heliAttitude[2];
        return m_heliAttitudeValid;
    }
    ButtonMappingSet buttonMappings() const { return m_buttonMappings; }
    LedSettings ledSettings() const { return m_ledSettings; }
    bool autoStartEnabled() const { return m_autoStartEnabled; }
    void setAutoStartEnabled(bool enabled);

    // Transmission control and lounge state (corvanecontroller_transmission.cpp).
    bool isRunning() const { return m_running; }
    uint frameCount() const { return m_frameCount; }
    // The user's Start and Stop. A stop, made while idle too, holds auto-start back until a
    // start succeeds: no reconnect, profile switch or auto-start switched on undoes it.
    void startTransmission();
    void stopTransmissionAndHold();
    // A stop the user must answer with Start, as stopTransmissionAndHold holds it.
    void stopForSafety(const QString &reason);
    bool canStartTransmission() const;
    void sendChannels();
    bool setAxisSettings(const AxisSettings &settings);
    bool setButtonMappings(const ButtonMappingSet &mappings);
    void setSteeringCalibration(int left, int center, int right);
    float steering() const;
    float throttle() const;
    float brake() const;
    float clutch() const;
    float wheelAngleDeg() const;
    QString vehicleType() const;
    // Empties `message` when both pedals are up, else says which to release.
    void checkPedalsReleased(QString &message) const;

    LoungeSettings loungeSettings() const { return m_lounge; }
    // The stop as the output applies it: a helicopter's channels take no car stop, which stays
    // stored for the car.
    bool isLoungeStopApplied() const { return m_lounge.stopped && !isHelicopterMode(); }
    void loadLoungeState();
    // Hands the keys of the state named (those a change set) to the settings file's writer; a
    // write that fails is reported, and the next write of the file carries it again.
    void saveLoungeState(const QStringList &keys);
    void raceControlStop(const QString &reason);
    void raceControlRelease();
    void setLoungePitLimiter(bool on, int percent);
    void setLoungeSpeedCap(bool on, int percent);
    void setLoungeReverseAllowed(bool allowed);
    void setLoungeWatchdog(bool on, int timeoutMs);
    void loungeHeartbeat();

    // Car and helicopter tick, channel mappings, button and gear detection
    // (corvanecontroller_tick.cpp).
    float effectiveSteeringInput() const;
    void applyWheelRotationOverride();
    bool isPitLimiterActive() const;
    bool isReverseActive() const;
    void setReverseMode(bool on);
    bool isHelicopterMode() const;
    static bool anyPitLimiterButtonHeld(const ButtonMappingSet &set,
                                        const std::function<bool(int)> &buttonTest);
    static void evaluateChannelMappings(ButtonMappingSet &set,
                                        std::array<qint32, ChannelCount> &channels, int first,
                                        int last, const std::function<bool(int)> &buttonTest,
                                        int stepMs);
    void buildHelicopterChannels();
    // The channels the helicopter setup writes over what a mapping sends there: roll, pitch,
    // collective and rudder, and the motor and arm channels while they are on.
    static QList<int> heliSetupChannels(const HelicopterConfig &config);
    bool isHeliArmed() const { return m_heliArmed; }
    // False when arming is refused; `refusal`, when given, then says why (errorOccurred says it
    // too).
    bool setHeliArmed(bool armed, QString *refusal = nullptr);
    int heliRateMode() const { return m_heliRateMode; }
    void setHeliRateMode(int mode);
    float heliDualRateFactor() const;
    // Roll, pitch, collective and yaw as the last frame of this run carried them; before a run's
    // first frame, as `config` would send them from the devices' last reads.
    HeliOutput heliLiveOutput(const HelicopterConfig &config) const;
    void setHelicopterConfig(const HelicopterConfig &config);
    HelicopterConfig helicopterConfig() const;
    // The state of a device or button check, as pages and the app show it.
    enum DetectionState { DetectionChecking = 1, DetectionDetected = 2, DetectionMissing = 3 };
    static QString detectionStateName(int state);

    static bool isVirtualButtonPressed(const InputDevice *device, int number);
    void startButtonDetection(const QString &role);
    void cancelButtonDetection();
    void startShifterDetection(int gearIndex);
    void cancelShifterDetection();
    ShifterMapping shifterMapping() const { return m_shifterMapping; }
    void setShifterMapping(const ShifterMapping &mapping);
    // Reads every connected controller and takes the gear from the shifter: a start judges what
    // the devices report now.
    void readControllers();
    int currentGear() const { return m_currentGear; }

    // Transmitter and receiver link (corvanecontroller_link.cpp).
    // False when the port could not be opened; `error`, when given, then says why. A port the
    // other line holds is refused at once.
    bool connectTransmitter(const QString &portName, int baudRate, QString *error = nullptr);
    void disconnectTransmitter();
    bool connectReceiver(const QString &portName, int baudRate, QString *error = nullptr);
    void disconnectReceiver();
    Q_INVOKABLE qlonglong serialWrite(const QByteArray &data);
    qint64 receiverWrite(const QByteArray &data);
    bool isSerialConnected() const;
    bool isReceiverConnected() const;
    QString serialPortName() const;
    QString receiverPortName() const;
    // The ports the transmitter and the receiver lines hold, each with its device's name.
    QHash<QString, QString> heldPorts() const;
    bool isTransmitterAuthorized() const { return m_transmitterAuthorized; }
    // What the open port has told of the transmitter since it was opened. Until it answers its
    // ID it may be the wrong port; once every ID query went unanswered it is taken for one with
    // nothing answering on it (a port picked by hand, an on-board UART), or, when frames came,
    // for a device that never names itself.
    enum TransmitterAnswer {
        TransmitterClosed,
        TransmitterWaiting,
        TransmitterAnswered,
        TransmitterSilent,
        TransmitterUnidentified
    };
    TransmitterAnswer transmitterAnswer() const;
    bool isTransmitterAnswered() const { return transmitterAnswer() == TransmitterAnswered; }
    bool isTransmitterSilent() const { return transmitterAnswer() == TransmitterSilent; }
    // Channel frames go only to a transmitter that gave its ID and that the allow-list takes.
    bool isTransmitterCleared() const;
    // What the views say while the transmitter is awaited, once it is taken for silent, and once
    // it is taken for a device that never names itself.
    QString transmitterWaitingMessage() const;
    QString transmitterSilentMessage() const;
    QString transmitterUnidentifiedMessage() const;
    // The port's state in the words of every view (the header, the car and helicopter pages, the
    // setup guide): a pill's word, the start page card's text, the required-devices line, the
    // hint while an open port does not drive (empty otherwise), and the kit's status level
    // (0 neutral while closed, 2 warning while open and unanswered, 3 success once answered).
    struct TransmitterStatus
    {
        TransmitterAnswer answer = TransmitterClosed;
        QString word;
        QString card;
        QString line;
        QString hint;
        int level = 0;
    };
    TransmitterStatus transmitterStatus() const;
    bool isConfigMode() const { return m_configMode; }
    void startConfigMode();
    void stopConfigMode();
    bool enterWifiUpdateMode(bool receiver, QString *error);
    // From a successful enterWifiUpdateMode until just before elrsWifiModeSent.
    bool isWifiSwitchPending() const { return m_wifiSwitchInProgress; }
    // A copy of the sensor, or a record with an empty id when there is none.
    TelemetrySensor findTelemetrySensor(const QString &id) const;

    // Telemetry frames, car link and sensors (corvanecontroller_telemetry.cpp).
    void handleCarMotion(float lonG, float latG, float vertG);
    void setCarLinked(bool linked);
    qint64 gpsFixAgeMs() const;
    int gpsSatellites() const;
    void loadTelemetrySensors();
    void saveTelemetrySensors();
    bool isCarLinked() const { return m_carLinked; }
    bool hasLinkStatistics() const { return m_linkStatsValid; }
    LinkStatistics linkStatistics() const { return m_linkStats; }
    GpsFix gpsFix() const { return m_gpsFix; }
    QList<TelemetrySensor> telemetrySensors() const;
    void removeTelemetrySensor(const QString &id);
    // False for an unknown id, and for a name the name rule refuses (errorOccurred says why); a
    // blank name brings back the sensor's label.
    bool renameTelemetrySensor(const QString &id, const QString &name);
    // Why renameTelemetrySensor would refuse `name` for the sensor `id`; empty when it would not.
    // The name the sensor has passes, whatever an older file gave it.
    QString telemetrySensorNameRefusal(const QString &id, const QString &name) const;
    void clearTelemetrySensors();
    QStringList telemetryDashboard() const;
    void setTelemetryDashboard(const QStringList &ids);
    bool telemetryDiscoverEnabled() const;
    void setTelemetryDiscover(bool on);
    MotionTelemetrySender::Controls fillMotionControls() const;

    // Device connections and controls presets (corvanecontroller_devices.cpp).
    static QList<InputDeviceInfo> availableInputDevices();
    static QList<SerialPortEntry> availableSerialPorts();
    bool connectWheelBase(int index);
    bool connectPedals(int index);
    bool connectShifter(int index);
    bool connectHeliJoystick(int index);
    bool connectHeliThrottle(int index);
    bool connectHeliPedals(int index);
    void disconnectWheelBase();
    void disconnectPedals();
    void disconnectShifter();
    void disconnectHeliJoystick();
    void disconnectHeliThrottle();
    void disconnectHeliPedals();
    bool isWheelBaseConnected() const;
    bool isPedalsConnected() const;
    bool isShifterConnected() const;
    bool isHeliJoystickConnected() const;
    bool isHeliThrottleConnected() const;
    bool isHeliPedalsConnected() const;
    QString wheelBaseName() const;
    QString pedalsName() const;
    QString shifterName() const;
    QString heliJoystickName() const;
    QString heliThrottleName() const;
    QString heliPedalsName() const;
    // Always fails here: a transmitter on a board UART exists only on an embedded host.
    bool connectGpioUart(int baudRate);
    void autoConnectDevices();
    bool reconnectWheelBase();
    // Position of the saved device among the attached ones, -1 when it is not attached.
    int findSavedDevice(const DeviceConnection &slot) const;
    void setWheelBaseAxisMapping(const AxisMapping &mapping);
    void setPedalsAxisMapping(const AxisMapping &mapping);
    void setShifterAxisMapping(const AxisMapping &mapping);
    QJsonObject saveControlsPreset(const QString &kind) const;
    bool loadControlsPreset(const QString &kind, const QJsonObject &data, QString *warning = nullptr);

    // Wheel force feedback and the receiver's motion state (corvanecontroller_ffb.cpp).
    ReceiverFfbState receiverFfbState() const { return m_receiverFfbState; }
    float wheelFfbStrength() const { return m_wheelFfbStrength; }
    float wheelFfbCentering() const { return m_wheelFfbCentering; }
    float wheelNativeCentering() const { return m_wheelNativeCentering; }
    bool wheelFfbAutoEngage() const { return m_wheelFfbAutoEngage; }
    bool wheelFfbEnabled() const { return m_wheelFfbEngaged; }
    float motionTelemetryRate() const { return m_motionRate; }
    float motionTelemetryLossPercent() const { return m_motionLoss; }
    bool startWheelFfb();
    void stopWheelFfb();
    bool setWheelForce(float force);
    float shapeFfbForce(float force) const;
    void setWheelFfbStrength(float strength);
    void setWheelFfbCentering(float centering);
    void setWheelNativeCentering(float centering);
    void setWheelFfbAutoEngage(bool on);
    bool isWheelFfbAvailable() const;
    FfbStatus wheelBaseFfbStatus();
    void loadWheelFfb();
    void saveWheelFfb();

    // Receiver LED strip push (corvanecontroller_led.cpp).
    void setLedSettings(const LedSettings &settings);
    // The command block for the receiver's USB line, without line feeds.
    QStringList pushLedConfig() const;
    bool startLedConfigPush();
    void finishLedConfigPush(bool success, const QString &message);
    // A block was written and the receiver's confirmation is awaited.
    bool ledConfigPushActive() const { return m_ledPushActive; }

signals:
    void runningChanged(bool running);
    void serialConnectedChanged(bool connected);
    void serialPortNameChanged(const QString &portName);
    void receiverConnectedChanged(bool connected);
    void receiverPortNameChanged(const QString &portName);
    void receiverDataReceived(const QString &line);
    void transmitterLineReceived(const QString &line);
    void wheelBaseConnectedChanged(bool connected);
    void pedalsConnectedChanged(bool connected);
    void shifterConnectedChanged(bool connected);
    void heliJoystickConnectedChanged(bool connected);
    void heliThrottleConnectedChanged(bool connected);
    void heliPedalsConnectedChanged(bool connected);
    void heliArmedChanged(bool armed);
    void heliRateModeChanged(int mode);
    void frameCountChanged(uint count);
    void inputChanged();
    void frameSent(uint frameNumber);
    void telemetryReceived(const QByteArray &data);
    void crsfFrameReceived(quint8 frameType, const QByteArray &payload);
    void linkStatisticsUpdated(const corvane::LinkStatistics &stats);
    void carLinkChanged(bool linked);
    void gpsUpdated(const corvane::GpsFix &fix);
    void telemetrySensorsUpdated();
    void telemetrySensorListChanged();
    void telemetryDashboardChanged();
    void ffbLevelReceived(float ffb);
    void receiverFfbStateChanged(corvane::ReceiverFfbState state);
    void heliAttitudeReceived(float pitchDeg, float rollDeg, float yawDeg);
    void carMotionReceived(float lonG, float latG, float vertG);
    void carAttitudeReceived(float pitchDeg, float rollDeg, float yawDeg);
    void errorOccurred(const QString &error);
    // Transmission was stopped on purpose, as the user's own change asks (another vehicle
    // chosen); `reason` says why. No error.
    void transmissionStopped(const QString &reason);
    void profileChanged(const QString &profileId);
    void transmitterAuthorizationChanged(bool authorized);
    // What the port has told of the transmitter changed; serialConnectedChanged tells its opening
    // and closing.
    void transmitterAnswerChanged();
    void autoStartEnabledChanged(bool enabled);
    void shifterDetectionStarted(int gearIndex);
    void shifterDetectionResult(int gearIndex, int buttonIndex, bool success);
    void shifterMappingChanged();
    void buttonDetectionStarted(const QString &deviceName);
    void buttonDetectionResult(int buttonIndex, bool success);
    void reverseModeChanged(bool active);
    void configModeChanged(bool active);
    void elrsWifiModeSent(bool receiver);
    void loungeStateChanged();
    void ledSettingsChanged();
    void ledConfigPushStarted();
    void ledConfigPushFinished(bool success, const QString &message);

private slots:
    void onTransmitTimer();
    void onMonitorTimer();
    void onSerialDataReceived(const QByteArray &data);
    void onSerialError(const QString &error);
    void onReceiverDataReceived(const QByteArray &data);
    void onReceiverError(const QString &error);
    void onWheelBaseDisconnected();
    void onPedalsDisconnected();
    void onShifterDisconnected();
    void onLinkStatisticsReceived(const corvane::LinkStatistics &stats);
    void onShifterDetectionPoll();
    void onShifterDetectionTimeout();
    void onButtonDetectionPoll();
    void onButtonDetectionTimeout();
    void onLedConfigTimer();
    void onAutoStartCheck();
    void onKeepaliveTimer();
    void onCrsfTelemetryFrame(quint8 type, const QByteArray &payload);
    void onFfbTick();

private:
    // Period of the transmit tick.
    static constexpr int TickMs = 7;

    // Construction and profile change (corvanecontroller.cpp).
    void onActiveProfileChanged(const QString &id);

    // Transmission control and lounge state (corvanecontroller_transmission.cpp).
    // Ends a run without holding auto-start back: a device lost, or one the allow-list rejects.
    void stopTransmissionWithoutHold();
    // A run ended by the user's own act (a device's Disconnect, the wheel base reopened) ends with
    // the user's stop; with none running there is nothing to hold back.
    void endRunForUser();
    // While running, a new response or ESC setup would jolt the car: stop for safety first.
    void stopIfResponseChanges(const AxisSettings &next);
    void onLoungeWatchdogTick();
    // Runs or ends the watchdog in memory.
    void armLoungeWatchdog(bool on, int timeoutMs);
    // At start-up: a station armed when it went down comes back stopped, as its watchdog ran out.
    void restoreLoungeArming();
    void onSettingsChangedOnDisk(const QStringList &keys);
    // After a stop ends: the throttle waits for the pedal to come up, soft start begins again.
    void rearmAfterStop();
    float pedalRole(int role) const;
    void resetMappingState();

    // Car and helicopter tick, channel mappings, button and gear detection
    // (corvanecontroller_tick.cpp).
    void runCarTick();
    void sendFrameIfStillRunning();
    bool carButtonPressed(int index) const;
    bool heliButtonPressed(int index) const;
    const HelicopterConfig &activeHelicopterConfig() const;
    float dualRateFactor(const HelicopterConfig &cfg) const;
    // Why arm at idle refuses to start transmission or arm the motor now; empty when it does not.
    QString heliIdleRefusal(bool starting) const;
    InputDevice *deviceForRole(const QString &role) const;
    int gearFromShifter() const;
    void storeShifterMapping();

    // Transmitter and receiver link (corvanecontroller_link.cpp).
    void onTransmitterConnectionChanged(bool connected);
    void onDeviceIdLine(const QString &line);
    void onTransmitterFrame();
    void askForDeviceId();
    // The transmitter's ID and authorisation count for nothing until it names itself again.
    void forgetTransmitterId();
    Q_SLOT void onDeviceIdRetry();
    void setTransmitterAnswer(TransmitterAnswer answer);
    // Why `line` cannot open `portName` now (it is still opening one, or `other` holds it), or empty.
    QString openRefusal(const QString &portName, const CorvaneSerialPort *line, const CorvaneSerialPort *other) const;
    Q_SLOT void tryReconnectTransmitter();
    void leaveConfigMode();

    // Telemetry frames, car link and sensors (corvanecontroller_telemetry.cpp).
    Q_SLOT void checkCarLink();
    void updateTelemetrySensors(quint8 type, const QByteArray &payload);

    // Device connections and controls presets (corvanecontroller_devices.cpp).
    enum class CarDevice { WheelBase, Pedals, Shifter };
    enum class HeliDevice { Joystick, Throttle, Pedals };
    bool openInputDevice(InputDevice *device, int index, const char *initFailure,
                         const char *openFailure);
    bool connectCarDevice(CarDevice which, int index);
    // Takes the stored gear table when it was made for the shifter in use (at start, on a
    // profile switch, on a connect); whether it did.
    bool takeStoredShifterMapping(const DeviceConnection &stored);
    bool connectHeliDevice(HeliDevice which, int index);
    void applyCustomAxisMapping(const QJsonObject &preset, const QString &key,
                                const QString &storedProductName, const QString &label,
                                QStringList &skipped,
                                void (CorvaneController::*setter)(const AxisMapping &));

    // Wheel force feedback and the receiver's motion state (corvanecontroller_ffb.cpp).
    void onReceiverFfbTimeout();
    void onTransmitterPortChangedForFfb(bool connected);
    void setReceiverFfbState(ReceiverFfbState state);
    void scheduleWheelFfbSave();
    // Writes a save still waiting in the debounce to the profile the values belong to.
    void savePendingWheelFfb();
    WheelFfbSettings currentWheelFfb() const;

    // Receiver LED strip push (corvanecontroller_led.cpp).
    Q_SLOT void onLedConfirmationTimeout();
    void onLedReplyLine(const QString &line);

    // Owned children, in the order they are created.
    ProfileManager *m_profiles = nullptr;
    DeviceSecurity *m_security = nullptr;
    CorvaneSerialPort *m_transmitterPort = nullptr;
    CorvaneSerialPort *m_receiverPort = nullptr;
    QByteArray m_transmitterLineBuffer;
    QByteArray m_receiverLineBuffer;
    InputDevice *m_wheelBase = nullptr;
    InputDevice *m_pedals = nullptr;
    InputDevice *m_shifter = nullptr;
    InputDevice *m_heliJoystick = nullptr;
    InputDevice *m_heliThrottle = nullptr;
    InputDevice *m_heliPedals = nullptr;
    CrsfProtocol *m_crsf = nullptr;
    MotionTelemetrySender *m_motionSender = nullptr;
    ElrsParameterManager *m_elrs = nullptr;
    SteeringMonitor *m_steeringMonitor = nullptr;
    ReceiverConfigManager *m_receiverConfig = nullptr;

    // Channel store and working copies of the active profile.
    std::array<qint32, ChannelCount> m_channels{};
    AxisSettings m_axisSettings;
    ButtonMappingSet m_buttonMappings;
    LedSettings m_ledSettings;
    bool m_autoStartEnabled = false;

    // Transmission control and lounge state.
    QTimer *m_transmitTimer = nullptr;
    bool m_running = false;
    bool m_stoppedByUser = false; // auto-start waits for the user's Start
    bool m_runningHelicopter = false; // the vehicle the transmission was started for
    quint32 m_frameCount = 0;
    LoungeSettings m_lounge;
    SettingsFile *m_settings = nullptr;
    QTimer *m_loungeWatchdogTimer = nullptr;
    QElapsedTimer m_loungeHeartbeat;

    // Car and helicopter tick, channel mappings, button and gear detection.
    ShifterMapping m_shifterMapping;
    int m_currentGear = 0;
    float m_smoothedThrottleOut = 992.0f;
    bool m_smoothedThrottleValid = false;
    bool m_softStartActive = false;
    qint32 m_softStartElapsedMs = 0;
    bool m_startThrottleCheckActive = false;
    qint32 m_startThrottleCheckTicks = 0;
    bool m_throttleHeldUntilReleased = false;
    bool m_throttleHoldAwaitsReport = false; // a connect's hold: the reading at open cannot end it
    float m_previousThrottle = 0.0f;
    bool m_reverseToggled = false;
    bool m_reverseButtonWasDown = false;
    bool m_ledPowerButtonWasDown = false;
    qint32 m_wheelRotationOverrideDeg = 0;
    bool m_heliArmed = false;
    int m_heliRateMode = 0;
    bool m_heliSoftStartActive = false;
    qint32 m_heliSoftStartElapsedMs = 0;
    // Glitch filter of roll, pitch, collective and yaw.
    std::array<float, 4> m_heliFilterLast{};
    std::array<qint32, 4> m_heliFilterHold{};
    bool m_heliFilterPrimed = false;
    bool m_leverHeldUntilDown = false; // a lever connected during a run drives nothing until reported down
    HeliOutput m_heliFrameOutput; // the primary controls of the last frame
    bool m_detectingButtons = false;
    QString m_detectionRole;
    QBitArray m_heldAtStart;
    QTimer *m_buttonPollTimer = nullptr;
    QTimer *m_buttonTimeoutTimer = nullptr;
    int m_gearBeingDetected = -1;
    QTimer *m_gearPollTimer = nullptr;
    QTimer *m_gearTimeoutTimer = nullptr;

    // Transmitter and receiver link.
    QTimer *m_keepaliveTimer = nullptr;
    QElapsedTimer m_keepaliveStopwatch;
    QTimer *m_reconnectTimer = nullptr;
    bool m_configMode = false;
    bool m_transmitterAuthorized = false;
    TransmitterAnswer m_transmitterAnswer = TransmitterWaiting;
    bool m_transmitterHeard = false; // a frame came since the port opened
    bool m_userDisconnected = false;
    QTimer *m_deviceIdTimer = nullptr;
    int m_deviceIdRetries = 0;
    int m_reconnectAttemptsLeft = 0;
    bool m_wifiSwitchInProgress = false;

    // Telemetry frames, car link and sensors.
    QTimer *m_monitorTimer = nullptr;
    QTimer *m_carLinkTimer = nullptr;
    QTimer *m_sensorSaveTimer = nullptr;
    std::array<float, 3> m_heliAttitude{};
    bool m_heliAttitudeValid = false;
    std::array<float, 3> m_motion{};
    QElapsedTimer m_motionStopwatch;
    int m_lastGForceSequence = -1;
    int m_motionFramesReceived = 0;
    int m_motionFramesLost = 0;
    QElapsedTimer m_motionStatsStopwatch;
    LinkStatistics m_linkStats;
    bool m_linkStatsValid = false;
    bool m_carLinked = false;
    QElapsedTimer m_carLinkStopwatch;
    GpsFix m_gpsFix;
    qint64 m_gpsFixTimeMs = -1;
    int m_gpsSatellites = 0;
    qint64 m_gpsPacketTimeMs = -1;
    QHash<quint8, int> m_telemetryPayloadLengths;
    int m_staleSensorCount = -1;
    QHash<QString, TelemetrySensor> m_sensors;
    QStringList m_sensorOrder;

    // Wheel force feedback and the receiver's motion state.
    QTimer *m_ffbTimer = nullptr;
    QTimer *m_receiverFfbWaitTimer = nullptr;
    ReceiverFfbState m_receiverFfbState = ReceiverFfbOff;
    float m_wheelFfbStrength = 0.35f;
    float m_wheelFfbCentering = 0.5f;
    float m_wheelNativeCentering = 1.0f;
    bool m_wheelFfbAutoEngage = false;
    bool m_wheelFfbEngaged = false;
    bool m_wheelFfbLoading = false;
    QTimer *m_wheelFfbSaveTimer = nullptr;
    QString m_wheelFfbProfileId;
    float m_motionRate = 0.0f;
    float m_motionLoss = 0.0f;
    float m_ffbLateral = 0.0f;
    float m_ffbLongitudinal = 0.0f;
    float m_ffbVertical = 0.0f;
    float m_ffbVerticalSlow = 0.0f;
    float m_ffbLastLevel = 0.0f;
    float m_ffbLastSentForce = 0.0f;
    int m_ffbTickCounter = 0;

    // Receiver LED strip push.
    QTimer *m_ledStepTimer = nullptr;
    QTimer *m_ledConfirmTimer = nullptr;
    int m_ledStepTicks = 0;
    bool m_ledPushActive = false;
    QMetaObject::Connection m_ledReplyConnection;
};

} // namespace corvane

Q_DECLARE_METATYPE(corvane::ReceiverFfbState)
