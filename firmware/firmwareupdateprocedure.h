#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace corvane {

class CorvaneController;

// Which firmware a run brings up to date.
enum FirmwareTarget : int {
    FirmwareReceiver = 0,
    FirmwareTransmitter = 1,
    FirmwareTransmitterSoftware = 2,
    FirmwareTransmitterSoftwareV2 = 3,
};

// The dialog's numbering; the handler reports the same states by name (stateName).
enum FirmwareUpdateState : int {
    FirmwareIdle = 0,
    FirmwareCheckingVersion = 1,
    FirmwareDownloadingVersion = 2,
    FirmwareDownloadingFirmware = 3,
    FirmwareEnteringDfu = 4,
    FirmwareWaitingForDrive = 5,
    FirmwareCopyingFirmware = 6,
    FirmwareWaitingForReboot = 7,
    FirmwareVerifyingVersion = 8,
    FirmwareSocCheckingVersion = 9,
    FirmwareSocDownloadingVersion = 10,
    FirmwareSocAutoUpdating = 11,
    FirmwareSocVerifyingVersion = 12,
    FirmwareOtaChecking = 13,
    FirmwareOtaInstalling = 14,
    FirmwareDone = 15,
    FirmwareError = 16,
};

// One report of a run, with both owners' columns: the dialog shows `text` in the line named by
// `line` and its bar at `progress`; the WebSocket handler pushes `message` with `stateName` and
// `handlerProgress`. For an error `text` is the bare error text (the dialog words it "Error: %1").
struct FirmwareReport
{
    enum Kind { Progress, Done, Error, Cancelled };
    enum Line { NoLine, StatusLine, DetailLine };

    Kind kind = Progress;
    QString text;
    Line line = NoLine;
    int progress = -1; // -1: the bar stays where it is
    QString message;
    QString stateName;
    int handlerProgress = 0;
};

// A question the owner answers with answerQuestion().
struct FirmwareQuestion
{
    enum Kind { UpdateOffered, RestartAfterInstall };

    Kind kind = UpdateOffered;
    QString title;
    QString text;
};

// One firmware run at a time: the UF2 update of the receiver or the transmitter (version check,
// download, boot loader, copy onto its drive, reconnect, verify) and the transmitter's
// system-software updates (auto and A/B). The firmware dialog and the WebSocket firmware handler
// each own one; they differ only in the options below and in how they show the reports.
// Everything runs on the GUI thread from a 500 ms poll timer, two single shots and the network.
class FirmwareUpdateProcedure : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        // Ask before installing (the dialog); the handler installs without asking.
        bool askBeforeUpdate = true;
        // Check the device's port in the first step; the handler checks it when the request arrives.
        bool checkPortAtStart = true;
        // Take version lines from both devices' ports whatever the target is (the handler).
        bool versionLinesFromBothDevices = false;
        // Act on "SOC_UPDATE_ERROR:" in any state (the dialog); otherwise only while it runs.
        bool socErrorInAnyState = true;
    };

    static constexpr int PollIntervalMs = 500;
    static constexpr int BootloaderWaitMs = 500;
    static constexpr int RebootSettleMs = 2000;
    static constexpr int Baud = 115200;
    // Where the published files lie unless the setting names another base address.
    static const char DefaultBaseUrl[];
    static const char BaseUrlSetting[];

    FirmwareUpdateProcedure(CorvaneController *controller, const Options &options, QObject *parent = nullptr);
    ~FirmwareUpdateProcedure() override;

    FirmwareTarget target() const { return m_target; }
    void setTarget(FirmwareTarget target) { m_target = target; }
    FirmwareUpdateState state() const { return m_state; }
    // A run is under way (not idle, done or in error).
    bool isRunning() const;
    QString currentVersion() const { return m_currentVersion; }
    QString publishedVersion() const { return m_publishedVersion; }
    void clearVersions();

    // The name that goes into texts: fixed English, translated by the dialog where it shows it.
    static QString deviceName(FirmwareTarget target);
    // The base address of the published files, from the setting, without a trailing "/".
    static QString baseUrl();
    static QString stateName(FirmwareUpdateState state);
    // Root path of the first mounted "RPI-RP2" volume (any letter case), or empty.
    static QString findBootloaderDrive();
    // `line` is `command` + ":" + a JSON object; the object goes to `reply`.
    static bool parseSocReply(const QString &line, const QString &command, QJsonObject *reply);
    // A non-empty run of 512-byte UF2 blocks, each with its three magic words.
    static bool isUf2Image(const QByteArray &bytes);

    // Starts a run for the current target: checkCurrentVersion, checkSocVersion or checkSocOtaUpdate.
    void start();
    // Starts a UF2 run for target 0 or 1.
    void checkCurrentVersion();
    // Starts the auto update of the system software (target 2).
    void checkSocVersion();
    // Starts the A/B update of the system software (target 3).
    void checkSocOtaUpdate();
    // The user's Cancel while an A/B update installs.
    void cancelSocOtaUpdate();
    // The owner's answer to the pending question.
    void answerQuestion(bool yes);

public slots:
    void onLineReceived(const QString &line);
    void onSocLineReceived(const QString &line);
    void onSocV2LineReceived(const QString &line);
    void onPollTimer();
    // The 500 ms after "DFU": closes the device's port and starts waiting for its drive.
    void onBootloaderWaitElapsed();
    // The 2000 ms after the device's port returned.
    void reconnectDevice();

signals:
    void report(const corvane::FirmwareReport &report);
    void questionAsked(const corvane::FirmwareQuestion &question);
    void stateChanged(corvane::FirmwareUpdateState state);

private:
    enum PendingQuestion { NoQuestion, AskUf2Update, AskSocUpdate, AskOtaUpdate, AskOtaRestart };

    void beginRun(FirmwareTarget target, FirmwareUpdateState state);
    void setState(FirmwareUpdateState state);
    void startPolling();
    void stopTimers();
    // A text in both wordings: the dialog's (translated) and the handler's (English, one line).
    struct Words
    {
        QString dialog;
        QString handler;
        Words arg(const QString &dialogArg, const QString &handlerArg) const;
        Words arg(const QString &both) const { return arg(both, both); }
    };
    static Words words(const char *source);
    static Words deviceText(const QString &text) { return { text, text }; }

    void emitReport(FirmwareReport::Kind kind, const Words &text, FirmwareReport::Line line, int progress,
                    FirmwareUpdateState handlerState, int handlerProgress);
    void progressReport(const Words &text, FirmwareReport::Line line, int progress,
                        FirmwareUpdateState handlerState, int handlerProgress);
    void showDone(const Words &text);
    void showError(const Words &text);
    void ask(PendingQuestion pending, const QString &title, const QString &text);

    bool devicePortOpen() const;
    QString devicePortName() const;
    void writeToDevice(const QByteArray &bytes);
    void closeDevicePort();
    bool openDevicePort(const QString &portName);
    // The port the controller holds for the other device, which a returning board never takes.
    QString otherDevicePortName() const;
    // The device's name in both wordings.
    Words deviceWords() const;

    // A published version file is a few bytes; anything longer is not one.
    static constexpr qint64 MaxVersionFileBytes = 64 * 1024;
    QNetworkReply *get(const QString &path, qint64 maxBytes);
    bool isCurrentReply(QNetworkReply *reply) const;
    // The body of a reply that succeeded within its size limit.
    static bool readBody(QNetworkReply *reply, QByteArray *body);
    void onVersionFileReceived(QNetworkReply *reply);
    void startFirmwareDownload();
    void onDownloadProgress(qint64 received, qint64 total);
    void onFirmwareDownloaded(QNetworkReply *reply);
    void enterBootloader();
    void pollForDrive();
    void copyFirmwareToDrive();
    void pollForReboot();
    void verifyAfterReboot();
    void acceptVersionLine(const QString &version);
    void onSocVersionFileReceived(QNetworkReply *reply);
    static Words comparisonWords(const QString &current, const QString &latest);
    // Compares the published version with the device's and offers it (asking the owner first
    // where it asks); the question names the road taken on Yes.
    void offerPublishedVersion(PendingQuestion question);
    void installPublishedVersion(PendingQuestion question);
    void startSocAutoUpdate();
    void pollSoc();
    void onOtaCheckReply(const QJsonObject &reply);
    void onOtaStartReply(const QJsonObject &reply);
    void onOtaStatusReply(const QJsonObject &reply);
    void startOtaInstall();

    CorvaneController *m_controller;
    const Options m_options;
    FirmwareTarget m_target = FirmwareReceiver;
    FirmwareUpdateState m_state = FirmwareIdle;
    QNetworkAccessManager *m_network;
    QTemporaryDir m_tempDir;
    QTimer *m_pollTimer;
    QTimer *m_bootloaderWaitTimer;
    QTimer *m_rebootTimer;

    // The run record.
    int m_tickCounter = 0;
    QString m_currentVersion;
    QString m_publishedVersion;
    QString m_firmwarePath;
    QString m_portName;
    quint16 m_vendorId = 0;
    quint16 m_productId = 0;

    QString m_baseUrl;
    // Counts runs, so a network reply of an earlier run is dropped.
    quint64 m_run = 0;
    bool m_reconnecting = false;
    PendingQuestion m_pending = NoQuestion;
    // The value the dialog's bar shows, which a system-software progress line raises.
    int m_dialogProgress = 0;
};

} // namespace corvane

Q_DECLARE_METATYPE(corvane::FirmwareReport)
Q_DECLARE_METATYPE(corvane::FirmwareQuestion)
