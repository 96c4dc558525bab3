#pragma once

#include "motion/motionsystemsettings.h"

#include <QByteArray>
#include <QChar>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <array>

class QTimer;

namespace corvane {

struct SerialPortEntry;
class SettingsFile;

// One step of the full system test: a controller-side sine test on one or all actuators, or a
// host-driven DOF test streamed from here.
struct MotionFullTestStage
{
    bool hostDriven = false;
    int dof = 4;
    int axis = -1; // -1 = all actuators
    int travelPct = 0;
    int hzX100 = 0;
    int seconds = 0;
};

// The serial link to the motion platform's controller board: finds and opens its port, watches
// its heartbeats, pushes the platform settings and runs every motion test.
class MotionSystemController : public QObject
{
    Q_OBJECT
public:
    enum Dof : int { Surge = 0, Yaw = 1, Pitch = 2, Roll = 3, Heave = 4 };
    Q_ENUM(Dof)

    static constexpr quint16 ParkPosition = 0x7FFF;
    static constexpr int ReceiveBufferLimit = 4096;
    static constexpr int FirstHeartbeatMs = 3500;
    static constexpr int HeartbeatTimeoutMs = 5000;
    static constexpr int TestTickMs = 20;
    static constexpr int StagePauseMs = 800;
    static constexpr int MapResendMs = 1500;

    explicit MotionSystemController(QObject *parent = nullptr);
    ~MotionSystemController() override;

    static QString dofName(int dof);
    static QString channelName(int channel, int platformKind);
    static int actuatorCount(int platformKind);
    // A serial port list's entry for `port`; the controller board's ports are named as such.
    static QString portText(const SerialPortEntry &port);

    // False when the port would not open; linkProblem says why.
    bool connectPort(const QString &portName);
    void disconnectPort();

    void loadSettings();
    // Hands the settings named by `keys` to the store's writer and returns the write's number,
    // which comes back with settingsWritten. A write that fails (a full disk) leaves the settings
    // in use, and settingsStored() false until a later one succeeds.
    quint64 saveSettings(const QStringList &keys);
    bool settingsStored() const { return m_settingsStored; }
    // Uses the settings and sends them to the board; stores the `keys` the user or the phone set,
    // and those the limits changed.
    quint64 applySettings(const MotionSystemSettings &settings, const QStringList &keys);

    bool moveAxis(int axis, int mm);
    void home();
    void release();
    void requestCalibration();

    bool startBoardTest(int axis, int travelPct, int hzX100, int seconds);
    bool startDofTest(int dof, int travelPct, int hzX100, int seconds);
    bool startHostTest(int dof, int travelPct, int hzX100, int seconds);
    bool startFullSystemTest(int minutes);
    bool vibrate(int axis, int amplitude, int hz, int seconds);
    bool isBusy() const;

    QString state() const { return m_state; }
    bool isConnected() const;
    MotionSystemSettings settings() const { return m_settings; }
    bool isMapConfirmed() const { return m_mapConfirmed; }
    QChar sleepFlag() const { return m_sleepFlag; }
    bool hasLivePositions() const { return m_livePositions; }
    QMap<int, int> axisPositions() const { return m_positions; }
    int platformDof() const { return m_platformKind; }
    void setPlatformDof(int dof);

    // Host frames: 'P', the command letter and its payload, "!!". Dropped while the port is closed.
    void sendFrame(const QByteArray &payload);
    void sendActuatorMap();
    void sendPositions(const std::array<quint16, 6> &positions);
    void sendBoardTest(int axis, int travelPct, int hzX100, int seconds);
    void parseLine(const QString &line);

signals:
    void connectedChanged(bool connected);
    void controllerStateChanged(const QString &state);
    void heartbeat(const QString &line);
    void axisPositionsUpdated(const QMap<int, int> &mmByAxis);
    void statusLine(const QString &line);
    void settingsEchoed(const corvane::MotionSystemSettings &s);
    void settingsApplied(const corvane::MotionSystemSettings &s);
    void mapConfirmedChanged(bool confirmed);
    void sleepFlagChanged(QChar flag);
    void testStarted(int dof, int forcePct);
    void testFinished();
    void errorOccurred(const QString &message);
    // Why the link is not up: the port would not open, no controller answers on it, its
    // heartbeats stopped or the port went away. errorOccurred reports it too.
    void linkProblem(const QString &reason);
    // The settings written up to `ticket` are on disk, or (not `ok`) they could not be written.
    void settingsWritten(quint64 ticket, bool ok);

public slots:
    void onReadyRead();
    void onTestTick();
    void runFullTestStage();

protected:
    // Milliseconds since the full system test started.
    virtual qint64 fullTestElapsedMs() const { return m_fullTestClock.elapsed(); }

private slots:
    void onFirstHeartbeatTimeout();
    void onHeartbeatTimeout();
    void onBoardTestTimeout();
    void onMapResendTimeout();
    void onPortError(QSerialPort::SerialPortError error);

private:
    bool passesTestGate(bool hostTest);
    void parseHeartbeat(const QString &line);
    void parsePositions(const QString &line);
    void parseSettingsEcho(const QString &line);
    void sendSettings();
    void parseMapEcho(const QString &line);
    void runFirstHeartbeatActions();
    void reportLinkProblem(const QString &reason);
    void finishControllerTest(const QString &status);
    // Ends a full system test and its running host-driven stage, without a signal.
    void stopFullTest();
    void startHostTicking(int dof, int travelPct, double hz, int durationMs);
    void closeForLostPort();

    QSerialPort *m_port = nullptr;
    QByteArray m_rxBuffer;
    QString m_state;
    MotionSystemSettings m_settings;
    SettingsFile *m_store = nullptr;
    bool m_settingsStored = true;
    bool m_mapConfirmed = false;
    QChar m_sleepFlag = QLatin1Char('?');
    bool m_livePositions = false;
    bool m_waitingFirstHeartbeat = false;
    QTimer *m_firstHeartbeatTimer = nullptr;
    QTimer *m_heartbeatWatchdog = nullptr;
    QTimer *m_testTick = nullptr;
    QTimer *m_boardTestWatchdog = nullptr;
    QTimer *m_stageTimer = nullptr;
    int m_testDof = Pitch;
    int m_testTravelPct = 30;
    double m_testHz = 0.5;
    int m_testDurationMs = 5000;
    int m_testElapsedMs = 0;
    int m_platformKind = 5;
    QMap<int, int> m_positions;
    bool m_boardTestRunning = false;
    bool m_hostStageRunning = false;
    bool m_fullTestRunning = false;
    QList<MotionFullTestStage> m_stageQueue;
    QElapsedTimer m_fullTestClock;
    int m_fullTestLengthMs = 0;
    // Set between a lost device's first error and its deferred close, so the close happens once.
    bool m_losingPort = false;
};

} // namespace corvane
