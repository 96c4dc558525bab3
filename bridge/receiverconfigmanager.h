#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include "profiles/receiversettings.h"

class QTimer;
struct Profile;

namespace corvane {

class CorvaneController;
class ReceiverElrsLink;

// Keeps the maker's receiver in step with the receiver settings of the active profile, switches
// its mode and runs gyro calibration and mounting detection. Over the receiver's USB line while
// that port is open (text commands, paced one every 120 ms), otherwise over the air through its
// ReceiverElrsLink. The USB command side lives in receiverconfigmanager.cpp, the reading side and
// the gates in receiverconfigmanager_replies.cpp, the over-the-air side in
// receiverconfigmanager_elrs.cpp.
class ReceiverConfigManager : public QObject
{
    Q_OBJECT

public:
    enum GyroCalState : int { GyroCalIdle = 0, GyroCalRunning = 1, GyroCalDone = 2, GyroCalFailed = 3 };
    enum MountingState : int {
        MountingIdle = 0,
        MountingRunning = 1,
        MountingNeedNoseUp = 2,
        MountingDone = 3,
        MountingFailed = 4,
    };
    enum ModeChangeState : int { ModeChangeIdle = 0, ModeChangeRunning = 1, ModeChangeDone = 2, ModeChangeFailed = 3 };
    enum ElrsSyncState : int { ElrsSyncNone = 0, ElrsSyncReading = 1, ElrsSyncWriting = 2, ElrsSynced = 3 };

    static constexpr int CommandPacingMs = 120;
    static constexpr int ReplyTimeoutMs = 3000;
    static constexpr int ProbeDelayMs = 300;
    static constexpr int GpsRefreshMs = 8000;
    static constexpr int GyroCalTimeoutMs = 15000;
    static constexpr int UsbGyroCalMs = 2500;
    static constexpr int MountingTimeoutMs = 6000;
    static constexpr int ModeRestartWaitMs = 3000;
    static constexpr int ModeChangeTimeoutMs = 8000;
    static constexpr int BasicPushDelayMs = 1500;
    // The longest command line a client may send: the program's own lines are at most 25
    // characters ("SET_HUD_SPEED 150 100 200"); this leaves room for a typed argument.
    static constexpr int MaxCommandChars = 64;
    // Commands waiting for their turn beyond which a client's command is refused: about four
    // seconds of pacing, well above the program's own bursts (a probe, a settings push and its
    // read-back).
    static constexpr int MaxQueuedCommands = 32;

    explicit ReceiverConfigManager(CorvaneController *controller);
    ~ReceiverConfigManager() override;

    ReceiverElrsLink *elrsLink() const { return m_elrsLink; }

    ReceiverSettings settings() const;
    void setSettings(ReceiverSettings s);
    ReceiverCaps caps() const;
    bool sendCommand(const QString &text);
    bool isCommandQueueFull() const { return m_commandQueue.size() >= MaxQueuedCommands; }
    void resync();
    bool setMode(const QString &mode);
    bool startGyroCalibration();
    bool startMountingStep(int step);
    void retryElrs();
    bool isUsbConnected() const;
    bool motionSensorsSetting() const;
    // The GPS and motion rates the receiver offers.
    static bool isGpsRate(int hz);
    static bool isMotionRate(int hz);

    // Reading side, gates and texts (receiverconfigmanager_replies.cpp).
    static QString filterConsoleLine(const QString &line);
    void adoptReportedSettings();
    QString receiverMode() const;
    QString modeHintText() const;
    bool canChangeMode() const;
    bool canCalibrateGyro() const;
    bool canDetectMounting() const;
    bool supportsSetting(const QString &name) const;
    bool isBasicCarReceiver() const;
    bool isReachableOverElrs() const;
    bool isSynced() const;
    bool isSyncing() const;
    QString statusText() const;
    QString summaryText() const;
    QString connectionStatusText() const;
    QString gpsStatusText() const;
    int elrsStopReason() const;

    int gyroCalState() const { return m_gyroCalState; }
    QString gyroCalText() const { return m_gyroCalText; }
    int mountingState() const { return m_mountingState; }
    QString mountingText() const { return m_mountingText; }
    int modeChangeState() const { return m_modeChangeState; }
    QString modeChangeText() const { return m_modeChangeText; }
    QString imuAxesText() const { return m_imuAxesText; }

    // Over the air (receiverconfigmanager_elrs.cpp).
    void onCarTelemetry(quint8 frameType);
    void applySettingsOverElrs();
    ReceiverSettings settingsFromElrs() const;
    void pushBasicReceiverSetting();
    static QString formatImuAxes(const QString &text);
    static int elrsRetryIntervalMs(const ReceiverCaps &caps);

signals:
    void gyroCalChanged();
    void mountingChanged();
    void settingsChanged();
    void capsChanged();
    void stateChanged();
    void consoleLine(const QString &line);

public slots:
    void onReceiverLine(const QString &line);

private slots:
    void sendNextCommand();
    void onReplyTimeout();
    void onReceiverConnectedChanged(bool connected);
    void onActiveProfileChanged(const QString &id);
    void probeReceiver();
    void onMountingTimeout();
    void onGyroCalTimeout();
    void onUsbGyroCalDone();
    void onModeRestartCheck();
    void onModeChangeTimeout();
    void onElrsStateChanged();
    void onElrsIdle();
    void onElrsValueChanged(quint8 param);
    void onElrsDirectWriteDone(quint8 param, bool ok, int value);
    void onCalibrationLinkCheck();
    void onGpsRefreshTimer();
    void onCarLinkChanged(bool linked);

private:
    // Receiver fields over the air.
    static constexpr quint8 OsdField = 1;
    static constexpr quint8 GpsOnField = 3;
    static constexpr quint8 GpsRateField = 4;
    static constexpr quint8 GpsStatusField = 5;
    static constexpr quint8 LegacyModeField = 6;
    static constexpr quint8 GpsTelemField = 7;
    static constexpr quint8 ImuTelemField = 8;
    static constexpr quint8 MotionTelemField = 9;
    static constexpr quint8 MotionRateField = 10;
    static constexpr quint8 ImuAxesField = 12;
    static constexpr quint8 GyroCalField = 13;
    static constexpr quint8 MotionSensorsField = 15;
    static constexpr quint8 MountLevelField = 16;
    static constexpr quint8 MountNoseUpField = 17;
    static constexpr quint8 ModeField = 21;
    static constexpr int MountingMinParameters = 17;
    static constexpr int ModeMinParameters = 21;
    static constexpr int HudMinParameters = 20;
    static constexpr int MotionSensorsMinParameters = 15;
    static constexpr int Qor1HudMinParameters = 5;
    // Values written to a command field.
    static constexpr quint8 CommandStart = 1;
    static constexpr quint8 CommandConfirm = 4;
    static constexpr quint8 CommandCancel = 5;
    static constexpr quint8 CommandPoll = 6;

    // Every field but initialized.
    static bool sameValues(const ReceiverSettings &a, const ReceiverSettings &b);

    const Profile *profile() const;
    bool isCarProfile() const;
    void enqueueCommand(const QString &text);
    void clearCommandQueue();
    void startUsbCycle();
    void syncAfterProbe();
    void applySettings();
    // Stores a record that differs from the profile's, saves and announces it.
    void storeSettings(const ReceiverSettings &s);
    void setCaps(const ReceiverCaps &c);
    bool hasReportedKey(const char *key) const;
    void setModeChange(int state, const QString &text);
    void finishMounting(int state, const QString &text);
    void onGyroCalReply();
    void onMountingReply(int step, bool ok, const QString &text);
    static QString mountingFailureText(const QString &reason);
    bool directModeWrite();

    CorvaneController *m_controller = nullptr;
    QStringList m_commandQueue;
    QTimer *m_pacingTimer = nullptr;
    QTimer *m_replyTimer = nullptr;
    bool m_probing = false;
    bool m_settingsSent = false;
    bool m_applied = false;
    bool m_telemReplySeen = false;
    bool m_osdReplySeen = false;
    bool m_versionSeen = false;
    ReceiverSettings m_reported;
    QSet<QString> m_reportedKeys;
    QString m_imuAxesText;
    QString m_usbFirmware;
    bool m_noReply = false;
    int m_pushCount = 0;
    ReceiverElrsLink *m_elrsLink = nullptr;
    QTimer *m_gpsRefreshTimer = nullptr;
    int m_gyroCalState = GyroCalIdle;
    QString m_gyroCalText;
    QTimer *m_gyroCalTimer = nullptr;
    int m_mountingState = MountingIdle;
    QString m_mountingText;
    int m_mountingStep = -1;
    QTimer *m_mountingTimer = nullptr;
    int m_usbReceiverType = 0;
    int m_legacyReceiverType = -1;
    QString m_modeTarget;
    bool m_awaitingTypeAfterRestart = false;
    bool m_modeDirectWriteInFlight = false;
    QList<quint8> m_pendingModeFields;
    int m_modeChangeState = ModeChangeIdle;
    QString m_modeChangeText;
    QTimer *m_modeChangeTimer = nullptr;
    int m_elrsSyncState = ElrsSyncNone;
    bool m_basicWritePending = false;
    bool m_osdUnanswered = false;
    bool m_hudUnanswered = false;
    int m_elrsPushCount = 0;
};

} // namespace corvane
